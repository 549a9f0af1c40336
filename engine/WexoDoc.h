// One check of one site: the link table, its lists, the state of the check and the
// copy of the settings it uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <unordered_map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Host.h"
#include "engine/LinkInfo.h"
#include "engine/UrlMap.h"
#include "platform/TextFile.h"

namespace platform { class CArchive; }

// The path begins with the private temporary folder.
bool IsInTempDir(const std::string& path);

// The key that DomainMatch compares: the last two labels of an http or https host.
std::string GetDomain(std::string_view url);

class CWexoDoc {
 public:
  CWexoDoc();  // reads the settings from [Options]
  virtual ~CWexoDoc();
  void Serialize(platform::CArchive& ar);
  CWexoDoc(const CWexoDoc&) = delete;
  CWexoDoc& operator=(const CWexoDoc&) = delete;

  // A new check from the command line (the url switch); false when none was started.
  bool OnNewDocument();
  // Opens a document file (a failure is shown and gives false); in a batch run the broken
  // links are then sent back to pending.
  bool OnOpenDocument(const std::string& path);
  // The URL list road of a new document: each line of a chosen text file is a root.
  bool StartUrlList();

  // Link table.
  std::size_t GetLinkCount() const { return m_obaLinks.size(); }
  CLinkInfo* GetLink(std::size_t index) const { return m_obaLinks[index].get(); }
  CLinkInfo* FindLink(std::string_view url) const;
  // A new pending record appended to the table (URL array, map and record array).
  CLinkInfo* NewLink(const std::string& url, CLinkInfo* parent, std::uint16_t requestKind);
  // Used by the record's constructor: enters the URL, returns the new index.
  std::uint32_t EnterUrl(const std::string& url);

  bool IsInternal(std::string_view url) const;
  bool IsExcluded(std::string_view url) const;

  void ToggleShowBrokenOnly();
  void RecheckBroken();
  void CloseAllHandles();
  void ToggleCheckExternal();

  // Close guards: false (after the message) while workers run.
  bool CanCloseFrame();
  bool OnFileClose();
  void OnCloseDocument();
  // The refusal text listing every running worker's URL.
  std::string ActiveThreadsMessage() const;

  // A record whose worker runs, or whose result waits for the pump.
  void AddActive(CLinkInfo* link);
  void RemoveActive(CLinkInfo* link);
  bool IsActive(const CLinkInfo* link) const;

  void SetModifiedFlag(bool modified = true) { m_bModified.store(modified, std::memory_order_relaxed); }
  bool IsModified() const { return m_bModified.load(std::memory_order_relaxed); }

  // Moves the counts for a status change (called by CLinkInfo::SetStatus on any thread).
  void OnStatusChange(CLinkInfo* link, std::int16_t oldStatus, std::int16_t newStatus);

  // Scheduler and pump (user-interface thread).
  void ScheduleFetches();
  void ProcessFinishedFetches();
  // The list view's hand-over of a finished fetch.
  void OnUrlDone(const FetchResult& result);
  void RequeueAuthRequired(const std::string& url);
  void FailSimilarHost(const std::string& url, std::int16_t status);
  void ParseFetchedPage(FetchResult& result);
  // The link extractors: every link found reaches the table through AddLink.
  CLinkInfo* AddLink(CLinkInfo* page, std::string& link, unsigned codePage);
  void ParseCss(const FetchResult& result, std::string& text, unsigned codePage);
  void ScanHtml(const FetchResult& result, platform::LineReader& file);
  CLinkInfo* GetSelectedLink() const;
  // Whether a record's row lies in the visible part of the list.
  bool IsRowVisible(const CLinkInfo* link) const;
  void RedrawIfVisible(CLinkInfo* link);
  // The end of a check: batch outputs, mail, quit or the report question.
  void EndOfCheck();
  // Records that have a given "scheme://host[:port]/" prefix, in table order.
  const std::vector<std::uint32_t>* RecordsOfHost(const std::string& prefix) const;
  // Seeds this document's random picks.
  void SeedRandom(unsigned seed) { m_random.seed(seed); }

  std::int32_t CheckExternal = 1;
  std::vector<std::string> m_saInclude;
  std::vector<std::string> m_saExclude;
  std::int32_t ShowBrokenOnly = 0;
  bool m_bPaused = false;
  bool m_bRunning = false;
  bool m_bFinished = false;
  std::vector<std::string> m_saUrls;
  std::vector<std::unique_ptr<CLinkInfo>> m_obaLinks;
  std::vector<CLinkInfo*> m_paActive;
  std::int16_t m_nActiveThreads = 0;
  std::int16_t m_nThreads = 30;
  std::atomic<std::int32_t> m_nPending{0};
  std::atomic<std::int32_t> m_nFinished{0};
  std::int64_t m_tCrawlStart = 0;
  std::int64_t m_nElapsed = 0;
  std::vector<std::string> m_saRedirectSources;
  std::vector<std::string> m_saRedirectTargets;
  std::vector<std::uint16_t> m_waRedirectCodes;
  std::deque<std::unique_ptr<FetchResult>> m_paFinished;

  // Settings block, in the stored order.
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
  std::int32_t AllowCookies = 0;
  std::int32_t ExcludeMSO = 0;
  std::int32_t FailSimilarHosts = 1;
  std::int16_t MaxRetry = 1;
  std::int32_t MakeLowerCase = 0;
  std::int32_t ListLocalDirectories = 0;
  std::int32_t AllowLocalFilesInRemoteCheck = 0;
  std::int32_t PassiveFtp = 0;
  std::string m_csUserAgent;
  std::string m_csAccept;
  std::string m_csIfModifiedSince;
  std::int32_t Referer = 0;
  std::int32_t CheckDoubleSlash = 1;
  std::int32_t EMail = 0;
  std::int32_t EMailOnlyIfBroken = 0;
  std::string EMailSmtpServer;
  std::string EMailFrom;
  std::string EMailTo;
  std::string EMailSubject;

  IWexoView* m_pView = nullptr;
  std::string m_csRootUrl;
  UrlMap m_mapUrls{m_saUrls};
  bool m_bBatch = false;
  std::int32_t DomainMatch = 0;
  std::int32_t ReportTimeouts = 1;

 private:
  void ReadSettings();
  // Running again after a command produced pending records.
  void StartRunning();
  bool StartFetch(CLinkInfo* link);
  CLinkInfo* DrawPending();
  bool AnyStartablePending();
  void NotePending(CLinkInfo* link);
  void IndexRecord(std::uint32_t index);

  std::atomic<bool> m_bModified{false};

  // Records that may be pending (status 0); entries are checked when drawn.
  std::mutex m_pendingLock;
  std::vector<std::uint32_t> m_pendingIndex;
  std::vector<bool> m_inPendingIndex;
  std::mt19937 m_random{12345u};
  // Records by host prefix and by mail domain, for the passes over similar records.
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  std::unordered_map<std::string, std::vector<std::uint32_t>, TextHash, std::equal_to<>> m_byHost;
  std::string m_prefixScratch;  // the host prefix of the record being indexed
  std::unordered_map<std::string, std::vector<std::uint32_t>> m_byMailDomain;
  // This document's one-second clock of the pump.
  std::int64_t m_tLastPump = 0;
  bool m_bInPump = false;
};

// The User-Agent from the Tolvak setting: the blank after "Tolvak" becomes '/' unless the
// value begins with "Tolvak ".
std::string UserAgentFromSetting(std::string value);

constexpr const char* kProgramBanner = "Wexo Link Tolvak 1.3.9 beta";
