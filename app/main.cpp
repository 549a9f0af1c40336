#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessHost.h"
#include "app/WindowLoader.h"
#include "engine/Application.h"
#include "engine/Charset.h"
#include "engine/DocumentFile.h"
#include "engine/FetchWorker.h"
#include "engine/FileRemoval.h"
#include "engine/WexoDoc.h"
#include "platform/Inet.h"
#include "platform/SignalCleanup.h"
#include "platform/TempDir.h"
#include "report/Outputs.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: wexo -url <root URL> [-export <file>] [-map <file>] [-report <file>] [-save <file>]\n"
               "            [-google <file>] [-level <depth>] [-language <value>] [-post <form data>] [-retrybroken]\n"
               "       wexo <document.wxo> [output switches]\n");
}

bool HaveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  platform::InternetInitialize();

  std::vector<std::string> args(argv + 1, argv + argc);
  CCommandLineInfoEx info;
  ParseCommandLine(info, args);
  CWexoApp app;
  const bool batch = ApplyCommandLine(info, app);
  // A run stopped with Ctrl+C, kill or a closed terminal leaves no body or half-written
  // output behind; what a run killed outright left is removed by the next one.
  platform::CleanUpOnSignals();
  platform::RemoveDeadRunFolders();

  HeadlessHost host;
  ReportOutputs outputs;
  EngineContext context;
  context.host = &host;
  context.app = &app;
  context.outputs = &outputs;
  std::vector<std::unique_ptr<CWexoDoc>> documents;
  std::vector<std::unique_ptr<HeadlessView>> views;
  int exitCode = kExitOk;
  // With a display everything runs in the window, a batch command line too; a display that
  // cannot be opened leaves a batch run to the headless host.
  const StartCommand command = info.m_nShellCommand == CCommandLineInfoEx::FileNew    ? StartCommand::New
                               : info.m_nShellCommand == CCommandLineInfoEx::FileOpen ? StartCommand::Open
                                                                                      : StartCommand::Nothing;
  const WindowRun window =
      HaveDisplay() ? RunWindowModule(argc, argv, app, command, info.m_strFileName, exitCode) : WindowRun::NoDisplay;
  if (window == WindowRun::Ran) {
    // The window's documents are gone with it.
  } else if (!batch && window == WindowRun::NoModule) {
    return 1;
  } else if (!batch) {
    PrintUsage();
    return kExitUsage;
  } else {
    if (command == StartCommand::New) {
      auto doc = std::make_unique<CWexoDoc>(context);
      views.push_back(std::make_unique<HeadlessView>(host, *doc));
      if (doc->OnNewDocument(CheckStart::CommandLine)) documents.push_back(std::move(doc));
    } else if (command == StartCommand::Open) {
      auto doc = std::make_unique<CWexoDoc>(context);
      views.push_back(std::make_unique<HeadlessView>(host, *doc));
      if (doc->OnOpenDocument(info.m_strFileName))
        documents.push_back(std::move(doc));
      else
        exitCode = kExitFailed;
    }
    if (!documents.empty()) exitCode = host.Run(documents);
  }

  ShutdownWorkerThreads();
  FlushFileRemovals();
  documents.clear();
  views.clear();
  platform::InternetShutdown();
  FreeCharsetMap();
  FreeServerNamePool();
  return exitCode;
}
