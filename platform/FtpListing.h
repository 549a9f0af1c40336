// The lines of an FTP folder listing: MLSD facts (RFC 3659), or the LIST lines that Unix and
// DOS-style servers write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct FtpListEntry {
  std::string name;
  bool folder = false;
  bool sizeKnown = false;
  std::uint64_t size = 0;
};

// One line (its line end already cut). False for lines that name no entry: "total 12", the
// folder itself and its parent (MLSD "cdir"/"pdir", "." and ".."), and lines of no known
// form. A Unix symbolic link is named without its " -> target" and counts as a file.
bool ParseMlsdLine(std::string_view line, FtpListEntry& entry);
bool ParseListLine(std::string_view line, FtpListEntry& entry);

// Every entry of a whole listing, lines ended by LF or CR LF, in the server's order.
std::vector<FtpListEntry> ParseFtpListing(std::string_view text, bool mlsd);

}  // namespace platform
