// Blocking TCP sockets over POSIX with the platform socket library's handle, results and
// error numbers: a failing call returns SOCKET_ERROR (or INVALID_SOCKET, false) and leaves
// the Windows socket number of its errno as the thread's last error (LastError.h).
//
//   platform::SOCKET s = platform::OpenTcpSocket();       // INVALID_SOCKET: see GetLastError
//   sockaddr_in to{};  platform::ResolveIPv4(host, to.sin_addr) ...
//   platform::ConnectSocket(s, to, 60000);                // 10060 after the time-out
//   platform::SendAll(s, text.data(), text.size(), 60000);
//   if (platform::WaitReadable(s, 60000) > 0) n = platform::ReceiveSome(s, buf, sizeof buf);
//   platform::CloseSocket(s);
//
// Sockets are opened close-on-exec; no call raises SIGPIPE; waits retry after EINTR with the
// time that is left. Threads: a socket belongs to one thread at a time; the functions keep no
// shared state.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// A new IPv4 stream socket, or INVALID_SOCKET.
SOCKET OpenTcpSocket();

// The address of host: a dotted IPv4 text as inet_addr reads it, else the first IPv4
// address the process's host lookup (HostLookup.h) finds. False, with last error WSAEINVAL
// (10022), when there is none.
bool ResolveIPv4(const std::string& host, in_addr& address);

// bind() to address with port (host order; 0 for any).
bool BindSocket(SOCKET s, const in_addr& address, std::uint16_t port);

// connect(), waiting at most timeoutMs for the connection to stand (last error
// WSAETIMEDOUT after that). The socket stays blocking.
bool ConnectSocket(SOCKET s, const sockaddr_in& to, std::uint32_t timeoutMs);

// Sends every byte of data. Fails when the peer is gone or when no byte could be handed on
// for timeoutMs (WSAETIMEDOUT); a failure may come after part of the data went out.
bool SendAll(SOCKET s, const void* data, std::size_t length, std::uint32_t timeoutMs);

// 1 when s has data to read (or its peer closed), 0 when timeoutMs passed without, and
// SOCKET_ERROR when the wait failed.
int WaitReadable(SOCKET s, std::uint32_t timeoutMs);

// One recv(): the count read, 0 when the peer closed the connection (last error
// WSAEDISCON), SOCKET_ERROR on failure.
int ReceiveSome(SOCKET s, void* buffer, std::size_t size);

// Closes s unless it is INVALID_SOCKET; the last error is left as it was.
void CloseSocket(SOCKET s);

}  // namespace platform
