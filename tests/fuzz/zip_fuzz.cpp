// The zip reader over a fuzzed archive: every entry it lists holds the fields its lengths
// say, and nothing is listed past the count.
#include "engine/ZipFile.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::PathOf("archive.jar");
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  CZipFile zip(path);
  const int opened = zip.Open();
  FUZZ_CHECK(opened >= 0 && opened <= 2);
  if (opened != 0) FUZZ_CHECK(zip.GetCount() == 0);
  for (int i = 0; i < zip.GetCount(); ++i) {
    const ZipEntry* entry = zip.GetEntry(i);
    FUZZ_CHECK(entry);
    FUZZ_CHECK(entry->name.size() == entry->nameLength && entry->hasName == (entry->nameLength > 0));
    FUZZ_CHECK(entry->extra.size() == entry->extraLength && entry->hasExtra == (entry->extraLength > 0));
    FUZZ_CHECK(entry->comment.size() == entry->commentLength && entry->hasComment == (entry->commentLength > 0));
  }
  FUZZ_CHECK(!zip.GetEntry(zip.GetCount()) && !zip.GetEntry(-1));
  return 0;
}
