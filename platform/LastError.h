// The thread's last error, as GetLastError / WSAGetLastError keep it, the Windows socket
// error numbers that errno values map to, and English texts standing in for the system's
// message table (FormatMessage).
//
// Threads: the last error belongs to the calling thread; every function here is thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_INVALID_DATA = 13;
inline constexpr std::uint32_t ERROR_BAD_COMMAND = 22;

inline constexpr std::uint32_t WSAEINTR = 10004;
inline constexpr std::uint32_t WSAEBADF = 10009;
inline constexpr std::uint32_t WSAEACCES = 10013;
inline constexpr std::uint32_t WSAEFAULT = 10014;
inline constexpr std::uint32_t WSAEINVAL = 10022;
inline constexpr std::uint32_t WSAEMFILE = 10024;
inline constexpr std::uint32_t WSAEWOULDBLOCK = 10035;
inline constexpr std::uint32_t WSAEINPROGRESS = 10036;
inline constexpr std::uint32_t WSAEALREADY = 10037;
inline constexpr std::uint32_t WSAENOTSOCK = 10038;
inline constexpr std::uint32_t WSAEDESTADDRREQ = 10039;
inline constexpr std::uint32_t WSAEMSGSIZE = 10040;
inline constexpr std::uint32_t WSAEPROTOTYPE = 10041;
inline constexpr std::uint32_t WSAENOPROTOOPT = 10042;
inline constexpr std::uint32_t WSAEPROTONOSUPPORT = 10043;
inline constexpr std::uint32_t WSAESOCKTNOSUPPORT = 10044;
inline constexpr std::uint32_t WSAEOPNOTSUPP = 10045;
inline constexpr std::uint32_t WSAEPFNOSUPPORT = 10046;
inline constexpr std::uint32_t WSAEAFNOSUPPORT = 10047;
inline constexpr std::uint32_t WSAEADDRINUSE = 10048;
inline constexpr std::uint32_t WSAEADDRNOTAVAIL = 10049;
inline constexpr std::uint32_t WSAENETDOWN = 10050;
inline constexpr std::uint32_t WSAENETUNREACH = 10051;
inline constexpr std::uint32_t WSAENETRESET = 10052;
inline constexpr std::uint32_t WSAECONNABORTED = 10053;
inline constexpr std::uint32_t WSAECONNRESET = 10054;
inline constexpr std::uint32_t WSAENOBUFS = 10055;
inline constexpr std::uint32_t WSAEISCONN = 10056;
inline constexpr std::uint32_t WSAENOTCONN = 10057;
inline constexpr std::uint32_t WSAESHUTDOWN = 10058;
inline constexpr std::uint32_t WSAETIMEDOUT = 10060;
inline constexpr std::uint32_t WSAECONNREFUSED = 10061;
inline constexpr std::uint32_t WSAELOOP = 10062;
inline constexpr std::uint32_t WSAENAMETOOLONG = 10063;
inline constexpr std::uint32_t WSAEHOSTDOWN = 10064;
inline constexpr std::uint32_t WSAEHOSTUNREACH = 10065;
inline constexpr std::uint32_t WSAEDISCON = 10101;  // the peer closed the connection

// The calling thread's last error. The two pairs are one value, as on Windows.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);
int WSAGetLastError();
void WSASetLastError(int error);

// The Windows socket number for an errno value of a socket call (ETIMEDOUT 10060,
// ECONNREFUSED 10061, EPIPE 10054 ...); WSAEINVAL for a value without one.
std::uint32_t WinSockErrorFromErrno(int err);

// The English text of an error number, without a final full stop or line end: the socket
// numbers, the few system numbers above, and the internet library's (InetError.h);
// "Error %u" for others.
std::string FormatMessageText(std::uint32_t error);

}  // namespace platform
