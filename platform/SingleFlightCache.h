// Answers kept per key for a while, and asked for once at a time: while one thread asks for
// a key, the others that want it wait for that answer instead of asking again. The name
// lookups keep their answers, negative ones included, in one of these each, so the many links
// of a site to one host cost one question to the resolver, and a host without an address is
// not asked for again with every link to it.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {

template <class Answer>
class SingleFlightCache {
 public:
  // What became of one question.
  enum class Asked { Keep, Forget, Cancelled };

  explicit SingleFlightCache(std::chrono::seconds keep) : m_keep(keep) {}

  // The answer for key: a kept one, the one another thread is asking for, or what
  // ask(Answer&) gives in this thread. False once cancelled() is true (polled while this
  // thread waits; ask polls it itself); a question this thread was asking is then dropped,
  // and a thread that waited for it asks anew. An exception from ask drops it too.
  template <class Ask>
  bool Get(const std::string& key, Answer& answer, const std::function<bool()>& cancelled, Ask&& ask) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      if (cancelled && cancelled()) return false;
      const Clock::time_point now = Clock::now();
      auto it = m_entries.find(key);
      if (it == m_entries.end()) {
        if (m_entries.size() >= m_sweepAt) {
          Sweep(now);
          m_sweepAt = std::max(kSweepAbove, 2 * m_entries.size());
        }
        m_entries[key].asking = true;
        break;
      }
      Entry& e = it->second;
      if (!e.asking) {
        if (now < e.expires) {
          answer = e.answer;
          return true;
        }
        e.asking = true;
        break;
      }
      m_changed.wait_for(lock, kWaitSlice);
    }
    lock.unlock();

    // This thread asks; whatever happens, the waiters hear of it.
    struct Publish {
      SingleFlightCache& cache;
      const std::string& key;
      Asked asked = Asked::Cancelled;
      Answer fresh{};
      ~Publish() {
        std::lock_guard<std::mutex> guard(cache.m_mutex);
        auto it = cache.m_entries.find(key);
        if (it != cache.m_entries.end()) {
          if (asked != Asked::Keep) {
            cache.m_entries.erase(it);
          } else {
            it->second.asking = false;
            it->second.answer = fresh;
            it->second.expires = Clock::now() + cache.m_keep;
          }
        }
        cache.m_changed.notify_all();
      }
    } publish{*this, key};
    publish.asked = ask(publish.fresh);
    answer = publish.fresh;
    return publish.asked != Asked::Cancelled;
  }

 private:
  using Clock = std::chrono::steady_clock;
  // Waiters look at their cancel predicate at least this often.
  static constexpr auto kWaitSlice = std::chrono::milliseconds(100);
  // Past this many keys, ended ones are swept out before another is added; the next sweep
  // waits until the table has doubled again, so sweeping costs each insert a constant.
  static constexpr std::size_t kSweepAbove = 4096;

  struct Entry {
    bool asking = false;
    Answer answer{};
    Clock::time_point expires;
  };

  void Sweep(Clock::time_point now) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      if (!it->second.asking && it->second.expires <= now)
        it = m_entries.erase(it);
      else
        ++it;
    }
  }

  const std::chrono::seconds m_keep;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::unordered_map<std::string, Entry> m_entries;
  std::size_t m_sweepAt = kSweepAbove;
};

}  // namespace platform
