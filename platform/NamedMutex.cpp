#include "platform/NamedMutex.h"

#include "platform/TempDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

constexpr auto kStep = std::chrono::milliseconds(50);

// The threads of this process queue on a gate of the name first, so the file lock is
// taken by one thread at a time; the gate also holds when the file cannot be opened.
struct Gate {
  std::mutex mutex;
  std::condition_variable freed;
  bool held = false;
};

Gate& ProcessGate(const std::string& name) {
  static std::mutex guard;
  static std::map<std::string, std::unique_ptr<Gate>> gates;
  std::lock_guard<std::mutex> lock(guard);
  auto& g = gates[name];
  if (!g) g = std::make_unique<Gate>();
  return *g;
}

void Open(Gate& gate) {
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.held = false;
  }
  gate.freed.notify_one();
}

}  // namespace

CNamedMutex::CNamedMutex(std::string name) : m_name(std::move(name)) {}

CNamedMutex::~CNamedMutex() { Unlock(); }

bool CNamedMutex::Lock(const std::function<bool()>& stop) {
  if (m_locked) return true;
  Gate& gate = ProcessGate(m_name);
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    while (gate.held) {
      if (stop && stop()) return false;
      gate.freed.wait_for(lock, kStep);
    }
    gate.held = true;
  }
  const std::string dir = GetTempPath();
  if (!dir.empty()) {
    m_fd = ::open((dir + m_name).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  }
  if (m_fd >= 0) {
    for (;;) {
      if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) break;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        // A file that cannot be locked leaves the lock within this process.
        ::close(m_fd);
        m_fd = -1;
        break;
      }
      if (stop && stop()) {
        ::close(m_fd);
        m_fd = -1;
        Open(gate);
        return false;
      }
      std::this_thread::sleep_for(kStep);
    }
  }
  m_locked = true;
  return true;
}

void CNamedMutex::Unlock() {
  if (!m_locked) return;
  if (m_fd >= 0) {
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
  }
  m_locked = false;
  Open(ProcessGate(m_name));
}

}  // namespace platform
