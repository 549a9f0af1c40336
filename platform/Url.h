// URLs split into service, server, object and port, and links combined with their base.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Service types, as the URL split tells them.
constexpr unsigned AFX_INET_SERVICE_FTP = 1;
constexpr unsigned AFX_INET_SERVICE_GOPHER = 2;
constexpr unsigned AFX_INET_SERVICE_HTTP = 3;
constexpr unsigned AFX_INET_SERVICE_UNK = 0x1000;  // any other well-formed scheme
constexpr unsigned AFX_INET_SERVICE_FILE = 4097;
constexpr unsigned AFX_INET_SERVICE_MAILTO = 4098;
constexpr unsigned AFX_INET_SERVICE_MID = 4099;
constexpr unsigned AFX_INET_SERVICE_CID = 4100;
constexpr unsigned AFX_INET_SERVICE_NEWS = 4101;
constexpr unsigned AFX_INET_SERVICE_NNTP = 4102;
constexpr unsigned AFX_INET_SERVICE_PROSPERO = 4103;
constexpr unsigned AFX_INET_SERVICE_TELNET = 4104;
constexpr unsigned AFX_INET_SERVICE_WAIS = 4105;
constexpr unsigned AFX_INET_SERVICE_AFS = 4106;
constexpr unsigned AFX_INET_SERVICE_HTTPS = 4107;

// Length of the URL's scheme ("http" in "http://x"): a letter, then letters, digits, '+',
// '-' or '.', then ':'. 0 when the text does not begin with a scheme.
size_t SchemeLength(std::string_view url);

// Splits a URL without encoding anything (as with ICU_NO_ENCODE). Trailing blanks and
// control characters are dropped first. Scheme names match case-insensitively.
//  - http, https, ftp, gopher: "//" [user [":" password] "@"] host [":" port]; the host keeps
//    its case (and IPv6 brackets), must be non-empty and free of blanks and control bytes; the
//    port is the scheme's default when none is written and fails above 65535. The object is
//    path + query + fragment with escapes unchanged, "/" for an empty path; the path's '.'
//    and '..' segments are removed, except '..' segments that would climb above the root.
//    '\' ends the host but stays in the object.
//  - file: "file:/x", "file:///x", "file:////x" and "file://localhost/x" give the object
//    "/x" ('?' and '#' belong to the path); any other host fails.
//  - mailto: user and host split at the first '@' (no '@': all of it is the user); a '?'
//    part is cut.
//  - mid, cid, news, nntp, prospero, telnet, wais, afs: their own numbers; any other scheme
//    AFX_INET_SERVICE_UNK. The out-arguments then hold what an authority gives, else the
//    text after the scheme as the object.
// False when the URL has no scheme or its parts are malformed as above.
bool AfxParseURLEx(std::string_view url, unsigned& serviceType, std::string& server, std::string& object,
                   std::uint16_t& port, std::string& userName, std::string& password);

// RFC 3986 5.2.2 resolution of a relative reference with merge but without removing dot
// segments (as ICU_NO_ENCODE | ICU_NO_META: nothing is escaped). A reference with a scheme
// of its own comes back unchanged; "//h/x" takes the base's scheme; "?q" replaces the
// base's query. False only when the base is not an absolute hierarchical URL.
bool InternetCombineUrlA(std::string_view base, std::string_view relative, std::string& out);

// Percent escapes (upper-case digits) for every byte but the unreserved ones (ASCII letters,
// digits, '-', '.', '_', '~') and '/'; a leading '/' too when escapeLeadingSlash.
std::string EscapeUrlPath(std::string_view path, bool escapeLeadingSlash);

// RFC 3986 5.2.4 on an absolute path, except that '..' segments that would climb above the
// root stay. A path that does not begin with '/' is returned unchanged.
std::string RemoveDotSegments(std::string_view path);

}  // namespace platform
