// The windowed program: start-up, the idle pump, the quit and the exit.
#pragma once

#include <memory>
#include <string>

#include <wx/app.h>

#include "engine/EngineContext.h"
#include "report/Outputs.h"
#include "ui/WindowModule.h"
#include "ui/WxHost.h"

class CMainFrame;
class CWexoApp;
class WexoDocManager;

class WexoApplication : public wxApp {
 public:
  WexoApplication(CWexoApp& app, StartCommand command, std::string fileName);
  ~WexoApplication() override;

  bool OnInit() override;
  int OnExit() override;

  // Every document's pump (the idle pass after a burst and the timer).
  void PumpAllDocuments();
  std::size_t WaitingResults();

  CWexoApp& Values() { return m_app; }
  WxHost& Host() { return m_host; }
  WexoDocManager* DocManager() { return m_docManager.get(); }
  CMainFrame* Frame() { return m_frame; }
  // The program's exit code once the main loop has ended.
  int ExitCode() const { return m_host.ExitCode(); }

  // The caption of the main window and the About text.
  static std::string GetProductTitle();

 private:
  // Ends the program once a quit was asked for: every session cancelled, every worker handed
  // over (no new one starts meanwhile), then the documents closed without questions. Waits
  // while a long pass runs.
  void QuitWhenReady();
  bool ProcessShellCommand();
  void ShowTipAtStartup();

  CWexoApp& m_app;
  StartCommand m_command;
  std::string m_fileName;
  WxHost m_host;
  ReportOutputs m_outputs;
  EngineContext m_context;
  std::unique_ptr<WexoDocManager> m_docManager;
  CMainFrame* m_frame = nullptr;
};

// The running application (user-interface thread).
WexoApplication& wxGetApp();

// Runs the windowed program on the display; false (having run nothing) when the display
// cannot be opened. exitCode is the program's exit code.
bool RunWindowed(int argc, char** argv, CWexoApp& app, StartCommand command, const std::string& fileName,
                 int& exitCode);
