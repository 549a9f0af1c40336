// A named lock shared by the threads of this process and by every other instance of the
// program: an flock on a file of that name in the private temporary folder.
#pragma once

#include <functional>
#include <string>

namespace platform {

class CNamedMutex {
 public:
  explicit CNamedMutex(std::string name);
  CNamedMutex(const CNamedMutex&) = delete;
  CNamedMutex& operator=(const CNamedMutex&) = delete;
  ~CNamedMutex();  // unlocks

  // Waits in short steps until the lock is ours; false, without it, as soon as stop()
  // returns true between two steps.
  bool Lock(const std::function<bool()>& stop);
  void Unlock();
  bool IsLocked() const { return m_locked; }

 private:
  std::string m_name;
  int m_fd = -1;
  bool m_locked = false;
};

}  // namespace platform
