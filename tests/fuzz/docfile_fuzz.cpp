// The document-file reader over a fuzzed file: a file that opens is saved, and the saved file
// opens again and saves to the same bytes.
#include "engine/DocumentFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Archive.h"

namespace {

std::string Read(const std::string& path) {
  std::string data, error;
  FUZZ_CHECK(platform::ReadWholeFile(path, data, error));
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Engine engine;
  static const std::string input = fuzz::PathOf("input.wxo"), first = fuzz::PathOf("first.wxo"),
                           second = fuzz::PathOf("second.wxo");
  fuzz::WriteFile(input, std::string_view(reinterpret_cast<const char*>(data), size));
  std::string error;
  auto doc = engine.NewDoc();
  if (!OpenDocumentFile(*doc, input, error)) return 0;
  FUZZ_CHECK(SaveDocumentFile(*doc, first, error));

  auto again = engine.NewDoc();
  FUZZ_CHECK(OpenDocumentFile(*again, first, error));
  FUZZ_CHECK(SaveDocumentFile(*again, second, error));
  FUZZ_CHECK(Read(first) == Read(second));
  return 0;
}
