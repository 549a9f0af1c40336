// The FTP listing parser over a fuzzed listing, as MLSD facts and as LIST lines: a whole
// listing gives what its lines give one by one, and every name is a real one.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/FtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const bool mlsd : {false, true}) {
    const std::vector<platform::FtpListEntry> entries = platform::ParseFtpListing(text, mlsd);
    std::size_t next = 0;
    fuzz::Input lines(data, size);
    while (!lines.Empty()) {
      std::string_view line = lines.Piece('\n');
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      platform::FtpListEntry entry;
      if (!(mlsd ? platform::ParseMlsdLine(line, entry) : platform::ParseListLine(line, entry))) continue;
      FUZZ_CHECK(next < entries.size());
      const platform::FtpListEntry& listed = entries[next++];
      FUZZ_CHECK(listed.name == entry.name && listed.folder == entry.folder && listed.size == entry.size &&
                 listed.sizeKnown == entry.sizeKnown);
      FUZZ_CHECK(!entry.name.empty() && entry.name != "." && entry.name != "..");
    }
    FUZZ_CHECK(next == entries.size());
  }
  return 0;
}
