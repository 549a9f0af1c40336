// Saving a check to its document file and opening it again.
#include "engine/DocumentFile.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "engine/Application.h"
#include "engine/Charset.h"
#include "engine/Clock.h"
#include "engine/WexoDoc.h"
#include "platform/Archive.h"

using platform::CArchive;

namespace {

constexpr const char* kLinkInfoClass = "CLinkInfo";
// Settings versions up to this one are understood (11 adds PassiveFtp).
constexpr unsigned kNewestDocumentVersion = 11;
// The smallest record a file can hold (schema 0, after a class tag): what a record count is
// checked against before anything is allocated for it.
constexpr std::size_t kMinRecordBytes = 25;

// The settings items in their stored order.
constexpr std::int32_t CWexoDoc::*kReportFlags[] = {
    &CWexoDoc::AskPassword,     &CWexoDoc::ReportBroken1, &CWexoDoc::ReportBroken2, &CWexoDoc::ReportFtpGopher,
    &CWexoDoc::ReportRedir,     &CWexoDoc::ReportValid,   &CWexoDoc::SiteMap,
};
constexpr std::string CWexoDoc::*kMailStrings[] = {
    &CWexoDoc::EMailSmtpServer, &CWexoDoc::EMailFrom, &CWexoDoc::EMailTo, &CWexoDoc::EMailSubject,
};
constexpr std::int32_t CWexoDoc::*kCrawlFlags[] = {
    &CWexoDoc::AllowCookies,
    &CWexoDoc::FailSimilarHosts,
    &CWexoDoc::ExcludeMSO,
    &CWexoDoc::AllowLocalFilesInRemoteCheck,
    &CWexoDoc::ListLocalDirectories,
    &CWexoDoc::MakeLowerCase,
};

// The texts of a loaded record that are pooled; attached once the whole file is sound.
struct RecordTexts {
  std::string server;
  std::string charset;
};

void StoreRecord(const CLinkInfo& link, CArchive& ar) {
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
  if (status == STATUS_BUSY || (link.m_pDoc && !link.m_pDoc->m_paActive.empty() && link.m_pDoc->IsActive(&link)))
    status = STATUS_PENDING;
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

void DeleteAllRows(IWexoView* view) {
  for (int row = view->GetRowCount() - 1; row >= 0; --row)
    if (CLinkInfo* link = view->GetRowRecord(row)) view->DeleteRecordRow(link);
}

void StoreDocument(CWexoDoc& doc, CArchive& ar) {
  const std::size_t n = doc.m_obaLinks.size();
  // The reader refuses such a file, so it is never written.
  if (doc.m_saUrls.size() != n) throw platform::CArchiveException("the link table is inconsistent", 0);
  for (std::size_t i = 0; i < n; ++i)
    if (doc.m_obaLinks[i]->m_nIndex != i) throw platform::CArchiveException("the link table is inconsistent", 0);

  ar.WriteStringArray(doc.m_saUrls);
  ar.WriteCount(n);
  for (const auto& link : doc.m_obaLinks) {
    ar.WriteObjectTag(kLinkInfoClass, kLinkInfoSchema);
    link->Serialize(ar);
  }
  ar.WriteLong(doc.CheckExternal);
  ar.WriteLong(doc.ShowBrokenOnly);
  ar.WriteLong(doc.CheckExternal);
  ar.WriteLong(doc.ShowBrokenOnly);
  ar.WriteShort(doc.m_nActiveThreads);
  // Always negative, so the settings block below is read back.
  const int threads = std::clamp<int>(doc.m_nThreads, 1, 32767);
  ar.WriteShort(static_cast<std::int16_t>(-threads));
  ar.WriteString(doc.m_csRootUrl);
  ar.WriteWord(kDocumentVersion);
  for (auto member : kReportFlags) ar.WriteLong(doc.*member);
  ar.WriteShort(doc.MaxLevel);
  ar.WriteLong(doc.EMail);
  ar.WriteLong(doc.EMailOnlyIfBroken);
  for (auto member : kMailStrings) ar.WriteString(doc.*member);
  ar.WriteLong(doc.RedirectIsError);
  ar.WriteLong(doc.ReportBrokenLocal);
  ar.WriteLong(doc.ReportStatistics);
  ar.WriteLong(doc.ReportOrphans);
  ar.WriteString(kProgramBanner);
  std::int64_t elapsed = doc.m_nElapsed;
  if (doc.m_nActiveThreads > 0) elapsed += NowSeconds() - doc.m_tCrawlStart;
  ar.WriteTimeSpan(elapsed);
  for (auto member : kCrawlFlags) ar.WriteLong(doc.*member);
  ar.WriteShort(doc.MaxRetry);
  ar.WriteStringArray(doc.m_saRedirectSources);
  ar.WriteStringArray(doc.m_saRedirectTargets);
  ar.WriteWordArray(doc.m_waRedirectCodes);
  ar.WriteStringArray(doc.m_saInclude);
  ar.WriteStringArray(doc.m_saExclude);
}

std::string ErrorPrefix(const char* what, const std::string& path) {
  return std::string("File '") + path + "' " + what + ": ";
}

}  // namespace

void CLinkInfo::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    StoreRecord(*this, ar);
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
  if (m_nActiveThreads != 0 || !m_paActive.empty() || !m_paFinished.empty())
    ar.Fail("the document still has workers running");
  std::vector<std::string> urls = ar.ReadStringArray();
  const std::uint64_t count = ar.ReadCount(kMinRecordBytes);
  if (count != urls.size())
    ar.Fail("the file holds " + std::to_string(urls.size()) + " URLs but " + std::to_string(count) + " records");
  if (count >= UrlMap::kNone) ar.Fail("too many records");
  std::vector<std::unique_ptr<CLinkInfo>> links;
  std::vector<RecordTexts> texts;
  links.reserve(count);
  texts.reserve(count);
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

  std::int32_t reportFlags[std::size(kReportFlags)] = {};
  std::int16_t maxLevel = 0;
  std::int32_t emailOnlyIfBroken = 0;
  std::string mailStrings[std::size(kMailStrings)];
  std::int32_t redirectIsError = 0, reportBrokenLocal = 0, reportStatistics = 0, reportOrphans = 0;
  std::int64_t elapsed = 0;
  std::int32_t crawlFlags[std::size(kCrawlFlags)] = {};
  std::int16_t maxRetry = 0;
  std::int32_t passiveFtp = 0;
  if (version > 0) {
    for (auto& v : reportFlags) v = ar.ReadLong();
    maxLevel = ar.ReadShort();
  }
  if (version > 2) {
    ar.ReadLong();  // E-Mail: a reopened check never mails its report
    emailOnlyIfBroken = ar.ReadLong();
    for (auto& s : mailStrings) s = ar.ReadString();
  }
  if (version > 3) redirectIsError = ar.ReadLong();
  if (version > 4) reportBrokenLocal = ar.ReadLong();
  if (version > 6) {
    reportStatistics = ar.ReadLong();
    reportOrphans = ar.ReadLong();
  }
  if (version > 7) ar.ReadString();  // the product that wrote the file
  if (version > 8) elapsed = ar.ReadTimeSpan();
  if (version > 9) {
    for (auto& v : crawlFlags) v = ar.ReadLong();
    maxRetry = ar.ReadShort();
  }
  if (version > 10) passiveFtp = ar.ReadLong();

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
  if (m_pView) DeleteAllRows(m_pView);
  m_saUrls = std::move(urls);
  m_obaLinks = std::move(links);
  m_mapUrls.Clear();
  m_byHost.clear();
  m_byMailDomain.clear();
  std::int32_t pending = 0, finished = 0;
  {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    m_pendingIndex.clear();
    m_inPendingIndex.assign(m_obaLinks.size(), false);
    for (std::size_t i = 0; i < m_obaLinks.size(); ++i) {
      CLinkInfo* link = m_obaLinks[i].get();
      link->m_pDoc = this;
      AttachTexts(link, texts[i]);
      // A URL that appears twice names its last record, as when entered in table order.
      m_mapUrls.Set(static_cast<std::uint32_t>(i));
      IndexRecord(static_cast<std::uint32_t>(i));
      if (link->m_nStatus == STATUS_PENDING) {
        ++pending;
        m_inPendingIndex[i] = true;
        m_pendingIndex.push_back(static_cast<std::uint32_t>(i));
      } else {
        ++finished;
      }
    }
  }
  m_nPending = pending;
  m_nFinished = finished;

  CheckExternal = checkExternal;
  ShowBrokenOnly = showBrokenOnly;
  m_csRootUrl = std::move(rootUrl);
  if (version > 0) {
    for (std::size_t i = 0; i < std::size(kReportFlags); ++i) this->*kReportFlags[i] = reportFlags[i];
    MaxLevel = maxLevel;
  }
  if (version > 2) {
    EMail = 0;
    EMailOnlyIfBroken = emailOnlyIfBroken;
    for (std::size_t i = 0; i < std::size(kMailStrings); ++i) this->*kMailStrings[i] = std::move(mailStrings[i]);
  }
  if (version > 3) RedirectIsError = redirectIsError;
  if (version > 4) ReportBrokenLocal = reportBrokenLocal;
  if (version > 6) {
    ReportStatistics = reportStatistics;
    ReportOrphans = reportOrphans;
  }
  if (version > 8) m_nElapsed = elapsed;
  if (version > 9) {
    for (std::size_t i = 0; i < std::size(kCrawlFlags); ++i) this->*kCrawlFlags[i] = crawlFlags[i];
    MaxRetry = maxRetry;
  }
  if (version > 10) PassiveFtp = passiveFtp;
  m_saRedirectSources = std::move(redirectSources);
  m_saRedirectTargets = std::move(redirectTargets);
  m_waRedirectCodes = std::move(redirectCodes);
  if (version >= 2) {
    m_saInclude = std::move(include);
    m_saExclude = std::move(exclude);
  }

  if (m_pView) {
    for (const auto& link : m_obaLinks)
      if (!ShowBrokenOnly || link->IsBroken()) m_pView->InsertRow(link.get());
    m_pView->Invalidate();
  }
  m_nActiveThreads = 0;
  m_bPaused = false;
  m_bRunning = true;
  m_bFinished = false;
  if (m_pView) m_pView->PostSchedule();
}

bool SaveDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error) {
  platform::ReplacingFile file;
  std::string reason;
  if (!file.Open(path, reason)) {
    error = ErrorPrefix("could not be saved", path) + reason;
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
  if (!file.Commit(reason)) {
    error = ErrorPrefix("could not be saved", path) + reason;
    return false;
  }
  doc.SetModifiedFlag(false);
  return true;
}

bool OpenDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error) {
  std::string data;
  std::string reason;
  if (!platform::ReadWholeFile(path, data, reason)) {
    error = ErrorPrefix("could not be opened", path) + reason;
    return false;
  }
  try {
    CArchive ar(data);
    doc.Serialize(ar);
  } catch (const platform::CArchiveException& e) {
    error = ErrorPrefix("is not a valid document file", path) + e.what();
    return false;
  } catch (const std::bad_alloc&) {
    error = ErrorPrefix("could not be opened", path) + "out of memory";
    return false;
  }
  doc.SetModifiedFlag(false);
  return true;
}

bool CWexoDoc::OnOpenDocument(const std::string& path) {
  std::string error;
  if (!OpenDocumentFile(*this, path, error)) {
    Host().MessageBox(error, BoxKind::Error);
    return false;
  }
  if (WexoApp().m_bBatch) {
    m_bBatch = true;
    m_bPaused = false;
    m_bRunning = true;
    if (ShowBrokenOnly && m_pView) DeleteAllRows(m_pView);
    RecheckBroken();
    if (m_pView) m_pView->PostSchedule();
  }
  return true;
}
