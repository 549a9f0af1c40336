// A test peer run as a child process: started with a command line, ready once it
// printed its port as the first line on stdout, killed on teardown.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wexo_test {

class PeerProcess {
 public:
  PeerProcess() = default;
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess() { Stop(); }

  // Runs argv (argv[0] a path) and waits up to timeout for the port line.
  // False, with the reason in error, when it did not come; the child is gone then.
  bool Start(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = std::chrono::seconds(15),
             std::string* error = nullptr);

  // SIGTERM, then SIGKILL after a grace period; reaps the child. Idempotent.
  void Stop();

  bool Running() const { return m_pid > 0; }
  int Port() const { return m_port; }
  pid_t Pid() const { return m_pid; }
  // What the peer wrote on stdout after the port line.
  std::string Output() const;

 private:
  pid_t m_pid = -1;
  int m_port = 0;
  int m_stdout = -1;
  std::thread m_drain;
  mutable std::mutex m_mutex;
  std::string m_output;
};

// Path of a script in tests/peers.
std::string PeerScript(const std::string& name);

// aiosmtpd (smtp_auth_peer.py) saving into folder and refusing nobody@example.org, with
// WEXO_SMTP_PORT pointing at it; false, with the reason in error, when it did not start.
bool StartMailPeer(PeerProcess& peer, const std::string& folder, std::string* error);

// The scripted SMTP server (smtp_script_peer.py) playing script (its JSON list of steps), with
// WEXO_SMTP_PORT pointing at it; false, with the reason in error, when it did not start.
bool StartScriptedMailPeer(PeerProcess& peer, const std::string& script, std::string* error);

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
int UnusedPort();

// The lines of a peer's output that start with prefix, without it.
std::vector<std::string> OutputLines(const std::string& output, const std::string& prefix);

// Waits up to 20 s until the peer has written a line starting with prefix; false if it did not.
bool WaitForOutput(const PeerProcess& peer, const std::string& prefix);

// The bytes that a peer printed as hex digits.
std::string FromHex(const std::string& hex);

}  // namespace wexo_test
