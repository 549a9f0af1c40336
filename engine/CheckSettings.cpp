#include "engine/CheckSettings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/Application.h"

namespace {

using S = CheckSettings;

constexpr int kFlag = 1;

// In the order the document reads them; a string's default is defaultText.
constexpr std::array<SettingField, 36> kFields = {{
    {"ShowBrokenOnly", &S::ShowBrokenOnly, 0, nullptr, 0, kFlag},
    // Out of range, these two would start no worker, or ask for one broken link thousands of times.
    {"Threads", &S::Threads, 30, nullptr, 1, 100, true},
    {"AskPassword", &S::AskPassword, 1, nullptr, 0, kFlag},
    {"RedirectIsError", &S::RedirectIsError, 0, nullptr, 0, kFlag},
    {"ReportBroken1", &S::ReportBroken1, 1, nullptr, 0, kFlag},
    {"ReportBroken2", &S::ReportBroken2, 1, nullptr, 0, kFlag},
    {"ReportBrokenLocal", &S::ReportBrokenLocal, 1, nullptr, 0, kFlag},
    {"ReportFtpGopher", &S::ReportFtpGopher, 1, nullptr, 0, kFlag},
    {"ReportRedir", &S::ReportRedir, 1, nullptr, 0, kFlag},
    {"ReportValid", &S::ReportValid, 1, nullptr, 0, kFlag},
    {"SiteMap", &S::SiteMap, 1, nullptr, 0, kFlag},
    {"MaxLevel", &S::MaxLevel, 9999, nullptr, 0, 9999},
    {"ReportStatistics", &S::ReportStatistics, 1, nullptr, 0, kFlag},
    {"ReportOrphans", &S::ReportOrphans, 1, nullptr, 0, kFlag},
    {"DomainMatch", &S::DomainMatch, 0, nullptr, 0, kFlag},
    {"AllowCookies", &S::AllowCookies, 0, nullptr, 0, kFlag},
    {"ExcludeMSO", &S::ExcludeMSO, 0, nullptr, 0, kFlag},
    {"FailSimilarHosts", &S::FailSimilarHosts, 1, nullptr, 0, kFlag},
    {"MaxRetry", &S::MaxRetry, 1, nullptr, 0, 10, true},
    {"ListLocalDirectories", &S::ListLocalDirectories, 0, nullptr, 0, kFlag},
    {"AllowLocalFilesInRemoteCheck", &S::AllowLocalFilesInRemoteCheck, 0, nullptr, 0, kFlag},
    {"MakeLowerCase", &S::MakeLowerCase, 0, nullptr, 0, kFlag},
    {"PassiveFtp", &S::PassiveFtp, 0, nullptr, 0, kFlag},
    {"ReportTimeouts", &S::ReportTimeouts, 1, nullptr, 0, kFlag},
    {"CheckExternal", &S::CheckExternal, 1, nullptr, 0, kFlag},
    {"E-Mail", &S::EMail, 0, nullptr, 0, kFlag},
    {"E-MailOnlyIfBroken", &S::EMailOnlyIfBroken, 0, nullptr, 0, kFlag},
    {"E-Mail-SMTP-Server", &S::EMailSmtpServer, 0, "", 0, 0},
    {"E-Mail-From", &S::EMailFrom, 0, "", 0, 0},
    {"E-Mail-To", &S::EMailTo, 0, "", 0, 0},
    {"E-Mail-Subject", &S::EMailSubject, 0, "", 0, 0},
    {"Tolvak", &S::UserAgent, 0, kProgramBanner, 0, 0},
    {"Accept", &S::Accept, 0, "*/*", 0, 0},
    {"If-Modified-Since", &S::IfModifiedSince, 0, "", 0, 0},
    {"Referer", &S::Referer, 0, nullptr, 0, kFlag},
    {"CheckDoubleSlash", &S::CheckDoubleSlash, 1, nullptr, 0, kFlag},
}};

constexpr std::array<const char*, kSessionIdPatternCount> kSessionIdKeys = {
    "SessionIdRegEx", "SessionIdRegEx2", "SessionIdRegEx3", "SessionIdRegEx4", "SessionIdRegEx5"};
constexpr std::array<const char*, 1> kJavascriptKeys = {"Javascript"};

// The MailSettings keys stand together, from E-Mail on.
constexpr std::size_t FieldIndex(std::string_view key) {
  for (std::size_t i = 0; i < kFields.size(); ++i)
    if (std::string_view(kFields[i].key) == key) return i;
  return kFields.size();
}
constexpr std::size_t kFirstMailField = FieldIndex("E-Mail");
constexpr std::size_t kMailFieldCount = 6;
static_assert(std::string_view(kFields[kFirstMailField].key) == "E-Mail" &&
              std::string_view(kFields[kFirstMailField + kMailFieldCount - 1].key) == "E-Mail-Subject");

void ReadFields(const CWexoApp& app, const char* section, std::span<const SettingField> fields, CheckSettings& s) {
  for (const SettingField& f : fields) {
    std::visit(SettingVisitor{
                   [&](std::int32_t S::*m) { s.*m = ReadSettingInt(app, section, f); },
                   [&](std::int16_t S::*m) { s.*m = ToInt16Saturated(ReadSettingInt(app, section, f)); },
                   [&](std::string S::*m) { s.*m = app.GetProfileString(section, f.key, f.defaultText); },
               },
               f.member);
  }
}

void WriteFields(const CWexoApp& app, const char* section, std::span<const SettingField> fields,
                 const CheckSettings& s) {
  for (const SettingField& f : fields) {
    std::visit(SettingVisitor{
                   [&](std::int32_t S::*m) { app.WriteProfileInt(section, f.key, s.*m); },
                   [&](std::int16_t S::*m) { app.WriteProfileInt(section, f.key, s.*m); },
                   [&](std::string S::*m) { app.WriteProfileString(section, f.key, (s.*m).c_str()); },
               },
               f.member);
  }
}

}  // namespace

std::span<const SettingField> CheckSettingFields() { return kFields; }

const SettingField* FindSettingField(std::string_view key) {
  for (const SettingField& f : kFields)
    if (key == f.key) return &f;
  return nullptr;
}

std::int16_t ToInt16Saturated(long long value) {
  return static_cast<std::int16_t>(std::clamp<long long>(value, INT16_MIN, INT16_MAX));
}

int ReadSettingInt(const CWexoApp& app, const char* section, const SettingField& field) {
  const int value = app.GetProfileInt(section, field.key, field.defaultInt);
  return field.clamped ? std::clamp(value, field.min, field.max) : value;
}

CheckSettings ReadCheckSettings(const CWexoApp& app) {
  CheckSettings s;
  ReadFields(app, "Options", kFields, s);
  s.UserAgent = UserAgentFromSetting(s.UserAgent);
  return s;
}

std::span<const char* const> SessionIdPatternKeys() { return kSessionIdKeys; }

std::span<const char* const> JavascriptPatternKeys() { return kJavascriptKeys; }

std::span<const SettingField> MailSettingFields() {
  return std::span<const SettingField>(kFields).subspan(kFirstMailField, kMailFieldCount);
}

MailSettings ReadMailSettings(const CWexoApp& app, const std::string& section) {
  // The table's members are CheckSettings'; its mail part is the answer.
  CheckSettings s;
  ReadFields(app, section.c_str(), MailSettingFields(), s);
  return static_cast<const MailSettings&>(s);
}

void WriteMailSettings(const CWexoApp& app, const std::string& section, const MailSettings& mail) {
  CheckSettings s;
  static_cast<MailSettings&>(s) = mail;
  WriteFields(app, section.c_str(), MailSettingFields(), s);
}

std::string UserAgentFromSetting(std::string value) {
  const std::size_t pos = value.find("Tolvak ");
  if (pos != std::string::npos && pos != 0) value[pos + 6] = '/';
  return value;
}
