// INI files with the semantics of the Windows private-profile functions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A settings file larger than this is not read: its readers see the defaults, as for a file
// that cannot be read, and writes to it fail and leave it as it is. A UTF-8 byte-order mark
// at the start of a file is no part of its first line, and writes keep it.
inline constexpr std::size_t kMaxSettingsFileSize = 4u << 20;

// Integer value of [section] key: a leading signed decimal ("12x" is 12), 0 for text
// without digits, def when the key is missing.
int GetPrivateProfileInt(const char* section, const char* key, int def, const std::string& path);

// String value of [section] key, cut to 4095 bytes, one pair of enclosing quotes dropped;
// def (nullptr reads as "", trailing blanks stripped) when the key is missing. As on Windows,
// a null key gives the section's key names and a null section the section names, each
// followed by a NUL. Reads are cheap: the parsed file is kept until it changes on disk.
std::string GetPrivateProfileString(const char* section, const char* key, const char* def, const std::string& path);

// Writes [section] key=value. A null value deletes the key, a null key the section.
// Returns false when the file could not be written. A missing file (and its folder) is
// created; writers in all threads and processes are serialised and never lose each other's
// keys.
bool WritePrivateProfileString(const char* section, const char* key, const char* value, const std::string& path);

// Reads look at the file again (size, times, inode) at most this often; writes of this
// process are seen at once. Tests of changes made behind the cache's back set 0.
void SetProfileRecheckInterval(std::chrono::milliseconds interval);
std::chrono::milliseconds ProfileRecheckInterval();

// A number that moves whenever a settings file may have changed (a write of this process, or
// a re-read after a change): callers that keep values read from the file compare it, and look
// again at least every ProfileRecheckInterval().
std::uint64_t ProfileGeneration();

// The settings file: $WEXO_INI, else <program>.ini beside the executable when it exists,
// else $XDG_CONFIG_HOME/wexo/wexo.ini (~/.config/wexo/wexo.ini).
std::string DefaultIniPath();

// The program's one settings file: DefaultIniPath() when the process first asks, until
// SetSettingsFile names another (tests give each case a file of its own). Read on the
// user-interface thread and by code it calls; set before workers start.
const std::string& SettingsFile();
void SetSettingsFile(std::string path);

// state.ini beside the settings file (binary values, hex-encoded).
std::string StateIniPath(const std::string& iniPath);

}  // namespace platform
