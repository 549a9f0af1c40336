// Where a worker hands its finished fetch over: the way to the user-interface thread and the
// document waiting there, kept apart from the view so that it outlives it.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

struct FetchResult;

// Workers hold it rather than the view: a view may go while its workers still run. A worker
// queues its result and goes on at once; the user-interface thread takes every queued result
// in one go, oldest first. Only the first result of a burst posts a task to that thread: the
// others find one posted already. The view closes it as it goes (so does its document), and
// from then on no result is taken: queued and later results are dropped with their temporary
// bodies. Any thread, unless said otherwise.
class ResultHandOver : public std::enable_shared_from_this<ResultHandOver> {
 public:
  // Runs a task on the user-interface thread later; it must outlive every open hand-over. A
  // poster that runs the task at once (a test's) must not close the hand-over from it.
  using Poster = std::function<void(std::function<void()>)>;
  // Takes a result on the user-interface thread; it may pump events.
  using Taker = std::function<void(std::unique_ptr<FetchResult>)>;

  ResultHandOver(Poster post, Taker take);
  // Results never taken still own their temporary bodies: they are removed.
  ~ResultHandOver();
  ResultHandOver(const ResultHandOver&) = delete;
  ResultHandOver& operator=(const ResultHandOver&) = delete;

  // A worker: queues result for the user-interface thread without waiting for it. From here on
  // the hand-over owns it; once closed, it drops it at once.
  void PostUrlDone(std::unique_ptr<FetchResult> result);
  // The user-interface thread: takes the queued results, oldest first, until none is left. A
  // call made while results are being taken (from an event the taker pumped) returns at once:
  // the outer call goes on in order. Gives the number of results this call took.
  std::size_t TakeWaiting();
  // Results queued and not yet taken.
  std::size_t WaitingCount() const;
  // The user-interface thread, as the view goes: no result is taken from now on, and the
  // queued ones are dropped. A post under way is waited for, so none reaches the poster after.
  void Close();
  bool IsClosed() const;

  // A result that nobody takes: its temporary body file is removed.
  static void Drop(FetchResult& result);

 private:
  // Held while a task is posted, before m_lock where both are taken.
  std::mutex m_postLock;
  mutable std::mutex m_lock;
  std::deque<std::unique_ptr<FetchResult>> m_waiting;
  bool m_posted = false;  // a task to take the queue is on its way, or taking runs
  bool m_taking = false;
  std::atomic<bool> m_closed{false};
  Poster m_post;
  Taker m_take;
};
