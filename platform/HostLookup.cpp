#include "platform/HostLookup.h"
#include "platform/AresChannel.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kKeep = std::chrono::seconds(60);
// Waiters look at their cancel predicate at least this often.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// Past this many names, ended ones are swept out before another is added; the next sweep
// waits until the table has doubled again, so a sweep costs each insert a constant.
constexpr std::size_t kSweepAbove = 4096;
std::size_t g_sweepAt = kSweepAbove;

struct Entry {
    bool resolving = false;
    bool found = false;
    std::vector<std::string> addresses;
    Clock::time_point expires;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::unordered_map<std::string, Entry> g_names;

struct Answer {
    bool done = false;
    int status = ARES_SUCCESS;
    std::vector<std::string> addresses;
};

void OnAddresses(void* arg, int status, int, ares_addrinfo* result)
{
    auto* a = static_cast<Answer*>(arg);
    a->done = true;
    a->status = status;
    if (!result)
        return;
    for (const ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
        const void* where = nullptr;
        if (n->ai_family == AF_INET)
            where = &reinterpret_cast<const sockaddr_in*>(n->ai_addr)->sin_addr;
        else if (n->ai_family == AF_INET6)
            where = &reinterpret_cast<const sockaddr_in6*>(n->ai_addr)->sin6_addr;
        char text[INET6_ADDRSTRLEN] = {};
        if (!where || !inet_ntop(n->ai_family, where, text, sizeof text))
            continue;
        if (std::find(a->addresses.begin(), a->addresses.end(), text) == a->addresses.end())
            a->addresses.emplace_back(text);
    }
    ares_freeaddrinfo(result);
}

// One lookup. keep is false when nothing could be asked (no resolver): such a failure says
// nothing about the name.
HostLookupResult Resolve(const std::string& name, std::vector<std::string>& addresses,
                         const std::function<bool()>& cancelled, bool& keep)
{
    keep = false;
    ares_channel channel = nullptr;
    if (dns_detail::OpenChannel(channel) != ARES_SUCCESS)
        return HostLookupResult::NotFound;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    Answer answer;
    ares_getaddrinfo(channel, name.c_str(), nullptr, &hints, &OnAddresses, &answer);
    const dns_detail::WaitEnd end = dns_detail::RunChannel(channel, answer.done, cancelled);
    ares_destroy(channel);
    if (end == dns_detail::WaitEnd::Cancelled)
        return HostLookupResult::Cancelled;
    keep = end == dns_detail::WaitEnd::Done && answer.status != ARES_ENOMEM;
    if (answer.status != ARES_SUCCESS || answer.addresses.empty())
        return HostLookupResult::NotFound;
    addresses = std::move(answer.addresses);
    return HostLookupResult::Found;
}

void Sweep(Clock::time_point now)
{
    for (auto it = g_names.begin(); it != g_names.end();) {
        if (!it->second.resolving && it->second.expires <= now)
            it = g_names.erase(it);
        else
            ++it;
    }
}

} // namespace

HostLookupResult LookupHost(const std::string& name, std::vector<std::string>& addresses,
                            const std::function<bool()>& cancelled)
{
    addresses.clear();
    std::string key = name;
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');

    std::unique_lock<std::mutex> lock(g_mutex);
    for (;;) {
        if (cancelled && cancelled())
            return HostLookupResult::Cancelled;
        const Clock::time_point now = Clock::now();
        auto it = g_names.find(key);
        if (it == g_names.end()) {
            if (g_names.size() >= g_sweepAt) {
                Sweep(now);
                g_sweepAt = std::max(kSweepAbove, 2 * g_names.size());
            }
            g_names[key].resolving = true;
            break;
        }
        Entry& e = it->second;
        if (!e.resolving) {
            if (now < e.expires) {
                addresses = e.addresses;
                return e.found ? HostLookupResult::Found : HostLookupResult::NotFound;
            }
            e.resolving = true;
            break;
        }
        g_changed.wait_for(lock, kWaitSlice);
    }
    lock.unlock();

    // This thread asks; whatever happens, the waiters hear of it.
    HostLookupResult result = HostLookupResult::Cancelled;
    bool keep = false;
    std::vector<std::string> found;
    struct Publish {
        const std::string& key;
        HostLookupResult& result;
        bool& keep;
        std::vector<std::string>& found;
        ~Publish()
        {
            std::lock_guard<std::mutex> guard(g_mutex);
            auto it = g_names.find(key);
            if (it != g_names.end()) {
                if (result == HostLookupResult::Cancelled || !keep) {
                    g_names.erase(it);
                } else {
                    it->second.resolving = false;
                    it->second.found = result == HostLookupResult::Found;
                    it->second.addresses = found;
                    it->second.expires = Clock::now() + kKeep;
                }
            }
            g_changed.notify_all();
        }
    } publish{key, result, keep, found};
    result = Resolve(name, found, cancelled, keep);
    addresses = found;
    return result;
}

} // namespace platform
