#include "e2e/support/HttpPeer.h"
#include "platform/AsciiText.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace wexo_test {

std::string LoggedRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (platform::AsciiEqualNoCase(n, name)) return v;
  return {};
}

bool LoggedRequest::HasHeader(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (platform::AsciiEqualNoCase(n, name)) return true;
  return false;
}

bool HttpPeer::Start(std::string* error) {
  return m_process.Start({"/usr/bin/python3", PeerScript("http_server.py")}, std::chrono::seconds(15), error);
}

std::string HttpPeer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(Port()) + target;
}

std::string HttpPeer::Get(const std::string& target) const {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return {};
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(Port()));
  std::string response;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    std::size_t off = 0;
    while (off < req.size()) {
      const ssize_t n = send(s, req.data() + off, req.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buf[8192];
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{s, POLLIN, 0};
      const int r = poll(&p, 1, 1000);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      const ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      response.append(buf, static_cast<std::size_t>(n));
    }
  }
  close(s);
  const std::size_t body = response.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : response.substr(body + 4);
}

std::vector<LoggedRequest> ParseLog(const std::string& text) {
  std::vector<LoggedRequest> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] != '\t') {
      LoggedRequest r;
      std::istringstream first(line);
      std::string conn;
      first >> conn >> r.method >> r.target >> r.version;
      r.conn = std::atoi(conn.c_str() + 5);  // "conn="
      out.push_back(std::move(r));
      continue;
    }
    if (out.empty()) continue;
    const std::string rest = line.substr(1);
    if (rest.rfind("body=", 0) == 0) {
      const std::string hex = rest.substr(5);
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.back().body += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
      continue;
    }
    const std::size_t colon = rest.find(": ");
    if (colon != std::string::npos) out.back().headers.emplace_back(rest.substr(0, colon), rest.substr(colon + 2));
  }
  return out;
}

std::vector<LoggedRequest> HttpPeer::Log() const { return ParseLog(Get("/__log")); }

void HttpPeer::ClearLog() const { Get("/__log?clear=1"); }

std::int64_t HttpPeer::SentBytes(const std::string& tag) const {
  const std::string r = Get("/__sent?tag=" + tag);
  return r.empty() ? -1 : std::strtoll(r.c_str(), nullptr, 10);
}

bool HttpPeer::WaitForRequest(const std::string& prefix) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& r : Log())
      if (r.target.rfind(prefix, 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string PageBytes(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 31 + 7) % 251);
  return s;
}

}  // namespace wexo_test
