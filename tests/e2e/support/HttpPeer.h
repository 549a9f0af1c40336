// The scripted HTTP server of tests/peers/http_server.py, and its request log.
#pragma once

#include "e2e/support/PeerProcess.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wexo_test {

// One request as the server received it.
struct LoggedRequest {
  int conn = 0;  // TCP connection number, in accept order
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
  std::string body;

  // First header of that name (case-insensitive); empty when missing.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

class HttpPeer {
 public:
  // Starts the server; false (and error) when it does not come up.
  bool Start(std::string* error = nullptr);
  void Stop() { m_process.Stop(); }

  int Port() const { return m_process.Port(); }
  std::string Host() const { return "127.0.0.1"; }
  std::string Url(const std::string& target) const;

  // Control requests over a connection of their own (never pooled).
  std::vector<LoggedRequest> Log() const;
  void ClearLog() const;
  // Body bytes the server could send for /big?tag=tag (waits for that request to end).
  std::int64_t SentBytes(const std::string& tag) const;
  // Polls the log until a request whose target starts with prefix is there
  // (up to 10 s); false when none came.
  bool WaitForRequest(const std::string& prefix) const;

  // Body of a plain GET on a fresh connection; empty on failure.
  std::string Get(const std::string& target) const;

 private:
  PeerProcess m_process;
};

std::vector<LoggedRequest> ParseLog(const std::string& text);

// The body the server's /page route sends for size bytes.
std::string PageBytes(std::size_t size);

}  // namespace wexo_test
