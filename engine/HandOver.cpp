#include "engine/HandOver.h"

#include <future>

ResultHandOver::ResultHandOver(Poster post, Taker take) : m_post(std::move(post)), m_take(std::move(take)) {}

bool ResultHandOver::SendUrlDone(const FetchResult& result) {
  auto taken = std::make_shared<std::promise<bool>>();
  std::future<bool> answer = taken->get_future();
  {
    // Posted under the lock: once Close has returned, nothing reaches the poster any more.
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_closed) return false;
    m_post([self = shared_from_this(), &result, taken] {
      // The flag alone: taking a result may pump events, and another hand-over with them.
      const bool open = !self->IsClosed();
      if (open) self->m_take(result);
      taken->set_value(open);
    });
  }
  try {
    return answer.get();
  } catch (const std::future_error&) {
    // The loop went and dropped the task unrun.
    return false;
  }
}

void ResultHandOver::Close() {
  std::lock_guard<std::mutex> lock(m_lock);
  m_closed.store(true);
}

bool ResultHandOver::IsClosed() const { return m_closed.load(); }
