#include "platform/InetError.h"

namespace platform {

std::string InternetErrorMessage(std::uint32_t error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT: return "The operation timed out";
    case ERROR_INTERNET_INTERNAL_ERROR: return "An internal error occurred in the internet library";
    case ERROR_INTERNET_INVALID_URL: return "The URL is invalid";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return "The URL scheme is not supported";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "The server name could not be resolved";
    case ERROR_INTERNET_INCORRECT_PASSWORD: return "The user name or password was not accepted";
    case ERROR_INTERNET_OPERATION_CANCELLED: return "The operation was cancelled";
    case ERROR_INTERNET_INCORRECT_HANDLE_STATE: return "The request is not in a state for this operation";
    case ERROR_INTERNET_CANNOT_CONNECT: return "A connection to the server could not be established";
    case ERROR_INTERNET_CONNECTION_ABORTED: return "The connection to the server ended abnormally";
    case ERROR_INTERNET_CONNECTION_RESET: return "The connection to the server was reset";
    case ERROR_INTERNET_FORCE_RETRY: return "The request must be sent again";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "The server's certificate has expired or is not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return "The server's certificate does not match the host name";
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED: return "The server asks for a client certificate";
    case ERROR_INTERNET_INVALID_CA: return "The server's certificate was issued by an unknown authority";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return "The revocation of the server's certificate could not be checked";
    case ERROR_HTTP_HEADER_NOT_FOUND: return "The header was not found";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: return "The server returned an invalid or unrecognised response";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "The secure connection to the server failed";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect";
    default: return "internet error " + std::to_string(error);
  }
}

CInternetException::CInternetException(std::uint32_t error, std::string message)
    : m_dwError(error), m_message(message.empty() ? InternetErrorMessage(error) : std::move(message)) {}

namespace {
thread_local std::uint32_t t_lastError = 0;
}

std::uint32_t InternetGetLastError() { return t_lastError; }

void InternetSetLastError(std::uint32_t error) { t_lastError = error; }

}  // namespace platform
