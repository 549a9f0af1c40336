// MX and A lookups over c-ares, with the meaning of the platform's DNS query call.
//
// The servers are the system's (/etc/resolv.conf), or the one WEXO_DNS_SERVER names as
// "host:port" (tests point it at a loopback server). Each query uses a resolver of its own,
// so any thread may query at any time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

inline constexpr std::uint16_t DNS_TYPE_A = 1;
inline constexpr std::uint16_t DNS_TYPE_MX = 15;

inline constexpr std::uint32_t DNS_QUERY_STANDARD = 0;

// Results of DnsQuery.
inline constexpr long DNS_QUERY_OK = 0;                  // ERROR_SUCCESS
inline constexpr long DNS_ERROR_OUTOFMEMORY = 14;        // ERROR_OUTOFMEMORY
inline constexpr long DNS_ERROR_INVALID_PARAMETER = 87;  // ERROR_INVALID_PARAMETER
inline constexpr long DNS_ERROR_INVALID_NAME = 123;      // ERROR_INVALID_NAME
inline constexpr long DNS_ERROR_CANCELLED = 1223;        // ERROR_CANCELLED
inline constexpr long DNS_ERROR_TIMEOUT = 1460;          // ERROR_TIMEOUT
inline constexpr long DNS_ERROR_RCODE_FORMAT_ERROR = 9001;
inline constexpr long DNS_ERROR_RCODE_SERVER_FAILURE = 9002;
inline constexpr long DNS_ERROR_RCODE_NAME_ERROR = 9003;  // no such name
inline constexpr long DNS_ERROR_RCODE_REFUSED = 9005;
inline constexpr long DNS_INFO_NO_RECORDS = 9501;  // the name has none of that type

// One record of an answer: the owner's name, the type, and the data as text (an MX
// record's mail host, an A record's dotted address).
struct DnsRecord {
  std::string name;
  std::uint16_t type = 0;
  std::string data;
};

// Asks for the records of one type (DNS_TYPE_MX or DNS_TYPE_A) of name. DNS_QUERY_OK with
// the records, else one of the errors above and no records. cancelled, when given, is
// polled while the query waits; once it returns true the query ends with
// DNS_ERROR_CANCELLED. Answers, records or errors, are kept for 60 s per name and type, and
// while one thread asks, the others that want the same answer wait for it.
long DnsQuery(const std::string& name, std::uint16_t type, std::uint32_t options, std::vector<DnsRecord>& records,
              const std::function<bool()>& cancelled = {});

}  // namespace platform
