#include "ui/WexoApplication.h"

#include <chrono>

#include <wx/clipbrd.h>
#include <wx/init.h>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/WexoDoc.h"
#include "platform/ShellLaunch.h"
#include "ui/MainFrame.h"
#include "ui/TipDlg.h"
#include "ui/WexoView.h"

WexoApplication& wxGetApp() { return *static_cast<WexoApplication*>(wxApp::GetInstance()); }

WexoApplication::WexoApplication(CWexoApp& app, StartCommand command, std::string fileName)
    : m_app(app), m_command(command), m_fileName(std::move(fileName)), m_host(app) {
  m_context.host = &m_host;
  m_context.app = &m_app;
  m_context.outputs = &m_outputs;
  m_host.m_onQuit = [this] { QuitWhenReady(); };
  // The idle pass after each burst of events runs every document's pump. A window's idle
  // pass costs more than a page's parse: the pump goes on while it takes results, for a few
  // milliseconds at most, so a check is not held to one page per idle pass.
  Bind(wxEVT_IDLE, [this](wxIdleEvent& e) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    for (;;) {
      const std::size_t before = WaitingResults();
      PumpAllDocuments();
      const std::size_t after = WaitingResults();
      if (after == 0 || after >= before || std::chrono::steady_clock::now() >= until) break;
    }
    e.Skip();
  });
}

WexoApplication::~WexoApplication() = default;

std::string WexoApplication::GetProductTitle() {
  std::string title = kProgramBanner;
  if (title.compare(0, 5, "Wexo ") == 0) title.replace(0, 5, "Wexo's ");
  return title;
}

bool WexoApplication::OnInit() {
  SetAppName("Wexo");
  SetAppDisplayName("Wexo");
  m_docManager = std::make_unique<WexoDocManager>(m_app, m_host);
  m_docManager->LoadRecentFiles();
  new WexoDocTemplate(m_docManager.get(), m_context, m_host);
  m_frame = new CMainFrame(m_docManager.get(), m_app);
  SetTopWindow(m_frame);
  m_frame->SetTitle(wxString::FromUTF8(GetProductTitle()));
  if (!ProcessShellCommand()) {
    m_frame->Destroy();
    m_frame = nullptr;
    return false;
  }
  if (!m_frame->InitialShowWindow()) return false;
  if (m_app.m_csUrl.empty()) ShowTipAtStartup();
  return true;
}

void WexoApplication::ShowTipAtStartup() {
  // Built whether shown or not, so every start moves the tips on by one. Shown once the
  // event loop runs, over the shown frame.
  auto tips = std::make_shared<CTipDlg>(m_app, m_host);
  if (!tips->m_bStartup) return;
  CallAfter([this, tips] {
    if (m_frame) ShowTipDialog(m_frame, *tips);
  });
}

bool WexoApplication::ProcessShellCommand() {
  switch (m_command) {
    case StartCommand::New: m_docManager->NewCheck(CheckStart::CommandLine); return true;
    case StartCommand::Open:
      if (m_docManager->CreateDocument(wxString::FromUTF8(m_fileName), wxDOC_SILENT)) return true;
      // The document named on the command line could not be opened (its box said why).
      m_host.RaiseExitCode(kExitFailed);
      return false;
    case StartCommand::Nothing: return true;
  }
  return true;
}

int WexoApplication::OnExit() {
  // A browser launch still waiting for its launcher tells its outcome to the host, which goes
  // with this object; each is bounded. What it posts now is dropped with the loop.
  platform::WaitForShellLaunches();
  // X drops a selection whose owner has gone: a clipboard manager, where one runs, keeps it.
  if (wxTheClipboard->IsOpened() || wxTheClipboard->Open()) {
    wxTheClipboard->Flush();
    wxTheClipboard->Close();
  }
  if (m_docManager) m_docManager->SaveRecentFiles();
  // Windows destroyed late (the frame of a start that failed) still ask the document manager
  // for its views while they go: they go first.
  DeletePendingObjects();
  m_docManager.reset();
  return wxApp::OnExit();
}

void WexoApplication::PumpAllDocuments() {
  if (!m_docManager) return;
  for (WexoDocument* doc : m_docManager->Documents()) doc->Engine().ProcessFinishedFetches();
}

std::size_t WexoApplication::WaitingResults() {
  std::size_t count = 0;
  if (m_docManager)
    for (WexoDocument* doc : m_docManager->Documents()) count += doc->Engine().WaitingResultCount();
  return count;
}

void WexoApplication::QuitWhenReady() {
  if (!m_docManager || !m_frame) return;
  bool waiting = m_app.InLongPass();
  if (!waiting) {
    for (WexoDocument* doc : m_docManager->Documents()) {
      doc->Engine().CloseAllHandles();
      waiting |= doc->Engine().GetActiveThreadCount() != 0;
    }
  }
  if (waiting) {
    // Workers hand over through the event loop meanwhile; try again shortly.
    CallAfter([this] {
      wxMilliSleep(20);
      QuitWhenReady();
    });
    return;
  }
  for (WexoDocument* doc : m_docManager->Documents()) doc->Modify(false);
  m_frame->Close(true);
}

bool RunWindowed(int argc, char** argv, CWexoApp& app, StartCommand command, const std::string& fileName,
                 int& exitCode) {
  auto* application = new WexoApplication(app, command, fileName);
  wxApp::SetInstance(application);
  // On failure wx has deleted the application object already.
  if (!wxEntryStart(argc, argv)) return false;
  if (application->CallOnInit()) application->OnRun();
  exitCode = application->ExitCode();
  application->OnExit();
  wxEntryCleanup();
  return true;
}
