// Keys that group records of one server: "scheme://host[:port]/".
#pragma once

#include <string>
#include <string_view>

// The prefix of an http, https, ftp or file URL's server, with the port when it is not the
// scheme's default; "" for other schemes and for URLs without a host part.
std::string HostPrefixOf(std::string_view url);
// The same into prefix, whose storage is kept.
void HostPrefixOf(std::string_view url, std::string& prefix);
// The prefix as the URL's own text, when the URL has a plain authority (a lower-case http,
// https or ftp scheme, no user, no port, no brackets) followed by '/'; "" when it has not,
// and the prefix may still be found by HostPrefixOf.
std::string_view LiteralHostPrefix(std::string_view url);
