// Local paths and their file URLs. A file URL is "file://" + the absolute path, UTF-8
// throughout; these helpers are the only place that turns one into the other.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The path with '%', '#', '?', '\', bytes below 0x21 and 0x7F written as escapes, so that
// decoding the URL once gives the path back exactly. Other bytes (UTF-8 included) stay.
std::string EscapeFilePath(std::string_view path);

// "file://" + the escaped path: "/home/u/a b.html" gives "file:///home/u/a%20b.html".
std::string FileUrlFromPath(std::string_view path);

// A file URL's object as the split gives it, made the local path: every '\' becomes '/',
// escapes are decoded once, repeated leading slashes become one, and '.' and '..' segments
// are removed (except '..' above the root).
std::string DecodeFileObject(std::string_view object);

// The local path that a file URL names ("file:/x", "file:///x", "file://localhost/x").
// False when the text is not a local file URL.
bool PathFromFileUrl(std::string_view url, std::string& path);

}  // namespace platform
