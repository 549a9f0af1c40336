#include "platform/Dns.h"
#include "platform/AresChannel.h"
#include "platform/SingleFlightCache.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

namespace platform {
namespace {

constexpr int kMaxAddresses = 64;

struct Query {
  std::string name;
  std::uint16_t type = 0;
  bool done = false;
  long status = DNS_QUERY_OK;
  std::vector<DnsRecord>* records = nullptr;
};

long FromAres(int status) {
  switch (status) {
    case ARES_SUCCESS: return DNS_QUERY_OK;
    case ARES_ENODATA: return DNS_INFO_NO_RECORDS;
    case ARES_ENOTFOUND: return DNS_ERROR_RCODE_NAME_ERROR;
    case ARES_EREFUSED: return DNS_ERROR_RCODE_REFUSED;
    case ARES_EFORMERR:
    case ARES_EBADQUERY: return DNS_ERROR_RCODE_FORMAT_ERROR;
    case ARES_ETIMEOUT: return DNS_ERROR_TIMEOUT;
    case ARES_EBADNAME: return DNS_ERROR_INVALID_NAME;
    case ARES_ENOMEM: return DNS_ERROR_OUTOFMEMORY;
    case ARES_ECANCELLED:
    case ARES_EDESTRUCTION: return DNS_ERROR_CANCELLED;
    default: return DNS_ERROR_RCODE_SERVER_FAILURE;  // no answer, bad answer, server gone
  }
}

void Parse(Query& q, const unsigned char* abuf, int alen) {
  std::vector<DnsRecord>& out = *q.records;
  if (q.type == DNS_TYPE_MX) {
    ares_mx_reply* mx = nullptr;
    const int rc = ares_parse_mx_reply(abuf, alen, &mx);
    if (rc != ARES_SUCCESS) {
      q.status = FromAres(rc);
      return;
    }
    for (ares_mx_reply* r = mx; r; r = r->next) out.push_back({q.name, DNS_TYPE_MX, r->host ? r->host : ""});
    ares_free_data(mx);
  } else {
    hostent* host = nullptr;
    ares_addrttl addresses[kMaxAddresses];
    int count = kMaxAddresses;
    const int rc = ares_parse_a_reply(abuf, alen, &host, addresses, &count);
    if (rc != ARES_SUCCESS) {
      q.status = FromAres(rc);
      return;
    }
    const std::string owner = host && host->h_name ? host->h_name : q.name;
    if (host) ares_free_hostent(host);
    for (int i = 0; i < count; ++i) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &addresses[i].ipaddr, text, sizeof text);
      out.push_back({owner, DNS_TYPE_A, text});
    }
  }
  q.status = out.empty() ? DNS_INFO_NO_RECORDS : DNS_QUERY_OK;
}

void OnAnswer(void* arg, int status, int, unsigned char* abuf, int alen) {
  auto* q = static_cast<Query*>(arg);
  q->done = true;
  if (status != ARES_SUCCESS || !abuf) {
    q->status = FromAres(status == ARES_SUCCESS ? ARES_EBADRESP : status);
    return;
  }
  Parse(*q, abuf, alen);
}

// One question to the servers. keep is false when the answer says nothing about the name:
// no resolver could be opened, memory ran out, or the wait failed.
long AskServers(const std::string& name, std::uint16_t type, std::vector<DnsRecord>& records,
                const std::function<bool()>& cancelled, bool& keep) {
  keep = false;
  Query q;
  for (int attempt = dns_detail::Attempts(); attempt > 0; --attempt) {
    keep = false;
    ares_channel channel = nullptr;
    const int rc = dns_detail::OpenChannel(channel);
    if (rc == ARES_EBADSTR) return DNS_ERROR_INVALID_PARAMETER;
    if (rc != ARES_SUCCESS) return FromAres(rc);
    records.clear();
    q = Query();
    q.name = name;
    q.type = type;
    q.records = &records;
    ares_query(channel, name.c_str(), 1 /* class IN */, type, &OnAnswer, &q);
    switch (dns_detail::RunChannel(channel, q.done, cancelled)) {
      case dns_detail::WaitEnd::Cancelled: q.status = DNS_ERROR_CANCELLED; break;
      case dns_detail::WaitEnd::Failed: q.status = DNS_ERROR_RCODE_SERVER_FAILURE; break;
      case dns_detail::WaitEnd::Done: keep = true; break;
    }
    ares_destroy(channel);
    if (q.status != DNS_ERROR_TIMEOUT) break;
  }
  if (q.status == DNS_ERROR_OUTOFMEMORY || q.status == DNS_ERROR_CANCELLED) keep = false;
  if (q.status != DNS_QUERY_OK) records.clear();
  return q.status;
}

struct Reply {
  long status = DNS_QUERY_OK;
  std::vector<DnsRecord> records;
};

SingleFlightCache<Reply>& Replies() {
  // Never destroyed: workers may still ask while the program exits.
  static auto* replies = new SingleFlightCache<Reply>(std::chrono::seconds(60));
  return *replies;
}

}  // namespace

long DnsQuery(const std::string& name, std::uint16_t type, std::uint32_t, std::vector<DnsRecord>& records,
              const std::function<bool()>& cancelled) {
  records.clear();
  if (type != DNS_TYPE_A && type != DNS_TYPE_MX) return DNS_ERROR_INVALID_PARAMETER;
  if (name.empty() || name.find('\0') != std::string::npos) return DNS_ERROR_INVALID_NAME;
  // Many mail links name one domain: one question per name and type, its answer kept.
  using Asked = SingleFlightCache<Reply>::Asked;
  Reply reply;
  const bool answered =
      Replies().Get(dns_detail::CacheKey(name) + '\n' + std::to_string(type), reply, cancelled, [&](Reply& fresh) {
        bool keep = false;
        fresh.status = AskServers(name, type, fresh.records, cancelled, keep);
        if (fresh.status == DNS_ERROR_CANCELLED) return Asked::Cancelled;
        return keep ? Asked::Keep : Asked::Forget;
      });
  if (!answered) return DNS_ERROR_CANCELLED;
  records = std::move(reply.records);
  return reply.status;
}

}  // namespace platform
