#include "engine/SimilarRecords.h"
#include "platform/AsciiText.h"

std::string HostPrefixOf(std::string_view url) {
  std::string prefix;
  HostPrefixOf(url, prefix);
  return prefix;
}

void HostPrefixOf(std::string_view url, std::string& prefix) {
  prefix.clear();
  struct Scheme {
    std::string_view name;
    std::string_view defaultPort;
  };
  static constexpr Scheme schemes[] = {{"http://", "80"}, {"https://", "443"}, {"ftp://", "21"}, {"file://", ""}};
  for (const Scheme& s : schemes) {
    if (!platform::AsciiStartsWithNoCase(url, s.name)) continue;
    std::string_view rest = url.substr(s.name.size());
    std::size_t end = 0;
    while (end < rest.size() && rest[end] != '/' && rest[end] != '?' && rest[end] != '#') ++end;
    std::string_view authority = rest.substr(0, end);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority = authority.substr(at + 1);
    std::string_view host = authority, port;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
    if (host.empty() && s.defaultPort.size()) return;
    prefix = s.name;
    prefix += host;
    if (!port.empty() && port != s.defaultPort) {
      prefix += ':';
      prefix += port;
    }
    prefix += '/';
    return;
  }
}

std::string_view LiteralHostPrefix(std::string_view url) {
  std::size_t start;
  if (url.starts_with("http://"))
    start = 7;
  else if (url.starts_with("https://"))
    start = 8;
  else if (url.starts_with("ftp://"))
    start = 6;
  else
    return {};
  std::size_t end = start;
  while (end < url.size()) {
    const char c = url[end];
    if (c == '/') break;
    if (c == '?' || c == '#' || c == '@' || c == ':' || c == '[' || c == ']') return {};
    ++end;
  }
  if (end == start || end == url.size()) return {};
  return url.substr(0, end + 1);
}
