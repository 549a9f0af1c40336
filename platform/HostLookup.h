// Host names to addresses for the internet classes, with one answer per name kept for the
// process, as the platform's DNS client keeps them.
//
// Lookups go through c-ares to the servers DnsQuery uses (Dns.h: the system's, or
// WEXO_DNS_SERVER's); /etc/hosts is read first, as c-ares does. Time-outs and tries are the
// resolver configuration's (/etc/resolv.conf options, RES_OPTIONS).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class HostLookupResult { Found, NotFound, Cancelled };

// The IPv4 and IPv6 addresses of name, as text. Answers, found or not, are kept for 60 s.
// While one thread asks for a name, the others that want it wait for its answer.
// cancelled, when given, is polled while the call waits; once it returns true the call
// ends with Cancelled, and a lookup it was running is dropped (a waiter takes it over).
// name is a host name, not an address.
HostLookupResult LookupHost(const std::string& name, std::vector<std::string>& addresses,
                            const std::function<bool()>& cancelled = {});

}  // namespace platform
