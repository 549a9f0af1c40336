#include "platform/LastError.h"
#include "platform/InetError.h"

#include <cerrno>

namespace platform {

namespace {
thread_local std::uint32_t t_lastError = ERROR_SUCCESS;
}

std::uint32_t GetLastError() { return t_lastError; }

void SetLastError(std::uint32_t error) { t_lastError = error; }

int WSAGetLastError() { return static_cast<int>(t_lastError); }

void WSASetLastError(int error) { t_lastError = static_cast<std::uint32_t>(error); }

std::uint32_t WinSockErrorFromErrno(int err) {
  switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSAEINVAL;
  }
}

std::string FormatMessageText(std::uint32_t error) {
  switch (error) {
    case ERROR_SUCCESS: return "The operation completed successfully";
    case ERROR_INVALID_DATA: return "The data is invalid";
    case ERROR_BAD_COMMAND: return "The device does not recognize the command";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect";
    case WSAEINTR: return "A blocking operation was interrupted";
    case WSAEBADF: return "The file handle supplied is not valid";
    case WSAEACCES: return "An attempt was made to access a socket in a way forbidden by its access permissions";
    case WSAEFAULT: return "The system detected an invalid pointer address";
    case WSAEINVAL: return "An invalid argument was supplied";
    case WSAEMFILE: return "Too many open sockets";
    case WSAEWOULDBLOCK: return "A non-blocking socket operation could not be completed immediately";
    case WSAEINPROGRESS: return "A blocking operation is currently executing";
    case WSAEALREADY:
      return "An operation was attempted on a non-blocking socket that already had an operation in progress";
    case WSAENOTSOCK: return "An operation was attempted on something that is not a socket";
    case WSAEDESTADDRREQ: return "A required address was omitted from an operation on a socket";
    case WSAEMSGSIZE: return "A message sent on a socket was larger than the internal message buffer";
    case WSAEPROTOTYPE: return "A protocol was specified that does not support the semantics of the socket type";
    case WSAENOPROTOOPT: return "An unknown, invalid or unsupported option or level was specified";
    case WSAEPROTONOSUPPORT: return "The requested protocol has not been configured into the system";
    case WSAESOCKTNOSUPPORT: return "The support for the specified socket type does not exist in this address family";
    case WSAEOPNOTSUPP: return "The attempted operation is not supported for the type of object referenced";
    case WSAEPFNOSUPPORT: return "The protocol family has not been configured into the system";
    case WSAEAFNOSUPPORT: return "An address incompatible with the requested protocol was used";
    case WSAEADDRINUSE: return "Only one usage of each socket address is normally permitted";
    case WSAEADDRNOTAVAIL: return "The requested address is not valid in its context";
    case WSAENETDOWN: return "A socket operation encountered a dead network";
    case WSAENETUNREACH: return "A socket operation was attempted to an unreachable network";
    case WSAENETRESET: return "The connection has been broken due to keep-alive activity";
    case WSAECONNABORTED: return "An established connection was aborted by the software in your host machine";
    case WSAECONNRESET: return "An existing connection was forcibly closed by the remote host";
    case WSAENOBUFS: return "No buffer space was available for an operation on a socket";
    case WSAEISCONN: return "A connect request was made on an already connected socket";
    case WSAENOTCONN: return "The socket is not connected";
    case WSAESHUTDOWN: return "The socket had already been shut down";
    case WSAETIMEDOUT: return "The connected party did not properly respond after a period of time";
    case WSAECONNREFUSED: return "No connection could be made because the target machine actively refused it";
    case WSAELOOP: return "Cannot translate name";
    case WSAENAMETOOLONG: return "Name component or name was too long";
    case WSAEHOSTDOWN: return "A socket operation failed because the destination host was down";
    case WSAEHOSTUNREACH: return "A socket operation was attempted to an unreachable host";
    case WSAEDISCON: return "The remote party closed the connection";
    default:
      if (error >= 12000 && error < 12200) return InternetErrorMessage(error);
      return "Error " + std::to_string(error);
  }
}

}  // namespace platform
