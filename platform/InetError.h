// Error numbers of the internet library and the exception its calls throw.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr std::uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
inline constexpr std::uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr std::uint32_t ERROR_INTERNET_FORCE_RETRY = 12032;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr std::uint32_t ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED = 12044;
inline constexpr std::uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr std::uint32_t ERROR_INTERNET_SEC_CERT_REV_FAILED = 12057;
inline constexpr std::uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr std::uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr std::uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;

// English text for an internet-library error number ("internet error %u" for
// numbers without a text of their own).
std::string InternetErrorMessage(std::uint32_t error);

// Thrown by the session, connection and file calls when a request fails.
class CInternetException : public std::exception {
 public:
  explicit CInternetException(std::uint32_t error, std::string message = {});

  // The message; the error's standard text when none was given.
  std::string GetErrorMessage() const { return m_message; }
  const char* what() const noexcept override { return m_message.c_str(); }

  std::uint32_t m_dwError;

 private:
  std::string m_message;
};

// Last error of the calls on this thread that report failure by returning false
// (QueryInfo: 12150, AddRequestHeaders: 87). Stands in for GetLastError there.
std::uint32_t InternetGetLastError();
void InternetSetLastError(std::uint32_t error);

}  // namespace platform
