#include "engine/WexoDoc.h"

#include <algorithm>
#include <cstdio>

#include "engine/Application.h"
#include "engine/Clock.h"
#include "engine/FetchWorker.h"
#include "platform/InetHandle.h"

CWexoDoc::CWexoDoc(const EngineContext& context)
    : m_ctx(context),
      m_crawl(m_table, m_ctx.launcher ? m_ctx.launcher : WorkerLauncher(LaunchFetchWorker),
              m_ctx.clock ? m_ctx.clock : Crawl::Clock(NowSeconds)) {
  m_settings = ReadCheckSettings(*m_ctx.app);
  m_crawl.SetWorkerCountListener([this](int) { NotifyStatusText(); });
  m_table.SetLevelListener([this](CLinkInfo& link) { FetchAgainIfBelowDepth(link); });
}

CWexoDoc::~CWexoDoc() {
  if (m_handOver) m_handOver->Close();
}

std::shared_ptr<ResultHandOver> CWexoDoc::AttachView(IUiThread* ui, IPreferredRows* rows, IDocumentObserver* observer) {
  if (m_handOver) m_handOver->Close();
  m_handOver.reset();
  if (ui) {
    IWexoHost* host = m_ctx.host;
    m_handOver =
        std::make_shared<ResultHandOver>([host](std::function<void()> task) { host->PostToUiThread(std::move(task)); },
                                         [this](std::unique_ptr<FetchResult> result) { OnUrlDone(std::move(result)); });
  }
  m_pUi = ui;
  m_pRows = rows;
  m_pObserver = observer;
  m_table.SetObserver(observer);
  return m_handOver;
}

std::int64_t CWexoDoc::Now() const { return m_ctx.clock ? m_ctx.clock() : NowSeconds(); }

const CLinkInfo* CWexoDoc::NewLink(const std::string& url, const CLinkInfo* parent, std::uint16_t requestKind) {
  CLinkInfo* link = m_table.Add(url, parent ? m_table.Mutable(*parent) : nullptr, requestKind);
  m_crawl.NotePending(*link);
  return link;
}

void CWexoDoc::SetStatus(const CLinkInfo* link, std::int16_t code, const std::string& text) {
  m_crawl.SetStatus(*link, code, text);
}

void CWexoDoc::ResetRecord(const CLinkInfo* link) { m_crawl.ResetRecord(*link); }

void CWexoDoc::AddReferrer(const CLinkInfo* target, const CLinkInfo* page) {
  m_table.AddReferrer(*m_table.Mutable(*target), *m_table.Mutable(*page));
}

void CWexoDoc::FetchAgainIfBelowDepth(const CLinkInfo& link) {
  // Its body is gone; a record whose fetch runs or waits is parsed at the level it has then.
  if (link.m_bHeldAtDepth && link.m_nLevel < m_settings.MaxLevel && link.m_nStatus == 200 && !m_crawl.IsActive(link))
    m_crawl.SetStatus(link, STATUS_PENDING);
}

void CWexoDoc::NoteHeldAtDepth() {
  // Not stored. A page is only parsed below the limit, so one at the limit that was fetched
  // with a body that could hold links, and has none, stopped there.
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    CLinkInfo& link = *Record(i);
    const std::string& url = m_table.GetUrl(i);
    link.m_bHeldAtDepth = link.m_nStatus == 200 && link.m_nLevel >= m_settings.MaxLevel && link.m_nLinksOut == 0 &&
                          link.m_wRequestKind != REQUEST_HEAD && !link.m_bInJar &&
                          (link.IsParsableType() || url.ends_with(".jar"));
  }
}

void CWexoDoc::AddRedirect(const std::string& source, const std::string& target, std::uint16_t code) {
  m_saRedirectSources.push_back(source);
  m_saRedirectTargets.push_back(target);
  m_waRedirectCodes.push_back(code);
}

void CWexoDoc::NotifyTableReset() {
  if (m_pObserver) m_pObserver->TableReset();
}

void CWexoDoc::NotifyRowsChanged() {
  if (m_pObserver) m_pObserver->RowsChanged();
}

bool CWexoDoc::IsInternal(std::string_view url) const {
  return IsInternalUrl(url, m_csRootUrl, m_saInclude, m_settings.DomainMatch != 0);
}

bool CWexoDoc::IsExcluded(std::string_view url) const {
  return IsExcludedUrl(url, m_saExclude, m_settings.ExcludeMSO != 0);
}

void CWexoDoc::ToggleShowBrokenOnly() {
  m_settings.ShowBrokenOnly = !m_settings.ShowBrokenOnly;
  SetModifiedFlag();
  App().WriteProfileInt("Options", "ShowBrokenOnly", m_settings.ShowBrokenOnly);
  NotifyTableReset();
}

void CWexoDoc::StartRunning() {
  m_crawl.MarkRunning();
  NotifyRowsChanged();
  if (m_pUi) m_pUi->PostSchedule();
}

void CWexoDoc::Pause() { m_crawl.Pause(); }

void CWexoDoc::Continue() {
  m_crawl.MarkRunning();
  if (m_pUi) m_pUi->PostSchedule();
}

void CWexoDoc::CountAllFinished() {
  m_table.CountAllFinished();
  NotifyStatusText();
  // The window is drawn again at once; its rows stay what they are.
  NotifyRowsChanged();
}

void CWexoDoc::RecheckBroken() {
  if (m_crawl.RequeueBroken()) StartRunning();
}

void CWexoDoc::CloseAllHandles() {
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const platform::HINTERNET h = m_table.GetLink(i)->TakeInternetHandle();
    if (h) platform::InternetCloseHandle(h);
  }
}

void CWexoDoc::ToggleCheckExternal() {
  m_settings.CheckExternal = !m_settings.CheckExternal;
  if (m_settings.CheckExternal) {
    if (m_crawl.RequeueSkippedExternal()) StartRunning();
  } else {
    m_crawl.SkipPendingOutside([this](const std::string& url) { return !IsInternal(url) || IsExcluded(url); });
    NotifyRowsChanged();
  }
}

std::string CWexoDoc::ActiveThreadsMessage() const {
  std::string text =
      "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
      "Active threads: \n\n";
  m_crawl.ForEachActive([&text](const CLinkInfo& link) {
    text += link.GetUrl();
    // Only a thread that has ended has an exit code to show; a running one shows its URL alone.
    if (link.m_hThread && link.m_hThread->GetExitCode() != CWorkerThread::kStillActive) {
      char status[32];
      std::snprintf(status, sizeof status, "\t\t(Thread Status: %lx)",
                    static_cast<unsigned long>(link.m_hThread->GetExitCode()));
      text += status;
    }
    text += "\n";
  });
  return text;
}

bool CWexoDoc::CanCloseFrame() {
  if (m_crawl.GetActiveThreadCount() == 0) {
    if (m_pObserver) m_pObserver->DocumentClosing();
    return true;
  }
  Host().MessageBox(ActiveThreadsMessage(), BoxKind::Warning);
  return false;
}

bool CWexoDoc::OnFileClose() { return CanCloseFrame(); }

void CWexoDoc::OnCloseDocument() {
  if (m_pObserver) m_pObserver->DocumentClosing();
}
