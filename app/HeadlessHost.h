// The host of a batch run without a display: the same engine, a plain event loop, and
// message boxes that print to stderr and take a fixed answer.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/Host.h"

class CWexoDoc;

class HeadlessHost : public IWexoHost {
 public:
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override;
  bool AskForReport(const std::string& question) override;
  void Beep() override {}
  void Quit(int exitCode) override;

  // Runs the documents' pumps until Quit; returns the exit code.
  int Run(std::vector<std::unique_ptr<CWexoDoc>>& documents);

  // Posts a task to the event loop (any thread).
  void Post(std::function<void()> task);
  // Runs a task on the loop's thread and waits until it has run.
  void Send(std::function<void()> task);

 private:
  std::mutex m_lock;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_tasks;
  bool m_quit = false;
  int m_exitCode = 0;
  bool m_failureShown = false;
};

// The list window of a document in a headless run: no rows; the scheduler's posts and the
// workers' hand-overs go to the host's loop.
class HeadlessView : public IUiThread {
 public:
  HeadlessView(HeadlessHost& host, CWexoDoc& doc);
  ~HeadlessView() override;

  void PostSchedule() override;
  void SendUrlDone(const FetchResult& result) override;

 private:
  HeadlessHost& m_host;
  CWexoDoc& m_doc;
  // Cleared when the view goes: posted schedules for it are dropped.
  std::shared_ptr<bool> m_alive;
};
