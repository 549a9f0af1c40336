// A real documentation tree served by nginx on loopback, crawled in batch mode and compared
// with what wget's recursive spider finds on the same site.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"

namespace {

constexpr const char* kDocs = "/usr/share/doc/postgresql-doc-15/html";

using wexo_test::ReadAll;
using wexo_test::Shell;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Without its fragment: wget asks for pages, not places in them.
std::string WithoutFragment(const std::string& url) { return url.substr(0, url.find('#')); }

class RealSite : public ::testing::Test {
 protected:
  RealSite() {
    dir = std::filesystem::temp_directory_path() / ("wexo-realsite-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~RealSite() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(RealSite, PostgresDocsMatchWget) {
  ASSERT_TRUE(std::filesystem::exists(std::string(kDocs) + "/index.html")) << "postgresql-doc-15 is not installed";
  wexo_test::PeerProcess nginx;
  std::string error;
  ASSERT_TRUE(
      nginx.Start({"/usr/bin/python3", wexo_test::PeerScript("nginx_peer.py"), "--root", kDocs, "--lifetime", "600"},
                  std::chrono::seconds(20), &error))
      << error;
  const std::string root = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/";

  auto start = std::chrono::steady_clock::now();
  const int rc = wexo_test::RunWexo(dir, dir, "-url " + root + "index.html -export links.txt");
  const double wexoSeconds = Seconds(start);
  ASSERT_EQ(rc, 0) << ReadAll(dir / "err.log");

  start = std::chrono::steady_clock::now();
  Shell("cd '" + dir.string() + "' && timeout 600 wget --spider -r -l inf -nd -e robots=off -o wget.log " + root +
        "index.html");
  const double wgetSeconds = Seconds(start);

  // Internal URLs of each tool.
  std::set<std::string> wexoUrls, wexoBroken;
  std::istringstream links(ReadAll(dir / "links.txt"));
  std::string line;
  std::getline(links, line);
  while (std::getline(links, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string url = line.substr(0, line.find('\t'));
    const std::string rest = line.substr(line.find('\t') + 1);
    const int status = std::atoi(rest.c_str());
    if (!url.starts_with(root)) continue;
    wexoUrls.insert(WithoutFragment(url));
    if (status > 0 && status != 200) wexoBroken.insert(WithoutFragment(url));
  }
  std::set<std::string> wgetUrls;
  std::istringstream log(ReadAll(dir / "wget.log"));
  while (std::getline(log, line)) {
    // "--2026-12-10 10:00:00--  http://127.0.0.1:port/x.html"
    const std::size_t at = line.find("--  ");
    if (!line.starts_with("--") || at == std::string::npos) continue;
    const std::string url = line.substr(at + 4);
    if (url.starts_with(root)) wgetUrls.insert(WithoutFragment(url));
  }
  // wget starts from the page it was given and never lists the bare root unless linked.
  std::vector<std::string> onlyWexo, onlyWget;
  for (const auto& u : wexoUrls)
    if (!wgetUrls.count(u)) onlyWexo.push_back(u);
  for (const auto& u : wgetUrls)
    if (!wexoUrls.count(u)) onlyWget.push_back(u);
  std::printf("postgresql-doc-15: wexo %zu internal URLs (%zu broken) in %.2f s; wget %zu URLs in %.2f s\n",
              wexoUrls.size(), wexoBroken.size(), wexoSeconds, wgetUrls.size(), wgetSeconds);
  for (const auto& u : onlyWexo) std::printf("  only wexo: %s\n", u.c_str());
  for (const auto& u : onlyWget) std::printf("  only wget: %s\n", u.c_str());
  EXPECT_GT(wexoUrls.size(), 1000u);
  EXPECT_TRUE(onlyWexo.empty());
  EXPECT_TRUE(onlyWget.empty());
}

}  // namespace
