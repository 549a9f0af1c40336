#include <cstdio>

int main(int argc, char** argv) {
  std::fprintf(stderr, "usage: wexo -url <root URL> [-export file] [-map file] [-level n]\n");
  return 2;
}
