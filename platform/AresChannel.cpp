#include "platform/AresChannel.h"
#include "platform/AsciiText.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace platform::dns_detail {
namespace {

// Longest single wait, so that a cancellation is seen soon.
constexpr int kSliceMs = 200;

// The time-out and attempts of the system's resolver. c-ares reads neither glibc's
// "timeout:" nor "attempts:" option; left alone it waits 5 s four times over, each wait
// doubled.
struct Patience {
  int timeoutS = 5;  // glibc's defaults and limits
  int attempts = 2;
};

void ReadOptions(const std::string& words, Patience& p) {
  std::istringstream in(words);
  std::string w;
  while (in >> w) {
    if (w.rfind("timeout:", 0) == 0)
      p.timeoutS = std::clamp(std::atoi(w.c_str() + 8), 1, 30);
    else if (w.rfind("attempts:", 0) == 0)
      p.attempts = std::clamp(std::atoi(w.c_str() + 9), 1, 5);
  }
}

// The "options" lines of /etc/resolv.conf, then RES_OPTIONS, as glibc reads them.
Patience SystemPatience() {
  Patience p;
  std::ifstream conf("/etc/resolv.conf");
  std::string line;
  while (std::getline(conf, line)) {
    if (line.rfind("options", 0) == 0 && line.size() > 7 && (line[7] == ' ' || line[7] == '\t'))
      ReadOptions(line.substr(7), p);
  }
  if (const char* env = std::getenv("RES_OPTIONS")) ReadOptions(env, p);
  return p;
}

}  // namespace

int Attempts() { return SystemPatience().attempts; }

int OpenChannel(ares_channel& channel) {
  channel = nullptr;
  static std::once_flag once;
  static int initStatus = ARES_SUCCESS;
  std::call_once(once, [] { initStatus = ares_library_init(ARES_LIB_INIT_ALL); });
  if (initStatus != ARES_SUCCESS) return initStatus;
  const Patience patience = SystemPatience();
  ares_options options{};
  options.timeout = patience.timeoutS * 1000;
  // One try a channel: the callers try again, so every attempt waits the same time, as
  // glibc's do (c-ares would double the wait of each further try).
  options.tries = 1;
  int rc = ares_init_options(&channel, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES);
  if (rc != ARES_SUCCESS) {
    channel = nullptr;
    return rc;
  }
  if (const char* server = std::getenv("WEXO_DNS_SERVER"); server && *server) {
    rc = ares_set_servers_ports_csv(channel, server);
    if (rc != ARES_SUCCESS) {
      ares_destroy(channel);
      channel = nullptr;
      return ARES_EBADSTR;
    }
  }
  return ARES_SUCCESS;
}

std::string CacheKey(const std::string& name) {
  std::string key = AsciiLowered(name);
  key += '\n';
  if (const char* server = std::getenv("WEXO_DNS_SERVER")) key += server;
  return key;
}

WaitEnd RunChannel(ares_channel channel, const bool& done, const std::function<bool()>& cancelled) {
  while (!done) {
    if (cancelled && cancelled()) {
      ares_cancel(channel);
      return WaitEnd::Cancelled;
    }
    ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
    pollfd fds[ARES_GETSOCK_MAXNUM];
    int n = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      const bool r = ARES_GETSOCK_READABLE(bits, i);
      const bool w = ARES_GETSOCK_WRITABLE(bits, i);
      if (!r && !w) continue;
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
      return WaitEnd::Failed;
    }
    if (ready <= 0) {
      ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // time-outs
      continue;
    }
    for (int i = 0; i < n; ++i) {
      const short ev = fds[i].revents;
      if (!ev) continue;
      ares_process_fd(channel, (ev & (POLLIN | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD,
                      (ev & (POLLOUT | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD);
    }
  }
  return WaitEnd::Done;
}

}  // namespace platform::dns_detail
