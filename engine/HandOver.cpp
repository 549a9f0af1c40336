#include "engine/HandOver.h"

#include <cstdio>
#include <new>

#include "engine/LinkInfo.h"

ResultHandOver::ResultHandOver(Poster post, Taker take) : m_post(std::move(post)), m_take(std::move(take)) {}

ResultHandOver::~ResultHandOver() {
  for (const auto& result : m_waiting) Drop(*result);
}

void ResultHandOver::Drop(FetchResult& result) {
  if (result.bBodyIsTemp && !result.csBodyFile.empty()) std::remove(result.csBodyFile.c_str());
  result.csBodyFile.clear();
  result.body.reset();
}

void ResultHandOver::PostUrlDone(std::unique_ptr<FetchResult> result) {
  if (!result) return;
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_closed) {
      try {
        m_waiting.push_back(std::move(result));
        post = !m_posted;
        m_posted = true;
      } catch (const std::bad_alloc&) {
        // Not queued: dropped like a result that comes too late.
      }
    }
  }
  if (result) {
    Drop(*result);
    return;
  }
  if (!post) return;
  // Posted under the post lock: once Close has returned, nothing reaches the poster any more.
  // Should the task be dropped unrun, the queue waits for the next take or for Close.
  std::lock_guard<std::mutex> posting(m_postLock);
  if (!m_closed) m_post([self = shared_from_this()] { self->TakeWaiting(); });
}

std::size_t ResultHandOver::TakeWaiting() {
  std::unique_lock<std::mutex> lock(m_lock);
  if (m_taking) return 0;
  m_taking = true;
  // Reset however taking ends, so that a later burst posts again.
  struct Done {
    ResultHandOver& self;
    std::unique_lock<std::mutex>& lock;
    ~Done() {
      if (!lock.owns_lock()) lock.lock();
      self.m_taking = false;
      self.m_posted = false;
    }
  } done{*this, lock};
  std::size_t taken = 0;
  while (!m_closed && !m_waiting.empty()) {
    std::unique_ptr<FetchResult> result = std::move(m_waiting.front());
    m_waiting.pop_front();
    lock.unlock();
    m_take(std::move(result));
    ++taken;
    lock.lock();
  }
  return taken;
}

std::size_t ResultHandOver::WaitingCount() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_waiting.size();
}

void ResultHandOver::Close() {
  std::deque<std::unique_ptr<FetchResult>> dropped;
  {
    std::lock_guard<std::mutex> posting(m_postLock);
    std::lock_guard<std::mutex> lock(m_lock);
    m_closed.store(true);
    dropped.swap(m_waiting);
  }
  for (const auto& result : dropped) Drop(*result);
}

bool ResultHandOver::IsClosed() const { return m_closed.load(); }
