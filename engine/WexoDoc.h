// One check of one site: the link table, its lists, the state of the check and the
// copy of the settings it uses.
//
// Threads: everything here belongs to the user-interface thread. Workers get a copy of what
// they need (FetchRequest) and hand back an outcome that the document applies in one step
// (OnUrlDone); the only state they share with a record is its session handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CheckSettings.h"
#include "engine/Crawl.h"
#include "engine/EngineContext.h"
#include "engine/HandOver.h"
#include "engine/Host.h"
#include "engine/LinkInfo.h"
#include "engine/LinkTable.h"
#include "engine/PageIntake.h"
#include "engine/TempFiles.h"
#include "platform/TextFile.h"

namespace platform {
class CArchive;
}

// Where a new document's check takes its root from; whoever creates the document says so.
enum class CheckStart {
  StartingPointDialog,  // "Check URL": the starting-point dialog
  UrlList,              // "Check URL List": a text file of URLs
  CommandLine,          // the url switch of the command line (a batch run); without one, the dialog
};

class CWexoDoc {
 public:
  // Reads the settings from [Options]; context.host and context.app are required.
  explicit CWexoDoc(const EngineContext& context);
  virtual ~CWexoDoc();
  void Serialize(platform::CArchive& ar);
  CWexoDoc(const CWexoDoc&) = delete;
  CWexoDoc& operator=(const CWexoDoc&) = delete;

  // The list that shows this document: where the scheduler posts, the rows it prefers, and who
  // hears of changes. Any may be nullptr (no list: nothing runs). With ui, the workers started
  // from now on hand over through the result given back, through the host's user-interface
  // thread; the view closes it as it goes. The hand-over of an earlier view is closed here.
  std::shared_ptr<ResultHandOver> AttachView(IUiThread* ui, IPreferredRows* rows, IDocumentObserver* observer);

  // A new check, started the way its creator asked for; false when none was started (the
  // dialog was cancelled, the URL list could not be read). The start and the end of a check
  // are the check run's (engine/CheckRun.h); these three forward to it.
  bool OnNewDocument(CheckStart start);
  // Opens a document file (a failure is shown and gives false); in a batch run the broken
  // links are then sent back to pending.
  bool OnOpenDocument(const std::string& path);
  // A new document from a URL list: each line of a chosen text file is a root.
  bool StartUrlList();

  // ---- The table, read-only. Record indices are stable; a record's URL never changes.
  const LinkTable& Table() const { return m_table; }
  std::size_t GetLinkCount() const { return m_table.GetLinkCount(); }
  const CLinkInfo* GetLink(std::size_t index) const { return m_table.GetLink(index); }
  const std::string& GetUrl(std::size_t index) const { return m_table.GetUrl(index); }
  const std::vector<std::string>& GetUrls() const { return m_table.GetUrls(); }
  const CLinkInfo* FindLink(std::string_view url) const { return m_table.FindLink(url); }
  // The URLs of the pages that link to a record, in the order they were found.
  UrlsByIndex GetReferrerUrls(const CLinkInfo& link) const { return m_table.GetReferrerUrls(link); }
  // The records a page links to, in table order (kept as links are added).
  const std::vector<std::uint32_t>& GetTargets(const CLinkInfo& page) const { return m_table.GetTargets(page); }
  // The URLs of the known pages a record links to, each followed by CR LF.
  std::string GetLinkedUrlsText(const CLinkInfo& page) const { return m_table.GetLinkedUrlsText(page); }
  // Records that have a given "scheme://host[:port]/" prefix, in table order.
  const std::vector<std::uint32_t>* RecordsOfHost(const std::string& prefix) const {
    return m_table.RecordsOfHost(prefix);
  }

  const std::string& GetRootUrl() const { return m_csRootUrl; }
  void SetRootUrl(std::string root) { m_csRootUrl = std::move(root); }
  const std::vector<std::string>& GetIncludes() const { return m_saInclude; }
  const std::vector<std::string>& GetExcludes() const { return m_saExclude; }
  // The include and exclude prefixes, replaced whole; neither marks the document modified.
  void SetIncludes(std::vector<std::string> include) { m_saInclude = std::move(include); }
  void SetExcludes(std::vector<std::string> exclude) { m_saExclude = std::move(exclude); }
  // The redirects seen: three lists indexed alike (source, resolved target, code or 0).
  const std::vector<std::string>& GetRedirectSources() const { return m_saRedirectSources; }
  const std::vector<std::string>& GetRedirectTargets() const { return m_saRedirectTargets; }
  const std::vector<std::uint16_t>& GetRedirectCodes() const { return m_waRedirectCodes; }
  void AddRedirect(const std::string& source, const std::string& target, std::uint16_t code);

  const CheckSettings& Settings() const { return m_settings; }
  // Replaces the check's settings; a caller whose change the document file keeps marks the
  // document modified itself.
  void SetSettings(CheckSettings settings) { m_settings = std::move(settings); }
  const EngineContext& Context() const { return m_ctx; }
  IWexoHost& Host() const { return *m_ctx.host; }
  CWexoApp& App() const { return *m_ctx.app; }
  std::int64_t Now() const;

  // The crawl's state, read-only: its workers, queued results and running state.
  const Crawl& GetCrawl() const { return m_crawl; }
  bool IsPaused() const { return m_crawl.IsPaused(); }
  bool IsRunning() const { return m_crawl.IsRunning(); }
  bool IsFinished() const { return m_crawl.IsFinished(); }
  bool IsBatch() const { return m_bBatch; }
  void SetPaused(bool paused) { m_crawl.SetPaused(paused); }
  void SetBatch(bool batch) { m_bBatch = batch; }
  // Running again after a command produced pending records: posts a scheduler tick.
  void StartRunning();
  // Running, neither paused nor finished; posts nothing (the caller posts the first tick).
  void MarkRunning() { m_crawl.MarkRunning(); }
  // The check has ended: ticks start nothing until it runs again.
  void MarkFinished() { m_crawl.MarkFinished(); }
  // The view's pause (no new workers start; running ones finish) and continue (a scheduler
  // tick is posted).
  void Pause();
  void Continue();
  // The end of an interactive check: every record counts as finished, and the status bar
  // and the visible rows are drawn again.
  void CountAllFinished();
  int GetActiveThreadCount() const { return m_crawl.GetActiveThreadCount(); }
  // Records with status 0 or -1, and all others.
  std::int32_t GetPendingCount() const { return m_table.GetPendingCount(); }
  std::int32_t GetFinishedCount() const { return m_table.GetFinishedCount(); }
  // Seconds of checking over all runs, the running one included.
  std::int64_t GetElapsedSeconds() const { return m_crawl.GetElapsedSeconds(); }
  // The record's worker runs, or its result waits for the pump.
  bool IsActive(const CLinkInfo* link) const { return m_crawl.IsActive(*link); }

  bool IsInternal(std::string_view url) const;
  bool IsExcluded(std::string_view url) const;

  // ---- Changes (user-interface thread), through the table: each tells the observer. A
  // record is named by its const view; the change reaches the table's own record.
  // A new pending record appended to the table; parent is the page that links to it.
  const CLinkInfo* NewLink(const std::string& url, const CLinkInfo* parent, std::uint16_t requestKind);
  // Sets a record's status and text (tabs and line breaks become blanks) and moves the counts.
  void SetStatus(const CLinkInfo* link, std::int16_t code, const std::string& text = std::string());
  // Back to pending, with type, size and date cleared.
  void ResetRecord(const CLinkInfo* link);
  // Notes that page links to target (once per pair); target's depth follows the shallowest.
  void AddReferrer(const CLinkInfo* target, const CLinkInfo* page);
  // Changes a record's data that the table does not count (title, type, size ...) and tells
  // the observer.
  template <class Change>
  void UpdateLink(const CLinkInfo& link, Change&& change) {
    change(*m_table.Mutable(link));
    m_table.SetModifiedFlag();
    m_table.RecordChanged(link);
  }
  // Tells the observer that a record's data changed.
  void RecordChanged(const CLinkInfo* link) {
    if (link) m_table.RecordChanged(*link);
  }

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

  void SetModifiedFlag(bool modified = true) { m_table.SetModifiedFlag(modified); }
  bool IsModified() const { return m_table.IsModified(); }
  // The absolute path of the document file it was last opened from or saved to; "" for a
  // document never saved.
  const std::string& GetPathName() const { return m_strPathName; }
  void SetPathName(const std::string& path);

  // Scheduler and pump.
  void ScheduleFetches();
  void ProcessFinishedFetches();
  // Handed-over results that wait for ProcessFinishedFetches.
  std::size_t WaitingResultCount() const { return m_crawl.WaitingResultCount(); }
  // The hand-over of a finished fetch.
  void OnUrlDone(std::unique_ptr<FetchResult> result);
  void OnUrlDone(const FetchResult& result);
  void RequeueAuthRequired(const std::string& url);
  void FailSimilarHost(const std::string& url, std::int16_t status);
  void ParseFetchedPage(FetchResult& result);
  // The link extractors: every link found reaches the table through AddLink.
  const CLinkInfo* AddLink(const CLinkInfo* page, std::string& link, unsigned codePage);
  // AddLink's part that needs the table, for a link already made ready (PrepareLink).
  const CLinkInfo* AddPreparedLink(const CLinkInfo* page, const std::string& link, const PreparedLink& prepared);
  void ParseCss(const FetchResult& result, std::string& text, unsigned codePage);
  void ScanHtml(const FetchResult& result, platform::LineReader& file);
  // The rules for links as the settings, the root and the prefixes say now; the same object
  // while they do not change.
  std::shared_ptr<const LinkRules> CurrentRules() const;
  // The end of a check: batch outputs, mail, quit or the report question.
  void EndOfCheck();
  // Seeds this document's random picks.
  void SeedRandom(unsigned seed) { m_crawl.SeedRandom(seed); }

 private:
  // What a worker's request takes from the document: settings, root, link rules and where it
  // hands over.
  FetchContext RequestContext() const;
  class TableSink;
  // Replays the worker's intake of a result's page; false when the page is to be read here.
  bool ApplyIntake(const FetchResult& result);
  // A .jar's listing; false when it is no archive.
  bool ListJar(const FetchResult& result);
  // A style sheet's lines, joined.
  std::string ReadCss(platform::LineReader& file, const CLinkInfo* page);
  // A page held at the depth limit whose level has fallen below it goes back to pending.
  void FetchAgainIfBelowDepth(const CLinkInfo& link);
  // After loading: which pages stopped at the depth limit.
  void NoteHeldAtDepth();
  // The writable record (the engine's own passes).
  CLinkInfo* Record(std::size_t index) { return m_table.Mutable(index); }
  void NotifyStatusText();
  void NotifyTableReset();
  // The records changed but not which rows the list shows: the view is drawn again.
  void NotifyRowsChanged();

  EngineContext m_ctx;
  CheckSettings m_settings;
  IUiThread* m_pUi = nullptr;
  std::shared_ptr<ResultHandOver> m_handOver;
  IPreferredRows* m_pRows = nullptr;
  IDocumentObserver* m_pObserver = nullptr;

  mutable std::shared_ptr<const LinkRules> m_rules;  // see CurrentRules
  std::vector<std::string> m_saInclude;
  std::vector<std::string> m_saExclude;
  bool m_bBatch = false;
  std::string m_strPathName;
  LinkTable m_table;
  // Declared after the table it works on, so it goes first.
  Crawl m_crawl;
  std::string m_csRootUrl;
  std::vector<std::string> m_saRedirectSources;
  std::vector<std::string> m_saRedirectTargets;
  std::vector<std::uint16_t> m_waRedirectCodes;
};
