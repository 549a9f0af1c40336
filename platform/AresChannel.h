// The c-ares resolver that DnsQuery (Dns.h) and LookupHost (HostLookup.h) share: the same
// servers and the same cancellable wait.
#pragma once

#include <ares.h>

#include <functional>
#include <string>

namespace platform::dns_detail {

// Opens a channel with the system's servers (/etc/resolv.conf), or with the one
// WEXO_DNS_SERVER names as "host:port", and the system's "timeout:" and "attempts:" options
// (resolv.conf, then RES_OPTIONS; 5 s and 2 without them). ARES_SUCCESS, ARES_EBADSTR for a WEXO_DNS_SERVER that
// is not a server, else c-ares' reason.
int OpenChannel(ares_channel& channel);

// How often a question that timed out is asked again on a new channel: the system's
// "attempts:" (2 without it). A channel tries once.
int Attempts();

// The key under which an answer about name is kept: the name without regard to case, and the
// servers that gave it (WEXO_DNS_SERVER may name others later).
std::string CacheKey(const std::string& name);

enum class WaitEnd { Done, Cancelled, Failed };

// Runs the channel until done is set (by a query's callback). cancelled, when given, is
// polled at least every 200 ms; once it returns true, or when waiting itself fails, the
// channel's queries are cancelled (their callbacks run) and the wait ends.
WaitEnd RunChannel(ares_channel channel, const bool& done, const std::function<bool()>& cancelled);

}  // namespace platform::dns_detail
