// The settings one check uses: one value type, and one table of its [Options] keys that the
// settings reader, the document file and the options pages share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "engine/MailSettings.h"

class CWexoApp;

struct CheckSettings : MailSettings {
  std::int32_t ShowBrokenOnly = 0;
  std::int16_t Threads = 30;
  std::int32_t AskPassword = 1;
  std::int32_t RedirectIsError = 0;
  std::int32_t ReportBroken1 = 1;
  std::int32_t ReportBroken2 = 1;
  std::int32_t ReportBrokenLocal = 1;
  std::int32_t ReportFtpGopher = 1;
  std::int32_t ReportRedir = 1;
  std::int32_t ReportValid = 1;
  std::int32_t SiteMap = 1;
  std::int16_t MaxLevel = 9999;
  std::int32_t ReportStatistics = 1;
  std::int32_t ReportOrphans = 1;
  std::int32_t DomainMatch = 0;
  std::int32_t AllowCookies = 0;
  std::int32_t ExcludeMSO = 0;
  std::int32_t FailSimilarHosts = 1;
  std::int16_t MaxRetry = 1;
  std::int32_t ListLocalDirectories = 0;
  std::int32_t AllowLocalFilesInRemoteCheck = 0;
  std::int32_t MakeLowerCase = 0;
  std::int32_t PassiveFtp = 0;
  std::int32_t ReportTimeouts = 1;
  std::int32_t CheckExternal = 1;
  std::string UserAgent;  // from Tolvak, after UserAgentFromSetting
  std::string Accept = "*/*";
  std::string IfModifiedSince;
  std::int32_t Referer = 0;
  std::int32_t CheckDoubleSlash = 1;

  // MailSettings' comparison would see the mail part alone.
  bool operator==(const CheckSettings&) const = delete;
};

// A value read for a 16-bit setting: what does not fit is the nearest value that does, so a
// depth of 40000 reads as 32767 instead of wrapping to a negative depth.
std::int16_t ToInt16Saturated(long long value);

// One [Options] key of CheckSettings. The range is what the options pages accept; integers
// outside it are kept as read, but for the keys that read as the nearest bound (clamped).
struct SettingField {
  const char* key;
  std::variant<std::int32_t CheckSettings::*, std::int16_t CheckSettings::*, std::string CheckSettings::*> member;
  int defaultInt;
  const char* defaultText;  // for strings
  int min;
  int max;
  bool clamped = false;
};

// Visits a field's member with one lambda per member type: std::visit(SettingVisitor{...}, f.member).
template <class... F>
struct SettingVisitor : F... {
  using F::operator()...;
};
template <class... F>
SettingVisitor(F...) -> SettingVisitor<F...>;

// Every key, in the order a document reads them.
std::span<const SettingField> CheckSettingFields();
// The field of a key (exact spelling); nullptr when there is none.
const SettingField* FindSettingField(std::string_view key);

// The settings as [Options] holds them now (absent keys give the defaults).
CheckSettings ReadCheckSettings(const CWexoApp& app);
// An integer key of a section as the settings reader takes it: clamped keys within range.
int ReadSettingInt(const CWexoApp& app, const char* section, const SettingField& field);

// The keys of MailSettings, in the table's order.
std::span<const SettingField> MailSettingFields();
// The mail settings of a section ("Options", or a profile's "<root>-Options"); absent keys
// give the table's defaults, never the [Options] values.
MailSettings ReadMailSettings(const CWexoApp& app, const std::string& section);
// Writes every mail key to section, in the table's order.
void WriteMailSettings(const CWexoApp& app, const std::string& section, const MailSettings& mail);

// ---- Keys read where they are used, not by the document

// The session-id patterns, [Options] SessionIdRegEx and SessionIdRegEx2 to SessionIdRegEx5,
// applied in this order to every internal link added. They are read at each use: a changed
// settings file takes effect at the next link (SettingPatterns keeps them compiled).
inline constexpr std::size_t kSessionIdPatternCount = 5;
// Their keys, in the order they apply.
std::span<const char* const> SessionIdPatternKeys();

// The javascript: rewrite, [Options] Javascript: group 1 of its match is the link that a
// "javascript:" link stands for. Read at each such link, as the session-id patterns.
std::span<const char* const> JavascriptPatternKeys();

// The User-Agent from the Tolvak setting: the blank after "Tolvak" becomes '/' unless the
// value begins with "Tolvak ".
std::string UserAgentFromSetting(std::string value);

constexpr const char* kProgramBanner = "Wexo Link Tolvak 1.3.9 beta";
