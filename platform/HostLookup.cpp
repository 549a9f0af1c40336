#include "platform/HostLookup.h"
#include "platform/AresChannel.h"
#include "platform/SingleFlightCache.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>

namespace platform {
namespace {

// What a lookup found: the addresses, none for a name without any.
struct Addresses {
  bool found = false;
  std::vector<std::string> list;
};

SingleFlightCache<Addresses>& Names() {
  // Never destroyed: workers may still look names up while the program exits.
  static auto* names = new SingleFlightCache<Addresses>(std::chrono::seconds(60));
  return *names;
}

struct Answer {
  bool done = false;
  int status = ARES_SUCCESS;
  std::vector<std::string> addresses;
};

void OnAddresses(void* arg, int status, int, ares_addrinfo* result) {
  auto* a = static_cast<Answer*>(arg);
  a->done = true;
  a->status = status;
  if (!result) return;
  for (const ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
    const void* where = nullptr;
    if (n->ai_family == AF_INET)
      where = &reinterpret_cast<const sockaddr_in*>(n->ai_addr)->sin_addr;
    else if (n->ai_family == AF_INET6)
      where = &reinterpret_cast<const sockaddr_in6*>(n->ai_addr)->sin6_addr;
    char text[INET6_ADDRSTRLEN] = {};
    if (!where || !inet_ntop(n->ai_family, where, text, sizeof text)) continue;
    if (std::find(a->addresses.begin(), a->addresses.end(), text) == a->addresses.end())
      a->addresses.emplace_back(text);
  }
  ares_freeaddrinfo(result);
}

// One question for the addresses of one family.
dns_detail::WaitEnd Ask(const std::string& name, int family, Answer& answer, const std::function<bool()>& cancelled,
                        bool& opened) {
  dns_detail::WaitEnd end = dns_detail::WaitEnd::Failed;
  for (int attempt = dns_detail::Attempts(); attempt > 0; --attempt) {
    ares_channel channel = nullptr;
    opened = dns_detail::OpenChannel(channel) == ARES_SUCCESS;
    if (!opened) return dns_detail::WaitEnd::Failed;
    answer = Answer();
    ares_addrinfo_hints hints{};
    hints.ai_family = family;
    ares_getaddrinfo(channel, name.c_str(), nullptr, &hints, &OnAddresses, &answer);
    end = dns_detail::RunChannel(channel, answer.done, cancelled);
    ares_destroy(channel);
    if (end != dns_detail::WaitEnd::Done || answer.status != ARES_ETIMEOUT) break;
  }
  return end;
}

// One lookup: IPv4 first, then IPv6 for a name that exists. A name that does not exist, or
// a server that does not answer, costs one question instead of two: dead links point at
// dead names, and resolvers limit how many questions they take. keep is false when nothing
// could be asked (no resolver): such a failure says nothing about the name.
HostLookupResult Resolve(const std::string& name, std::vector<std::string>& addresses,
                         const std::function<bool()>& cancelled, bool& keep) {
  keep = false;
  bool opened = false;
  Answer v4;
  dns_detail::WaitEnd end = Ask(name, AF_INET, v4, cancelled, opened);
  if (!opened) return HostLookupResult::NotFound;
  if (end == dns_detail::WaitEnd::Cancelled) return HostLookupResult::Cancelled;
  keep = end == dns_detail::WaitEnd::Done && v4.status != ARES_ENOMEM;
  if (keep && v4.status != ARES_ENOTFOUND && v4.status != ARES_ETIMEOUT) {
    Answer v6;
    end = Ask(name, AF_INET6, v6, cancelled, opened);
    if (end == dns_detail::WaitEnd::Cancelled) return HostLookupResult::Cancelled;
    keep = opened && end == dns_detail::WaitEnd::Done && v6.status != ARES_ENOMEM;
    for (std::string& a : v6.addresses) v4.addresses.push_back(std::move(a));
  }
  if (v4.addresses.empty()) return HostLookupResult::NotFound;
  addresses = std::move(v4.addresses);
  return HostLookupResult::Found;
}

}  // namespace

HostLookupResult LookupHost(const std::string& name, std::vector<std::string>& addresses,
                            const std::function<bool()>& cancelled) {
  addresses.clear();
  using Asked = SingleFlightCache<Addresses>::Asked;
  Addresses answer;
  const bool answered = Names().Get(dns_detail::CacheKey(name), answer, cancelled, [&](Addresses& fresh) {
    bool keep = false;
    const HostLookupResult result = Resolve(name, fresh.list, cancelled, keep);
    if (result == HostLookupResult::Cancelled) return Asked::Cancelled;
    fresh.found = result == HostLookupResult::Found;
    return keep ? Asked::Keep : Asked::Forget;
  });
  if (!answered) return HostLookupResult::Cancelled;
  addresses = std::move(answer.list);
  return answer.found ? HostLookupResult::Found : HostLookupResult::NotFound;
}

}  // namespace platform
