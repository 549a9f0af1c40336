#include "e2e/support/PeerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace wexo_test {

bool PeerProcess::Start(const std::vector<std::string>& argv, std::chrono::milliseconds timeout, std::string* error) {
  Stop();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Stop();
    return false;
  };
  if (argv.empty()) return fail("empty command line");

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return fail(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // Only async-signal-safe calls until exec. The peer dies with the test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(fds[1], STDOUT_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  m_pid = pid;
  m_stdout = fds[0];

  // The first line is the port.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return fail("no port line from " + argv[0] + " in time");
    pollfd p{m_stdout, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    char c;
    const ssize_t n = read(m_stdout, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(argv[0] + " ended before printing its port");
    if (c == '\n') break;
    line += c;
  }
  char* end = nullptr;
  const long port = std::strtol(line.c_str(), &end, 10);
  if (port <= 0 || port > 65535) return fail("bad port line from " + argv[0] + ": " + line);
  m_port = static_cast<int>(port);

  // Keep reading, so a chatty peer never blocks on a full pipe.
  m_drain = std::thread([this, fd = m_stdout] {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      std::lock_guard<std::mutex> lock(m_mutex);
      m_output.append(buf, static_cast<std::size_t>(n));
    }
  });
  return true;
}

void PeerProcess::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (int i = 0; i < 300 && !reaped; ++i) {  // up to 3 s
      const pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid || (r < 0 && errno != EINTR))
        reaped = true;
      else
        usleep(10000);
    }
    if (!reaped) {
      kill(m_pid, SIGKILL);
      while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    m_pid = -1;
  }
  if (m_drain.joinable()) m_drain.join();  // the pipe ends with the child
  if (m_stdout >= 0) {
    close(m_stdout);
    m_stdout = -1;
  }
  m_port = 0;
}

std::string PeerProcess::Output() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_output;
}

std::string PeerScript(const std::string& name) { return std::string(WEXO_SOURCE_DIR) + "/tests/peers/" + name; }

bool StartMailPeer(PeerProcess& peer, const std::string& folder, std::string* error) {
  if (!peer.Start(
          {"/usr/bin/python3", PeerScript("smtp_auth_peer.py"), "--dir", folder, "--refuse", "nobody@example.org"},
          std::chrono::seconds(30), error))
    return false;
  setenv("WEXO_SMTP_PORT", std::to_string(peer.Port()).c_str(), 1);
  return true;
}

bool StartScriptedMailPeer(PeerProcess& peer, const std::string& script, std::string* error) {
  if (!peer.Start({"/usr/bin/python3", PeerScript("smtp_script_peer.py"), "--script", script}, std::chrono::seconds(20),
                  error))
    return false;
  setenv("WEXO_SMTP_PORT", std::to_string(peer.Port()).c_str(), 1);
  return true;
}

int UnusedPort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

std::vector<std::string> OutputLines(const std::string& output, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  return out;
}

bool WaitForOutput(const PeerProcess& peer, const std::string& prefix) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (OutputLines(peer.Output(), prefix).empty()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace wexo_test
