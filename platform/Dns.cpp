#include "platform/Dns.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

// Longest single wait, so that a cancellation is seen soon.
constexpr int kSliceMs = 200;
constexpr int kMaxAddresses = 64;

struct Query {
    std::string name;
    std::uint16_t type = 0;
    bool done = false;
    long status = DNS_QUERY_OK;
    std::vector<DnsRecord>* records = nullptr;
};

long FromAres(int status)
{
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

void Parse(Query& q, const unsigned char* abuf, int alen)
{
    std::vector<DnsRecord>& out = *q.records;
    if (q.type == DNS_TYPE_MX) {
        ares_mx_reply* mx = nullptr;
        const int rc = ares_parse_mx_reply(abuf, alen, &mx);
        if (rc != ARES_SUCCESS) {
            q.status = FromAres(rc);
            return;
        }
        for (ares_mx_reply* r = mx; r; r = r->next)
            out.push_back({q.name, DNS_TYPE_MX, r->host ? r->host : ""});
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
        if (host)
            ares_free_hostent(host);
        for (int i = 0; i < count; ++i) {
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &addresses[i].ipaddr, text, sizeof text);
            out.push_back({owner, DNS_TYPE_A, text});
        }
    }
    q.status = out.empty() ? DNS_INFO_NO_RECORDS : DNS_QUERY_OK;
}

void OnAnswer(void* arg, int status, int, unsigned char* abuf, int alen)
{
    auto* q = static_cast<Query*>(arg);
    q->done = true;
    if (status != ARES_SUCCESS || !abuf) {
        q->status = FromAres(status == ARES_SUCCESS ? ARES_EBADRESP : status);
        return;
    }
    Parse(*q, abuf, alen);
}

// Runs the channel until the query is answered or cancelled.
void Wait(ares_channel channel, Query& q, const std::function<bool()>& cancelled)
{
    while (!q.done) {
        if (cancelled && cancelled()) {
            ares_cancel(channel);  // answers the query with ARES_ECANCELLED
            q.done = true;
            q.status = DNS_ERROR_CANCELLED;
            return;
        }
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        pollfd fds[ARES_GETSOCK_MAXNUM];
        int n = 0;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const bool r = ARES_GETSOCK_READABLE(bits, i);
            const bool w = ARES_GETSOCK_WRITABLE(bits, i);
            if (!r && !w)
                continue;
            fds[n].fd = sockets[i];
            fds[n].events = static_cast<short>((r ? POLLIN : 0) | (w ? POLLOUT : 0));
            fds[n].revents = 0;
            ++n;
        }
        timeval slice{0, kSliceMs * 1000};
        timeval tv{};
        const timeval* next = ares_timeout(channel, &slice, &tv);
        const int ms = static_cast<int>(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000);
        const int ready = poll(fds, static_cast<nfds_t>(n), ms);
        if (ready < 0 && errno != EINTR) {
            ares_cancel(channel);
            q.done = true;
            q.status = DNS_ERROR_RCODE_SERVER_FAILURE;
            return;
        }
        if (ready <= 0) {
            ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs
            continue;
        }
        for (int i = 0; i < n; ++i) {
            const short ev = fds[i].revents;
            if (!ev)
                continue;
            ares_process_fd(channel, (ev & (POLLIN | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD,
                            (ev & (POLLOUT | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD);
        }
    }
}

} // namespace

long DnsQuery(const std::string& name, std::uint16_t type, std::uint32_t, std::vector<DnsRecord>& records,
              const std::function<bool()>& cancelled)
{
    records.clear();
    if (type != DNS_TYPE_A && type != DNS_TYPE_MX)
        return DNS_ERROR_INVALID_PARAMETER;
    if (name.empty() || name.find('\0') != std::string::npos)
        return DNS_ERROR_INVALID_NAME;
    static std::once_flag once;
    static int initStatus = ARES_SUCCESS;
    std::call_once(once, [] { initStatus = ares_library_init(ARES_LIB_INIT_ALL); });
    if (initStatus != ARES_SUCCESS)
        return FromAres(initStatus);

    ares_channel channel = nullptr;
    ares_options options{};
    int rc = ares_init_options(&channel, &options, 0);
    if (rc != ARES_SUCCESS)
        return FromAres(rc);
    if (const char* server = std::getenv("WEXO_DNS_SERVER"); server && *server) {
        rc = ares_set_servers_ports_csv(channel, server);
        if (rc != ARES_SUCCESS) {
            ares_destroy(channel);
            return DNS_ERROR_INVALID_PARAMETER;
        }
    }
    Query q;
    q.name = name;
    q.type = type;
    q.records = &records;
    ares_query(channel, name.c_str(), 1 /* class IN */, type, &OnAnswer, &q);
    Wait(channel, q, cancelled);
    ares_destroy(channel);
    if (q.status != DNS_QUERY_OK)
        records.clear();
    return q.status;
}

} // namespace platform
