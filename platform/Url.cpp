#include "platform/Url.h"
#include "platform/AsciiText.h"

#include <array>
#include <cstring>
#include <vector>

namespace platform {
namespace {

bool IsBlankOrControl(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return b <= 0x20 || b == 0x7F;
}

struct SchemeInfo {
  const char* name;
  unsigned service;
  std::uint16_t defaultPort;
  bool needsHost;
};

constexpr SchemeInfo kSchemes[] = {
    {"http", AFX_INET_SERVICE_HTTP, 80, true},
    {"https", AFX_INET_SERVICE_HTTPS, 443, true},
    {"ftp", AFX_INET_SERVICE_FTP, 21, true},
    {"gopher", AFX_INET_SERVICE_GOPHER, 70, true},
    {"file", AFX_INET_SERVICE_FILE, 0, false},
    {"mailto", AFX_INET_SERVICE_MAILTO, 0, false},
    {"mid", AFX_INET_SERVICE_MID, 0, false},
    {"cid", AFX_INET_SERVICE_CID, 0, false},
    {"news", AFX_INET_SERVICE_NEWS, 119, false},
    {"nntp", AFX_INET_SERVICE_NNTP, 119, false},
    {"prospero", AFX_INET_SERVICE_PROSPERO, 1525, false},
    {"telnet", AFX_INET_SERVICE_TELNET, 23, false},
    {"wais", AFX_INET_SERVICE_WAIS, 210, false},
    {"afs", AFX_INET_SERVICE_AFS, 0, false},
};

const SchemeInfo* FindScheme(std::string_view scheme) {
  for (const SchemeInfo& s : kSchemes)
    if (AsciiEqualNoCase(scheme, s.name)) return &s;
  return nullptr;
}

// A decimal port of at most 65535 (leading zeros allowed); false for anything else.
bool ParsePort(std::string_view text, std::uint16_t& port) {
  if (text.empty()) return false;
  for (char c : text)
    if (!IsAsciiDigit(c)) return false;
  size_t first = text.find_first_not_of('0');
  text = first == std::string_view::npos ? std::string_view() : text.substr(first);
  if (text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) value = value * 10 + static_cast<unsigned>(c - '0');
  if (value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// Splits "[user[:password]@]host[:port]". False when a bracketed host is not closed or the
// port is not a number of at most 65535 (an empty port leaves the default).
bool SplitAuthority(std::string_view auth, std::string& user, std::string& password, std::string& host,
                    std::uint16_t& port) {
  size_t at = auth.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view info = auth.substr(0, at);
    size_t colon = info.find(':');
    user.assign(info.substr(0, colon));
    if (colon != std::string_view::npos) password.assign(info.substr(colon + 1));
    auth.remove_prefix(at + 1);
  }
  std::string_view portText;
  bool hasPort = false;
  if (!auth.empty() && auth.front() == '[') {
    size_t close = auth.find(']');
    if (close == std::string_view::npos) return false;
    host.assign(auth.substr(0, close + 1));
    std::string_view after = auth.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
      hasPort = true;
    }
  } else {
    size_t colon = auth.find(':');
    host.assign(auth.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = auth.substr(colon + 1);
      hasPort = true;
    }
  }
  if (hasPort && !portText.empty() && !ParsePort(portText, port)) return false;
  return true;
}

// Path (up to '?' or '#') with its dot segments removed, then the rest unchanged.
std::string NormalizeObject(std::string_view tail) {
  size_t end = tail.find_first_of("?#");
  std::string_view path = tail.substr(0, end);
  std::string_view rest = end == std::string_view::npos ? std::string_view() : tail.substr(end);
  std::string object = path.empty() ? std::string("/") : RemoveDotSegments(path);
  object.append(rest);
  return object;
}

bool ParseFile(std::string_view rest, std::string& server, std::string& object) {
  // rest is what follows "file:".
  if (rest.size() >= 2 && rest[0] == '/' && rest[1] == '/' && (rest.size() == 2 || rest[2] != '/')) {
    size_t slash = rest.find('/', 2);
    std::string_view host = rest.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2);
    if (!host.empty() && !AsciiEqualNoCase(host, "localhost")) return false;
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  } else if (rest.empty() || rest[0] != '/') {
    return false;
  }
  size_t first = rest.find_first_not_of('/');
  std::string_view path = first == std::string_view::npos ? std::string_view() : rest.substr(first);
  server.clear();
  object = RemoveDotSegments("/" + std::string(path));
  return true;
}

}  // namespace

size_t SchemeLength(std::string_view url) {
  // Which bytes a scheme name may hold after its first letter.
  static constexpr auto kSchemeByte = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
      table[c] =
          IsAsciiAlpha(static_cast<char>(c)) || IsAsciiDigit(static_cast<char>(c)) || c == '+' || c == '-' || c == '.';
    return table;
  }();
  if (url.empty() || !IsAsciiAlpha(url[0])) return 0;
  for (size_t i = 1; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (!kSchemeByte[c]) return c == ':' ? i : 0;
  }
  return 0;
}

std::string EscapeUrlPath(std::string_view path, bool escapeLeadingSlash) {
  std::string out;
  out.reserve(path.size() + 8);
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsAsciiAlpha(static_cast<char>(c)) || IsAsciiDigit(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' ||
        c == '~' || (c == '/' && (i > 0 || !escapeLeadingSlash))) {
      out += static_cast<char>(c);
    } else {
      AppendPercentEscape(out, c);
    }
  }
  return out;
}

std::string RemoveDotSegments(std::string_view path) {
  if (path.empty() || path[0] != '/') return std::string(path);
  if (path.find("/.") == std::string_view::npos) return std::string(path);
  // Every segment written is '/' and its text, so the last one starts at the last '/'.
  std::string result;
  result.reserve(path.size());
  size_t segments = 0;
  size_t kept = 0;  // leading '..' segments that climb above the root
  size_t pos = 1;
  for (;;) {
    size_t slash = path.find('/', pos);
    bool last = slash == std::string_view::npos;
    std::string_view seg = path.substr(pos, last ? std::string_view::npos : slash - pos);
    if (seg == ".") {
      if (last) {
        result.push_back('/');
        ++segments;
      }
    } else if (seg == "..") {
      if (segments > kept) {
        result.resize(result.rfind('/'));
        --segments;
      } else {
        result.append("/..");
        ++segments;
        ++kept;
      }
      if (last) {
        result.push_back('/');
        ++segments;
      }
    } else {
      result.push_back('/');
      result.append(seg);
      ++segments;
    }
    if (last) break;
    pos = slash + 1;
  }
  if (result.empty()) result = "/";
  return result;
}

bool AfxParseURLEx(std::string_view url, unsigned& serviceType, std::string& server, std::string& object,
                   std::uint16_t& port, std::string& userName, std::string& password) {
  serviceType = AFX_INET_SERVICE_UNK;
  server.clear();
  object.clear();
  port = 0;
  userName.clear();
  password.clear();

  while (!url.empty() && IsBlankOrControl(url.back())) url.remove_suffix(1);
  size_t schemeLen = SchemeLength(url);
  if (schemeLen == 0) return false;
  std::string_view scheme = url.substr(0, schemeLen);
  std::string_view rest = url.substr(schemeLen + 1);
  const SchemeInfo* info = FindScheme(scheme);
  if (info) serviceType = info->service;

  if (serviceType == AFX_INET_SERVICE_FILE) return ParseFile(rest, server, object);

  if (serviceType == AFX_INET_SERVICE_MAILTO) {
    std::string_view address = rest.substr(0, rest.find('?'));
    size_t at = address.find('@');
    userName.assign(address.substr(0, at));
    if (at != std::string_view::npos) server.assign(address.substr(at + 1));
    return true;
  }

  if (info && info->needsHost) {
    if (rest.substr(0, 2) != "//") return false;
    size_t authEnd = rest.find_first_of("/?#\\", 2);
    std::string_view auth = rest.substr(2, authEnd == std::string_view::npos ? std::string_view::npos : authEnd - 2);
    std::string_view tail = authEnd == std::string_view::npos ? std::string_view() : rest.substr(authEnd);
    port = info->defaultPort;
    if (!SplitAuthority(auth, userName, password, server, port)) return false;
    if (server.empty()) return false;
    for (char c : server)
      if (IsBlankOrControl(c)) return false;
    object = NormalizeObject(tail);
    return true;
  }

  // Schemes we only name: take what an authority gives, never fail on it.
  if (info) port = info->defaultPort;
  if (rest.substr(0, 2) == "//") {
    size_t authEnd = rest.find_first_of("/?#", 2);
    std::string_view auth = rest.substr(2, authEnd == std::string_view::npos ? std::string_view::npos : authEnd - 2);
    std::string user, pass, host;
    std::uint16_t p = port;
    if (SplitAuthority(auth, user, pass, host, p)) {
      userName = std::move(user);
      password = std::move(pass);
      server = std::move(host);
      port = p;
    } else {
      server.assign(auth);
    }
    object.assign(authEnd == std::string_view::npos ? std::string_view() : rest.substr(authEnd));
  } else {
    object.assign(rest);
  }
  return true;
}

namespace {

struct Parts {
  std::string_view scheme;
  bool hasAuthority = false;
  std::string_view authority;
  std::string_view path;
  bool hasQuery = false;
  std::string_view query;
  bool hasFragment = false;
  std::string_view fragment;
};

// RFC 3986 appendix B, after the scheme has been taken off.
Parts SplitReference(std::string_view s) {
  Parts p;
  size_t hash = s.find('#');
  if (hash != std::string_view::npos) {
    p.hasFragment = true;
    p.fragment = s.substr(hash + 1);
    s = s.substr(0, hash);
  }
  size_t q = s.find('?');
  if (q != std::string_view::npos) {
    p.hasQuery = true;
    p.query = s.substr(q + 1);
    s = s.substr(0, q);
  }
  if (s.substr(0, 2) == "//") {
    p.hasAuthority = true;
    size_t slash = s.find('/', 2);
    p.authority = s.substr(2, slash == std::string_view::npos ? std::string_view::npos : slash - 2);
    s = slash == std::string_view::npos ? std::string_view() : s.substr(slash);
  }
  p.path = s;
  return p;
}

}  // namespace

bool InternetCombineUrlA(std::string_view base, std::string_view relative, std::string& out) {
  // Every link of a page is combined with the same base: its split is kept per thread.
  struct SplitBase {
    std::string text;
    size_t schemeLen = 0;
    Parts parts;
  };
  thread_local SplitBase last;
  if (base.size() != last.text.size() || base != last.text) {
    last.text.assign(base);
    last.schemeLen = SchemeLength(last.text);
    last.parts = Parts();
    if (last.schemeLen != 0) {
      std::string_view rest = std::string_view(last.text).substr(last.schemeLen + 1);
      if (!rest.empty() && rest[0] == '/') last.parts = SplitReference(rest);
    }
  }
  const size_t baseSchemeLen = last.schemeLen;
  if (baseSchemeLen == 0) return false;
  std::string_view baseRest = std::string_view(last.text).substr(baseSchemeLen + 1);
  if (baseRest.empty() || baseRest[0] != '/') return false;  // not hierarchical
  if (SchemeLength(relative) != 0) {
    out.assign(relative);
    return true;
  }
  const Parts& b = last.parts;
  Parts r = SplitReference(relative);

  // The path is at most two pieces: a prefix of the base's path and the reference's path.
  std::string_view pathHead, pathTail;
  std::string_view authority = b.authority;
  bool hasAuthority = b.hasAuthority;
  bool hasQuery = r.hasQuery;
  std::string_view query = r.query;
  if (r.hasAuthority) {
    hasAuthority = true;
    authority = r.authority;
    pathTail = r.path;
  } else if (r.path.empty()) {
    pathTail = b.path;
    if (!r.hasQuery) {
      hasQuery = b.hasQuery;
      query = b.query;
    }
  } else if (r.path[0] == '/') {
    pathTail = r.path;
  } else if (b.hasAuthority && b.path.empty()) {
    pathHead = "/";
    pathTail = r.path;
  } else {
    size_t slash = b.path.rfind('/');
    pathHead = b.path.substr(0, slash == std::string_view::npos ? 0 : slash + 1);
    pathTail = r.path;
  }

  // One allocation at most, then the pieces copied in.
  const std::string_view scheme = std::string_view(last.text).substr(0, baseSchemeLen + 1);
  const size_t size = scheme.size() + (hasAuthority ? 2 + authority.size() : 0) + pathHead.size() + pathTail.size() +
                      (hasQuery ? 1 + query.size() : 0) + (r.hasFragment ? 1 + r.fragment.size() : 0);
  out.resize(size);
  char* to = out.data();
  auto put = [&to](std::string_view piece) {
    if (!piece.empty()) std::memcpy(to, piece.data(), piece.size());
    to += piece.size();
  };
  put(scheme);
  if (hasAuthority) {
    put("//");
    put(authority);
  }
  put(pathHead);
  put(pathTail);
  if (hasQuery) {
    put("?");
    put(query);
  }
  if (r.hasFragment) {
    put("#");
    put(r.fragment);
  }
  return true;
}

}  // namespace platform
