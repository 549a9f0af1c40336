// The fetch worker's mailto handler: the mail domain must have an MX or an A record. No
// mail server is contacted.
#include <string>
#include <vector>

#include "engine/SchemeHandlers.h"
#include "engine/Url.h"
#include "platform/Dns.h"

namespace {

enum class Lookup { Found, Missing, Cancelled };

Lookup HasRecord(const FetchJob& job, const std::string& domain, std::uint16_t type) {
  std::vector<platform::DnsRecord> records;
  const long rc =
      platform::DnsQuery(domain, type, platform::DNS_QUERY_STANDARD, records, [&job] { return job.Aborted(); });
  if (rc == platform::DNS_ERROR_CANCELLED) return Lookup::Cancelled;
  if (rc != platform::DNS_QUERY_OK) return Lookup::Missing;
  for (const platform::DnsRecord& r : records)
    if (r.type == type) return Lookup::Found;
  return Lookup::Missing;
}

}  // namespace

void FetchMailto(FetchJob& job) {
  // The same helper names the domain when a result is spread to its other addresses.
  const std::string domain = MailtoDomain(job.request.url);
  if (!domain.empty()) {
    for (std::uint16_t type : {platform::DNS_TYPE_MX, platform::DNS_TYPE_A}) {
      switch (HasRecord(job, domain, type)) {
        case Lookup::Found: job.Finish(STATUS_MAIL_HOST_OK, std::string()); return;
        case Lookup::Cancelled:
          job.Finish(static_cast<std::int32_t>(platform::ERROR_INTERNET_OPERATION_CANCELLED),
                     platform::InternetErrorMessage(platform::ERROR_INTERNET_OPERATION_CANCELLED));
          return;
        case Lookup::Missing: break;
      }
    }
  }
  job.Finish(static_cast<std::int32_t>(platform::ERROR_INTERNET_NAME_NOT_RESOLVED),
             "no MX or A record found for domain '" + domain + "'");
}
