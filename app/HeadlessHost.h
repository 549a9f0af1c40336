// The host of a batch run without a display: the same engine, a plain event loop, and
// message boxes that print to stderr (escaped as EscapedText does, line feeds and tabs kept)
// and take a fixed answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/HandOver.h"
#include "engine/Host.h"

class CWexoDoc;

class HeadlessHost : public IWexoHost {
 public:
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override;
  bool AskForReport(const std::string& question) override;
  void Beep() override {}
  void Quit(int exitCode) override;
  bool QuitRequested() const override;
  void RaiseExitCode(int exitCode) override;
  // Shows nothing; its pump runs what waits in the loop, and the documents' pumps once a
  // second, so workers can hand over while a long pass runs.
  std::unique_ptr<IAbortBox> CreateAbortBox(const std::string& caption) override;

  // Runs the documents' pumps until Quit; returns the exit code.
  int Run(std::vector<std::unique_ptr<CWexoDoc>>& documents);

  // Posts a task to the event loop (any thread).
  void Post(std::function<void()> task);
  void PostToUiThread(std::function<void()> task) override { Post(std::move(task)); }
  // Runs a task on the loop's thread and waits until it has run.
  void Send(std::function<void()> task);

 private:
  class AbortBox;
  // Runs the tasks waiting now; true when there were any.
  bool RunWaitingTasks();
  // The documents' pumps, once a second (and after a burst when burst is set).
  void PumpDocuments(bool burst);

  std::vector<std::unique_ptr<CWexoDoc>>* m_documents = nullptr;
  std::chrono::steady_clock::time_point m_nextTick;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_tasks;
  bool m_quit = false;
  int m_exitCode = kExitOk;
};

// The list window of a document in a headless run: no rows; the scheduler's posts and the
// workers' hand-overs go to the host's loop.
class HeadlessView : public IUiThread {
 public:
  HeadlessView(HeadlessHost& host, CWexoDoc& doc);
  // Touches neither host nor document: either may have gone first.
  ~HeadlessView() override;

  void PostSchedule() override;

 private:
  HeadlessHost& m_host;
  CWexoDoc& m_doc;
  // Cleared when the view goes: posted schedules for it are dropped.
  std::shared_ptr<bool> m_alive;
  // Closed when the view goes: a worker that ends later hands over to nobody.
  std::shared_ptr<ResultHandOver> m_handOver;
};
