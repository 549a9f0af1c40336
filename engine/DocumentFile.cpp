// Saving a check to its document file and opening it again.
#include "engine/DocumentFile.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <new>
#include <stdexcept>
#include <variant>

#include "engine/Application.h"
#include "engine/Charset.h"
#include "engine/Clock.h"
#include "engine/WexoDoc.h"
#include "platform/Archive.h"
#include "platform/OutputFile.h"
#include "platform/TextFile.h"

using platform::CArchive;

namespace {

constexpr const char* kLinkInfoClass = "CLinkInfo";
// Settings versions up to this one are understood (11 adds PassiveFtp).
constexpr unsigned kNewestDocumentVersion = 11;
// The smallest record a file can hold (schema 0, after a class tag): what a record count is
// checked against before anything is allocated for it.
constexpr std::size_t kMinRecordBytes = 25;

// The settings block: each item with the file version that added it. Two items are not
// settings: the product that wrote the file, and the seconds spent checking.
constexpr const char* kProductItem = "";
constexpr const char* kElapsedItem = nullptr;
struct StoredItem {
  const char* key;
  unsigned since;
};
constexpr StoredItem kStoredSettings[] = {
    {"AskPassword", 1},
    {"ReportBroken1", 1},
    {"ReportBroken2", 1},
    {"ReportFtpGopher", 1},
    {"ReportRedir", 1},
    {"ReportValid", 1},
    {"SiteMap", 1},
    {"MaxLevel", 1},
    {"E-Mail", 3},
    {"E-MailOnlyIfBroken", 3},
    {"E-Mail-SMTP-Server", 3},
    {"E-Mail-From", 3},
    {"E-Mail-To", 3},
    {"E-Mail-Subject", 3},
    {"RedirectIsError", 4},
    {"ReportBrokenLocal", 5},
    {"ReportStatistics", 7},
    {"ReportOrphans", 7},
    {kProductItem, 8},
    {kElapsedItem, 9},
    {"AllowCookies", 10},
    {"FailSimilarHosts", 10},
    {"ExcludeMSO", 10},
    {"AllowLocalFilesInRemoteCheck", 10},
    {"ListLocalDirectories", 10},
    {"MakeLowerCase", 10},
    {"MaxRetry", 10},
    {"PassiveFtp", 11},
};

const SettingField& StoredField(const StoredItem& item) {
  const SettingField* field = FindSettingField(item.key);
  if (!field) throw std::logic_error(std::string("no setting ") + item.key);
  return *field;
}

void StoreSettings(const CWexoDoc& doc, CArchive& ar) {
  const CheckSettings& settings = doc.Settings();
  for (const StoredItem& item : kStoredSettings) {
    if (item.since > kDocumentVersion) break;
    if (item.key == kElapsedItem) {
      ar.WriteTimeSpan(doc.GetElapsedSeconds());
    } else if (item.key == kProductItem) {
      ar.WriteString(kProgramBanner);
    } else {
      std::visit(SettingVisitor{
                     [&](std::int32_t CheckSettings::*m) { ar.WriteLong(settings.*m); },
                     [&](std::int16_t CheckSettings::*m) { ar.WriteShort(settings.*m); },
                     [&](std::string CheckSettings::*m) { ar.WriteString(settings.*m); },
                 },
                 StoredField(item).member);
    }
  }
}

// Reads the items a file of this version holds into settings; the others keep their values.
void LoadSettings(CArchive& ar, unsigned version, CheckSettings& settings, std::int64_t& elapsed) {
  for (const StoredItem& item : kStoredSettings) {
    if (item.since > version) break;
    if (item.key == kElapsedItem) {
      elapsed = ar.ReadTimeSpan();
    } else if (item.key == kProductItem) {
      ar.ReadString();
    } else {
      std::visit(SettingVisitor{
                     [&](std::int32_t CheckSettings::*m) { settings.*m = ar.ReadLong(); },
                     [&](std::int16_t CheckSettings::*m) { settings.*m = ar.ReadShort(); },
                     [&](std::string CheckSettings::*m) { settings.*m = ar.ReadString(); },
                 },
                 StoredField(item).member);
    }
  }
}

// The texts of a loaded record that are pooled; attached once the whole file is sound.
struct RecordTexts {
  std::string server;
  std::string charset;
};

// active: the record's worker runs or its result waits for the pump.
void StoreRecord(const CLinkInfo& link, CArchive& ar, bool active) {
  ar.WriteDWordArray(link.m_dwaReferrers);
  ar.WriteDWord(link.m_nIndex);
  ar.WriteWord(link.m_wRequestKind);
  ar.WriteQWord(static_cast<std::uint64_t>(link.m_nSize));
  ar.WriteString(link.m_csMimeType);
  ar.WriteLong(link.m_bDateKnown);
  ar.WriteTime(link.m_tDate);
  // A busy record, and one whose result has not been parsed yet, must be fetched again:
  // saved with its final status it would never be parsed, and its links would be lost.
  std::int16_t status = link.m_nStatus;
  if (status == STATUS_BUSY || active) status = STATUS_PENDING;
  ar.WriteShort(status);
  ar.WriteDWord(link.m_nLinksOut);
  ar.WriteString(link.GetServer());
  ar.WriteString(link.m_csTitle);
  ar.WriteShort(link.m_nLevel);
  ar.WriteString(link.m_csStatusText);
  ar.WriteTimeSpan(link.m_tsDuration);
  ar.WriteShort(link.m_nDurationMs);
  ar.WriteString(link.GetCharsetName());
  ar.WriteString(link.m_csDescription);
  ar.WriteLong(link.m_bInJar);
  ar.WriteString(link.m_csKeywords);
  ar.WriteByte(link.m_pDigest ? 1 : 0);
  if (link.m_pDigest) ar.WriteBytes(link.m_pDigest->data(), link.m_pDigest->size());
  ar.WriteStringArray(link.m_saAnchors);
  ar.WriteStringArray(link.m_saFragments);
}

// The record block as the class schema of the archive gates it.
void LoadRecord(CLinkInfo& link, CArchive& ar, RecordTexts& texts) {
  const unsigned schema = ar.GetObjectSchema();
  if (schema > 8) {
    link.m_dwaReferrers = ar.ReadDWordArray();
  } else {
    const std::vector<std::uint16_t> narrow = ar.ReadWordArray();
    link.m_dwaReferrers.assign(narrow.begin(), narrow.end());
  }
  link.m_nIndex = schema > 4 ? ar.ReadDWord() : ar.ReadWord();
  link.m_wRequestKind = ar.ReadWord();
  link.m_nSize = schema > 12 ? static_cast<std::int64_t>(ar.ReadQWord()) : ar.ReadDWord();
  link.m_csMimeType = ar.ReadString();
  link.m_bDateKnown = ar.ReadLong();
  link.m_tDate = ar.ReadTime();
  link.m_nStatus = ar.ReadShort();
  // Nothing runs for a loaded record: busy means it was never finished.
  if (link.m_nStatus == STATUS_BUSY) link.m_nStatus = STATUS_PENDING;
  link.m_nLinksOut = schema > 4 ? ar.ReadDWord() : ar.ReadWord();
  if (schema > 1) texts.server = ar.ReadString();
  if (schema > 2) link.m_csTitle = ar.ReadString();
  if (schema > 3) link.m_nLevel = ar.ReadShort();
  if (schema > 5) link.m_csStatusText = ar.ReadString();
  if (schema > 6) link.m_tsDuration = ar.ReadTimeSpan();
  if (schema > 13) link.m_nDurationMs = ar.ReadShort();
  if (schema > 9) texts.charset = ar.ReadString();
  if (schema > 11) link.m_csDescription = ar.ReadString();
  if (schema > 14) link.m_bInJar = ar.ReadLong();
  if (schema > 15) link.m_csKeywords = ar.ReadString();
  if (schema > 16) {
    const std::uint8_t present = ar.ReadByte();
    if (present > 1) ar.Fail("a record's digest flag is " + std::to_string(present));
    if (present) {
      auto digest = std::make_unique<Md5Digest>();
      ar.ReadBytes(digest->data(), digest->size());
      link.m_pDigest = std::move(digest);
    }
  }
  if (schema > 7) {
    link.m_saAnchors = ar.ReadStringArray();
    link.m_saFragments = ar.ReadStringArray();
  }
}

void AttachTexts(CLinkInfo* link, const RecordTexts& texts) {
  if (!texts.server.empty()) InternServerName(link, texts.server);
  if (!texts.charset.empty()) SetCharset(link, texts.charset);
}

void StoreDocument(const CWexoDoc& doc, CArchive& ar) {
  const std::size_t n = doc.GetLinkCount();
  // The reader refuses such a file, so it is never written.
  if (doc.GetUrls().size() != n) throw platform::CArchiveException("the link table is inconsistent", 0);
  for (std::size_t i = 0; i < n; ++i)
    if (doc.GetLink(i)->m_nIndex != i) throw platform::CArchiveException("the link table is inconsistent", 0);

  const auto& urls = doc.GetUrls();
  ar.WriteStringArray(urls);
  ar.WriteCount(n);
  for (std::size_t i = 0; i < n; ++i) {
    ar.WriteObjectTag(kLinkInfoClass, kLinkInfoSchema);
    StoreRecord(*doc.GetLink(i), ar, doc.IsActive(doc.GetLink(i)));
  }
  const CheckSettings& settings = doc.Settings();
  ar.WriteLong(settings.CheckExternal);
  ar.WriteLong(settings.ShowBrokenOnly);
  ar.WriteLong(settings.CheckExternal);
  ar.WriteLong(settings.ShowBrokenOnly);
  ar.WriteShort(static_cast<std::int16_t>(doc.GetActiveThreadCount()));
  // Always negative, so the settings block below is read back.
  const int threads = std::clamp<int>(settings.Threads, 1, 32767);
  ar.WriteShort(static_cast<std::int16_t>(-threads));
  ar.WriteString(doc.GetRootUrl());
  ar.WriteWord(kDocumentVersion);
  StoreSettings(doc, ar);
  ar.WriteStringArray(doc.GetRedirectSources());
  ar.WriteStringArray(doc.GetRedirectTargets());
  ar.WriteWordArray(doc.GetRedirectCodes());
  ar.WriteStringArray(doc.GetIncludes());
  ar.WriteStringArray(doc.GetExcludes());
}

std::string ErrorPrefix(const char* what, const std::string& path) {
  return std::string("File '") + path + "' " + what + ": ";
}

}  // namespace

void CLinkInfo::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    // A record on its own knows whether it is in a crawl's active list.
    StoreRecord(*this, ar, m_nActiveSlot != kNotActive);
    return;
  }
  RecordTexts texts;
  LoadRecord(*this, ar, texts);
  AttachTexts(this, texts);
}

void CWexoDoc::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    StoreDocument(*this, ar);
    return;
  }

  // Everything is read and checked first; the document changes only once the whole file
  // has proved sound.
  if (!m_crawl.IsIdle()) ar.Fail("the document still has workers running");
  std::vector<std::string> urls = ar.ReadStringArray();
  const std::uint64_t count = ar.ReadCount(kMinRecordBytes);
  if (count != urls.size())
    ar.Fail("the file holds " + std::to_string(urls.size()) + " URLs but " + std::to_string(count) + " records");
  if (count >= UrlMap::kNone) ar.Fail("too many records");
  std::vector<std::unique_ptr<CLinkInfo>> links;
  std::vector<RecordTexts> texts;
  // The count is only known to fit the rest of the file, which may be far more than it holds.
  const std::size_t ahead = static_cast<std::size_t>(std::min<std::uint64_t>(count, 64 * 1024));
  links.reserve(ahead);
  texts.reserve(ahead);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint16_t schema = ar.ReadObjectTag(kLinkInfoClass);
    if (schema > kLinkInfoSchema) ar.Fail("record schema " + std::to_string(schema) + " is newer than this program");
    auto link = std::make_unique<CLinkInfo>();
    LoadRecord(*link, ar, texts.emplace_back());
    if (link->m_nIndex != i)
      ar.Fail("record " + std::to_string(i) + " gives its index as " + std::to_string(link->m_nIndex));
    for (std::uint32_t r : link->m_dwaReferrers)
      if (r >= count) ar.Fail("record " + std::to_string(i) + " names referrer " + std::to_string(r));
    links.push_back(std::move(link));
  }

  std::int32_t checkExternal = ar.ReadLong();
  std::int32_t showBrokenOnly = ar.ReadLong();
  checkExternal = ar.ReadLong();
  showBrokenOnly = ar.ReadLong();
  ar.ReadShort();  // the workers that ran: none run after loading
  // Threads stays as the settings give it: the file's value only says which layout follows.
  const bool versioned = ar.ReadShort() < 0;
  std::string rootUrl = ar.ReadString();
  unsigned version = 0;
  if (versioned) {
    version = ar.ReadWord();
    if (version > kNewestDocumentVersion)
      ar.Fail("settings version " + std::to_string(version) + " is newer than this program");
  }

  CheckSettings settings = m_settings;
  std::int64_t elapsed = m_crawl.GetElapsedSeconds();
  LoadSettings(ar, version, settings, elapsed);

  std::vector<std::string> redirectSources = ar.ReadStringArray();
  std::vector<std::string> redirectTargets = ar.ReadStringArray();
  std::vector<std::uint16_t> redirectCodes;
  if (version > 5)
    redirectCodes = ar.ReadWordArray();
  else
    redirectCodes.assign(redirectSources.size(), 0);
  if (redirectTargets.size() != redirectSources.size() || redirectCodes.size() != redirectSources.size())
    ar.Fail("the redirect lists differ in length");
  std::vector<std::string> include, exclude;
  if (version >= 2) {
    include = ar.ReadStringArray();
    exclude = ar.ReadStringArray();
  }
  // The document is the whole file.
  if (ar.Remaining() != 0) ar.Fail("unexpected data after the end of the document");

  // --- apply ---
  for (std::size_t i = 0; i < links.size(); ++i) AttachTexts(links[i].get(), texts[i]);
  m_table.Restore(std::move(urls), std::move(links));
  m_crawl.RebuildPending();

  // The file's settings where it has them; Threads stays as the settings file gives it.
  const std::int16_t threads = m_settings.Threads;
  m_settings = std::move(settings);
  m_settings.Threads = threads;
  m_settings.CheckExternal = checkExternal;
  m_settings.ShowBrokenOnly = showBrokenOnly;
  // A reopened check never mails its report.
  if (version > 2) m_settings.EMail = 0;
  m_crawl.SetElapsedSeconds(elapsed);
  m_csRootUrl = std::move(rootUrl);
  m_saRedirectSources = std::move(redirectSources);
  m_saRedirectTargets = std::move(redirectTargets);
  m_waRedirectCodes = std::move(redirectCodes);
  if (version >= 2) {
    m_saInclude = std::move(include);
    m_saExclude = std::move(exclude);
  }
  NoteHeldAtDepth();

  m_crawl.MarkRunning();
  NotifyTableReset();
  if (m_pUi) m_pUi->PostSchedule();
}

void CWexoDoc::SetPathName(const std::string& path) {
  // Kept absolute, so that a later run from another folder names the same document.
  std::error_code ec;
  const std::filesystem::path full = path.empty() ? std::filesystem::path() : std::filesystem::absolute(path, ec);
  m_strPathName = ec ? path : full.lexically_normal().string();
}

bool SaveDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error) {
  platform::OutputFile file;
  if (!file.Open(path)) {
    error = ErrorPrefix("could not be saved", path) + platform::FileErrorText(file.ErrorNumber());
    return false;
  }
  try {
    CArchive ar(file.Fd());
    doc.Serialize(ar);
    ar.Flush();
  } catch (const platform::CArchiveException& e) {
    error = ErrorPrefix("could not be saved", path) + e.what();
    return false;
  } catch (const std::bad_alloc&) {
    error = ErrorPrefix("could not be saved", path) + "out of memory";
    return false;
  }
  if (!file.Commit()) {
    error = ErrorPrefix("could not be saved", path) + platform::FileErrorText(file.ErrorNumber());
    return false;
  }
  doc.SetModifiedFlag(false);
  doc.SetPathName(path);
  return true;
}

bool OpenDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error) {
  std::string reason;
  std::uint64_t size = 0;
  const int fd = platform::OpenRegularFile(path, size, reason);
  if (fd < 0) {
    error = ErrorPrefix("could not be opened", path) + reason;
    return false;
  }
  // Read as it is parsed: a huge file is refused where it stops making sense.
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  try {
    CArchive ar(CArchive::FileSource{fd, size});
    doc.Serialize(ar);
  } catch (const platform::CArchiveException& e) {
    error = ErrorPrefix("is not a valid document file", path) + e.what();
    return false;
  } catch (const std::bad_alloc&) {
    error = ErrorPrefix("could not be opened", path) + "out of memory";
    return false;
  }
  doc.SetModifiedFlag(false);
  doc.SetPathName(path);
  return true;
}

bool CWexoDoc::OnOpenDocument(const std::string& path) {
  std::string error;
  if (!OpenDocumentFile(*this, path, error)) {
    Host().MessageBox(error, BoxKind::Error);
    return false;
  }
  if (App().m_bBatch) {
    m_bBatch = true;
    MarkRunning();
    RecheckBroken();
    // A broken-only list loses every row: the broken records are pending again.
    if (m_settings.ShowBrokenOnly) NotifyTableReset();
    if (m_pUi) m_pUi->PostSchedule();
  }
  return true;
}
