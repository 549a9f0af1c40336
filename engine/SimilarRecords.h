// Keys that group records of one server: "scheme://host[:port]/".
#pragma once

#include <string>
#include <string_view>

// The prefix of an http, https, ftp or file URL's server, with the port when it is not the
// scheme's default; "" for other schemes and for URLs without a host part.
std::string HostPrefixOf(std::string_view url);
// The same into prefix, whose storage is kept.
void HostPrefixOf(std::string_view url, std::string& prefix);
