// The report mail's settings, one value type wherever they go: the e-mail options dialog edits
// them, the starting-point dialog keeps them in [Options] and in a root URL's "<root>-Options"
// profile section, a check mails with its copy (CheckSettings, whose table reads and writes them).
#pragma once

#include <cstdint>
#include <string>

struct MailSettings {
  std::int32_t EMail = 0;  // mail the report at the end of the check, and quit
  std::int32_t EMailOnlyIfBroken = 0;
  std::string EMailSmtpServer;
  std::string EMailFrom;
  std::string EMailTo;  // one or more addresses, separated by ',' or ';'
  std::string EMailSubject;

  bool operator==(const MailSettings&) const = default;
};
