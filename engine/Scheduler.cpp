// The document's side of the scheduler tick and the pump, and the end of a check.
#include <cstdio>

#include "engine/Application.h"
#include "engine/CheckOutputs.h"
#include "engine/Fetch.h"
#include "engine/WexoDoc.h"

namespace {

std::string ThreadsText(int count) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Threads: %d  ", count);
  return buffer;
}

bool AnyBroken(const LinkTable& table) {
  for (std::size_t i = 0; i < table.GetLinkCount(); ++i)
    if (table.GetLink(i)->IsBroken()) return true;
  return false;
}

}  // namespace

void CWexoDoc::NotifyStatusText() {
  if (m_pObserver) m_pObserver->StatusText(ThreadsText(m_crawl.GetActiveThreadCount()));
}

void CWexoDoc::FillRequest(FetchRequest& request) const {
  request.ui = m_pUi;
  request.host = m_ctx.host;
  request.rootUrl = m_csRootUrl;
  static_cast<CheckSettings&>(request.settings) = m_settings;
  request.settings.language = App().m_csLanguage;
  request.settings.batch = m_bBatch;
}

void CWexoDoc::ScheduleFetches() {
  const bool nothingLeft = m_crawl.Tick(m_pRows, m_settings.Threads, App().InLongPass(),
                                        [this](FetchRequest& request) { FillRequest(request); });
  if (nothingLeft) EndOfCheck();
}

void CWexoDoc::EndOfCheck() {
  MarkFinished();
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo* link = m_table.GetLink(i);
    if (link->m_nStatus == 0 && link->m_bInJar) SetStatus(link, 404, "class not found in .jar archive");
  }
  const CWexoApp& app = App();
  ICheckOutputs* outputs = m_ctx.outputs;
  // Each output shows its own failure and returns it; one that failed makes the run exit 1.
  bool wroteAny = false;
  bool failed = false;
  const auto write = [&](const std::string& path, auto output) {
    if (path.empty()) return;
    wroteAny = true;
    if (!output(path)) failed = true;
  };
  if (m_bBatch && outputs) {
    write(app.m_csExport, [&](const std::string& path) { return outputs->ExportTabFile(*this, path); });
    write(app.m_csMap, [&](const std::string& path) { return outputs->ExportPageMap(*this, path); });
    write(app.m_csReport, [&](const std::string& path) { return outputs->CreateReport(*this, path); });
    write(app.m_csSave, [&](const std::string& path) { return outputs->SaveDocument(*this, path); });
    write(app.m_csGoogle, [&](const std::string& path) { return outputs->ExportSitemap(*this, path); });
  }
  const auto exitCode = [&failed] { return failed ? kExitFailed : kExitOk; };
  if (m_settings.EMail) {
    if (m_settings.EMailOnlyIfBroken) {
      const bool anyBroken = AnyBroken(m_table);
      if (!anyBroken) {
        Host().Quit(exitCode());
        return;
      }
    }
    if (outputs) {
      if (outputs->MailReport(*this)) {
        Host().Quit(exitCode());
        return;
      }
      failed = true;
    }
  } else if (wroteAny) {
    Host().Quit(exitCode());
    return;
  }
  // A failed output or mail still tells in the exit code, whenever the program ends.
  if (failed) Host().RaiseExitCode(kExitFailed);
  // Interactive end.
  m_table.CountAllFinished();
  NotifyStatusText();
  // The window is drawn again at once; its rows stay what they are.
  NotifyRowsChanged();
  Host().Beep();
  if (Host().AskForReport("Link tolvak finished. Do you want a report?") && outputs) outputs->LaunchReport(*this);
}

void CWexoDoc::OnUrlDone(const FetchResult& result) {
  FetchResult& queued = m_crawl.HandOver(result);
  if (queued.outcome && queued.pLink) ApplyFetchOutcome(*this, m_table.Mutable(*queued.pLink), *queued.outcome);
  if (m_crawl.GetActiveThreadCount() == 0) ProcessFinishedFetches();
}

void CWexoDoc::ProcessFinishedFetches() {
  const int timeout = App().FetchTimeout();
  if (!m_pUi) return;
  // During a long pass results wait in the queue; only the time-out sweep runs.
  if (m_crawl.Pump(timeout, App().InLongPass(), [this](FetchResult& result) { ParseFetchedPage(result); }))
    m_pUi->PostSchedule();
}

void CWexoDoc::RequeueAuthRequired(const std::string& url) { m_crawl.RequeueAuthRequired(url); }

void CWexoDoc::FailSimilarHost(const std::string& url, std::int16_t status) {
  if (!m_settings.FailSimilarHosts) return;
  m_crawl.FailSimilarHost(url, status, [this](const CLinkInfo& link) {
    if (m_settings.ShowBrokenOnly && m_pObserver) m_pObserver->RecordWantsRow(link);
  });
}
