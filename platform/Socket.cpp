#include "platform/Socket.h"
#include "platform/HostLookup.h"
#include "platform/LastError.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

bool FailWithErrno() {
  SetLastError(WinSockErrorFromErrno(errno));
  return false;
}

// poll() for events on s until deadline, retrying after signals with the time left.
// 1 when ready, 0 at the deadline, SOCKET_ERROR on failure.
int PollUntil(SOCKET s, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{s, events, 0};
    // Rounded up so that a wait never ends before its deadline.
    const int r = poll(&p, 1, left <= 0 ? 0 : static_cast<int>(left + 1));
    if (r > 0) return 1;
    if (r == 0) {
      if (Clock::now() >= deadline) return 0;
      continue;
    }
    if (errno != EINTR) {
      FailWithErrno();
      return SOCKET_ERROR;
    }
  }
}

Clock::time_point DeadlineAfter(std::uint32_t timeoutMs) { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

// True once s is ready for events; false after timeoutMs (WSAETIMEDOUT) or a failed wait.
bool WaitFor(SOCKET s, short events, std::uint32_t timeoutMs) {
  const int ready = PollUntil(s, events, DeadlineAfter(timeoutMs));
  if (ready == 0) SetLastError(WSAETIMEDOUT);
  return ready == 1;
}

bool SetBlocking(SOCKET s, bool blocking) {
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0) return FailWithErrno();
  const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
  if (wanted != flags && fcntl(s, F_SETFL, wanted) < 0) return FailWithErrno();
  return true;
}

}  // namespace

SOCKET OpenTcpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    FailWithErrno();
    return INVALID_SOCKET;
  }
  return s;
}

bool ResolveIPv4(const std::string& host, in_addr& address) {
  // inet_aton reads every form inet_addr does ("127.1", "0x7f.1" ...).
  if (!host.empty() && inet_aton(host.c_str(), &address)) return true;
  std::vector<std::string> found;
  if (!host.empty() && LookupHost(host, found) == HostLookupResult::Found) {
    for (const std::string& a : found) {
      if (inet_pton(AF_INET, a.c_str(), &address) == 1) return true;
    }
  }
  SetLastError(WSAEINVAL);
  return false;
}

bool BindSocket(SOCKET s, const in_addr& address, std::uint16_t port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  local.sin_port = htons(port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return FailWithErrno();
  return true;
}

bool ConnectSocket(SOCKET s, const sockaddr_in& to, std::uint32_t timeoutMs) {
  if (!SetBlocking(s, false)) return false;
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    // After EINTR the connection goes on in the background, as after EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) return FailWithErrno();
    if (!WaitFor(s, POLLOUT, timeoutMs)) return false;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return FailWithErrno();
    if (error != 0) {
      SetLastError(WinSockErrorFromErrno(error));
      return false;
    }
  }
  return SetBlocking(s, true);
}

bool SendAll(SOCKET s, const void* data, std::size_t length, std::uint32_t timeoutMs) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = send(s, p, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      p += n;
      length -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return FailWithErrno();
    // The peer takes nothing more for now: wait until it does, or give up.
    if (!WaitFor(s, POLLOUT, timeoutMs)) return false;
  }
  return true;
}

int WaitReadable(SOCKET s, std::uint32_t timeoutMs) { return PollUntil(s, POLLIN, DeadlineAfter(timeoutMs)); }

int ReceiveSome(SOCKET s, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = recv(s, buffer, size, 0);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      SetLastError(WSAEDISCON);
      return 0;
    }
    if (errno != EINTR) {
      FailWithErrno();
      return SOCKET_ERROR;
    }
  }
}

void CloseSocket(SOCKET s) {
  if (s != INVALID_SOCKET) close(s);
}

}  // namespace platform
