#include "platform/FileUrl.h"

#include <cstdint>

#include "platform/AsciiText.h"
#include "platform/Url.h"

namespace platform {

std::string EscapeFilePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x21 || b == 0x7F || c == '%' || c == '#' || c == '?' || c == '\\') {
      AppendPercentEscape(out, b);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string FileUrlFromPath(std::string_view path) { return "file://" + EscapeFilePath(path); }

std::string DecodeFileObject(std::string_view object) {
  std::string out;
  out.reserve(object.size());
  for (size_t i = 0; i < object.size(); ++i) {
    char c = object[i];
    if (c == '\\') {
      out.push_back('/');
    } else if (c == '%' && i + 2 < object.size() && AsciiHexValue(object[i + 1]) >= 0 &&
               AsciiHexValue(object[i + 2]) >= 0) {
      out.push_back(static_cast<char>(AsciiHexValue(object[i + 1]) * 16 + AsciiHexValue(object[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  size_t first = out.find_first_not_of('/');
  if (first == std::string::npos) return "/";
  if (first != 1) out = "/" + out.substr(first);
  return RemoveDotSegments(out);
}

bool PathFromFileUrl(std::string_view url, std::string& path) {
  unsigned service;
  std::string server, object, user, password;
  std::uint16_t port;
  if (!AfxParseURLEx(url, service, server, object, port, user, password) || service != AFX_INET_SERVICE_FILE)
    return false;
  path = DecodeFileObject(object);
  return true;
}

}  // namespace platform
