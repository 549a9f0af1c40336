#include "app/HeadlessHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>

#include "engine/FetchWorker.h"
#include "engine/TraceLog.h"
#include "engine/WexoDoc.h"

BoxAnswer HeadlessHost::MessageBox(const std::string& text, BoxKind kind) {
  // Texts may carry what a server sent: nothing in them may steer the terminal.
  std::fprintf(stderr, "wexo: %s\n", EscapedText(text, true).c_str());
  // A question here is "Continue?" after a read failure: the body counts as ended. A question
  // whose default is No takes its default.
  if (kind == BoxKind::QuestionDefaultNo) return BoxAnswer::No;
  return kind == BoxKind::Question ? BoxAnswer::Yes : BoxAnswer::Ok;
}

bool HeadlessHost::AskForReport(const std::string& question) {
  std::fprintf(stderr, "wexo: %s No\n", EscapedText(question, true).c_str());
  // Nobody is left to use the program: it ends, with what the check's failures asked for.
  Quit(kExitOk);
  return false;
}

void HeadlessHost::Quit(int exitCode) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_exitCode = std::max(m_exitCode, exitCode);
  m_quit = true;
  m_wake.notify_all();
}

bool HeadlessHost::QuitRequested() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_quit;
}

void HeadlessHost::RaiseExitCode(int exitCode) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_exitCode = std::max(m_exitCode, exitCode);
}

void HeadlessHost::Post(std::function<void()> task) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_tasks.push_back(std::move(task));
  m_wake.notify_all();
}

void HeadlessHost::Send(std::function<void()> task) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  Post([task = std::move(task), done] {
    task();
    done->set_value();
  });
  finished.wait();
}

class HeadlessHost::AbortBox : public IAbortBox {
 public:
  explicit AbortBox(HeadlessHost& host) : m_host(host) {}
  void SetTopText(const std::string&) override {}
  void SetBottomText(const std::string&) override {}
  void PumpWaitingMessages() override {
    const bool any = m_host.RunWaitingTasks();
    m_host.PumpDocuments(any);
  }
  bool IsAborted() const override { return m_aborted; }
  void SetAborted() override { m_aborted = true; }

 private:
  HeadlessHost& m_host;
  bool m_aborted = false;
};

std::unique_ptr<IAbortBox> HeadlessHost::CreateAbortBox(const std::string&) {
  return std::make_unique<AbortBox>(*this);
}

bool HeadlessHost::RunWaitingTasks() {
  std::deque<std::function<void()>> burst;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    burst.swap(m_tasks);
  }
  for (auto& task : burst) task();
  return !burst.empty();
}

void HeadlessHost::PumpDocuments(bool burst) {
  using Clock = std::chrono::steady_clock;
  const bool tick = Clock::now() >= m_nextTick;
  if (tick) m_nextTick = Clock::now() + std::chrono::seconds(1);
  // The timer tick and the idle pass after a burst both run every document's pump.
  if ((tick || burst) && m_documents)
    for (auto& doc : *m_documents) doc->ProcessFinishedFetches();
}

int HeadlessHost::Run(std::vector<std::unique_ptr<CWexoDoc>>& documents) {
  m_documents = &documents;
  m_nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait_until(lock, m_nextTick, [this] { return !m_tasks.empty() || m_quit; });
    }
    const bool burst = RunWaitingTasks();
    {
      std::lock_guard<std::mutex> lock(m_lock);
      if (m_quit) break;
    }
    PumpDocuments(burst);
  }
  m_documents = nullptr;
  // Orderly end: cancel every session and let every worker hand over before anything is freed.
  for (auto& doc : documents) doc->CloseAllHandles();
  while (RunningWorkerCount() > 0) {
    std::deque<std::function<void()>> burst;
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return !m_tasks.empty(); });
      burst.swap(m_tasks);
    }
    for (auto& task : burst) task();
    for (auto& doc : documents) doc->CloseAllHandles();
  }
  std::lock_guard<std::mutex> lock(m_lock);
  m_tasks.clear();
  return m_exitCode;
}

HeadlessView::HeadlessView(HeadlessHost& host, CWexoDoc& doc)
    : m_host(host), m_doc(doc), m_alive(std::make_shared<bool>(true)) {
  m_handOver = doc.AttachView(this, nullptr, nullptr);
}

HeadlessView::~HeadlessView() {
  *m_alive = false;
  if (m_handOver) m_handOver->Close();
}

void HeadlessView::PostSchedule() {
  std::weak_ptr<bool> alive = m_alive;
  CWexoDoc* doc = &m_doc;
  m_host.Post([alive, doc] {
    if (auto a = alive.lock(); a && *a) doc->ScheduleFetches();
  });
}
