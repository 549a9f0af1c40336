// Inside of the internet classes: session state, the pooled curl transfer and the
// curl error mapping. Only the Inet*.cpp files include this.
#pragma once

#include "platform/InetHandle.h"

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class IBodyWriter;
}

namespace platform::inet_detail {

// What the handle table and the owner share. Everything but `cancelled` and
// `wake` is touched by the owner thread only.
struct SessionState {
  HINTERNET id = 0;
  std::string agent;
  std::uint32_t connectTimeoutMs = 60000;
  std::uint32_t receiveTimeoutMs = 0;
  std::atomic<bool> cancelled{false};
  std::mutex wakeMutex;
  CURLM* wake = nullptr;  // multi of the running transfer, woken on close
};

// The share handle (DNS and TLS sessions) after global initialisation.
CURLSH* Share();

// Frees a curl_slist.
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

// The proxy that curl takes from the environment for scheme ("http", "ftp" ...), no_proxy
// aside; "" when none.
std::string ProxyOf(const std::string& scheme);

// Looks the host of url up in the process's name cache (HostLookup.h) and gives the answer
// as a CURLOPT_RESOLVE list ("+host:port:address,..."), so that curl connects without asking
// a resolver of its own. nullptr when curl resolves: an address, a name that is not a plain
// DNS name, or a proxy from the environment. Throws 12007 for a name without an address,
// 12017 once the session is closed.
SlistPtr PinHost(SessionState& s, const std::string& url);

// curl result to the internet library's number.
std::uint32_t MapCurlError(CURLcode rc, long osErrno, long verifyResult);

// One multi handle with its easy handle, used by one request at a time and kept
// in the pool between requests, so its live connection is reused.
class Transfer {
 public:
  enum class Kind { Http, Raw };

  // An idle transfer for key ("scheme://host:port") from the pool, or a new one.
  static std::unique_ptr<Transfer> Acquire(const std::string& key);
  // Back to the pool when it ended cleanly; otherwise freed with its connection.
  static void Release(std::unique_ptr<Transfer> t, SessionState& s);
  static void DrainPool();

  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer();

  CURL* Easy() const { return m_easy; }

  // Clears the earlier request and sets the options every request has.
  void Reset(SessionState& s);
  // Keeps a header list / request body alive for the transfer.
  void SetHeaderList(curl_slist* list);
  // Addresses of the request's host (PinHost); kept until the next Reset.
  void SetResolveList(SlistPtr list);
  void SetBody(std::string body);
  const std::string& Body() const { return m_postBody; }
  // Credentials are set: curl may answer a 401/407 itself with a second request.
  void SetAuthRetry(bool on) { m_authRetry = on; }
  // Longest wait for curl between two looks at the transfer. FTP needs a short one: curl
  // starts a passive data connection without telling when to look again.
  void SetPollInterval(int ms) { m_pollMs = ms; }

  // Runs until the final response's headers are in (Raw: the first body byte) or
  // the transfer ended. Throws CInternetException.
  void Start(SessionState& s, Kind kind);
  // Body bytes; 0 at the end. Throws CInternetException.
  std::size_t Read(SessionState& s, void* buffer, std::size_t count);
  // The rest of the body straight to writer (CInternetFile::ReadInto).
  std::int64_t ReadInto(SessionState& s, IBodyWriter& writer, std::int64_t limit, bool& more);
  // Takes the easy handle out of the multi; true when it ended cleanly.
  bool Detach(SessionState& s);

  // The final response's header block is complete.
  bool HasResponse() const { return m_headersDone; }
  std::uint32_t Status() const { return m_status; }
  // curl's result of the ended transfer (FTP failures are told apart by it).
  CURLcode Result() const { return m_result; }
  const std::string& StatusText() const { return m_statusText; }
  const std::string& RawHeaders() const { return m_raw; }
  // First header of that name (case-insensitive), value trimmed.
  bool Header(const std::string& name, std::string& value) const;

 private:
  // Frees the cookie file list that FeedCookies may have left; the cookie engine goes off.
  void ForgetCookieFiles();
  explicit Transfer(std::string key);
  [[noreturn]] void Fail(SessionState& s, CURLcode rc);
  [[noreturn]] void FailCancelled();
  template <class Ready>
  void Pump(SessionState& s, Ready ready);
  void BeginResponse();

  static size_t OnHeader(char* data, size_t size, size_t n, void* self);
  static size_t OnWrite(char* data, size_t size, size_t n, void* self);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  std::string m_key;
  CURLM* m_multi = nullptr;
  CURL* m_easy = nullptr;
  curl_slist* m_headerList = nullptr;
  SlistPtr m_resolveList;
  std::string m_postBody;
  char m_errorBuffer[CURL_ERROR_SIZE] = {};

  SessionState* m_session = nullptr;  // while added to the multi
  bool m_added = false;
  bool m_done = false;
  bool m_broken = false;  // cancelled or failed: never pooled
  CURLcode m_result = CURLE_OK;
  Kind m_kind = Kind::Http;
  bool m_authRetry = false;
  int m_pollMs = 1000;

  // Response.
  std::uint32_t m_status = 0;
  std::string m_statusText;
  std::string m_raw;
  std::vector<std::pair<std::string, std::string>> m_headers;
  bool m_headerEnd = false;    // the empty line after the headers came
  bool m_headersDone = false;  // ... of the final response
  std::string m_buffer;
  std::size_t m_bufferPos = 0;
  bool m_paused = false;
  // While ReadInto runs: where the body goes, the bytes it may still take, and what its
  // Write threw (curl's callback must not throw).
  IBodyWriter* m_writer = nullptr;
  std::int64_t m_writeRoom = 0;
  std::exception_ptr m_writeError;
};

// A server name that can stand in a URL: not empty, no blanks, controls or delimiters.
bool ValidHost(const std::string& host);
// The host as written in a URL: an IPv6 address in brackets.
std::string HostForUrl(const std::string& host);

}  // namespace platform::inet_detail
