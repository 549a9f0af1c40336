// Where a worker hands its finished fetch over: the way to the user-interface thread and the
// document waiting there, kept apart from the view so that it outlives it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

struct FetchResult;

// Workers hold it rather than the view: a view may go while its workers still run. The view
// closes it as it goes (so does its document), and from then on no result is taken. Any thread.
class ResultHandOver : public std::enable_shared_from_this<ResultHandOver> {
 public:
  // Runs a task on the user-interface thread later; it must outlive every open hand-over. It is
  // called under the hand-over's lock, so a poster that runs the task at once (a test's) must
  // not close the hand-over from it.
  using Poster = std::function<void(std::function<void()>)>;
  // Takes a result on the user-interface thread.
  using Taker = std::function<void(const FetchResult&)>;

  ResultHandOver(Poster post, Taker take);
  ResultHandOver(const ResultHandOver&) = delete;
  ResultHandOver& operator=(const ResultHandOver&) = delete;

  // A worker: hands result to the user-interface thread and waits until it was taken there.
  // False when it was not (the hand-over was closed, or the task was dropped unrun).
  bool SendUrlDone(const FetchResult& result);
  // The user-interface thread, as the view goes: no result is taken from now on.
  void Close();
  bool IsClosed() const;

 private:
  // Held while a task is posted, so that Close waits for a post under way.
  std::mutex m_lock;
  std::atomic<bool> m_closed{false};
  Poster m_post;
  Taker m_take;
};
