// Internet session, HTTP connection and file classes over libcurl: what the fetch
// worker's HTTP, FTP and gopher handlers ask of a server, as classes.
//
// A fetch on one worker thread, as the worker does it:
//
//   platform::CInternetSession session(agent);          // handle in the table
//   link.m_hInternet = session.GetHandle();             // others may close it
//   try {
//       auto conn = session.GetHttpConnection(server, port, user, password);
//       auto file = conn->OpenRequest(platform::HTTP_VERB_GET, object, referer,
//                                     flags);          // INTERNET_FLAG_SECURE: https
//       file->AddRequestHeaders("Accept: */*\r\nAccept-Encoding: gzip\r\n",
//                               platform::HTTP_ADDREQ_FLAG_ADD_IF_NEW);
//       file->SendRequest();                            // POST: SendRequest(hdrs, body)
//       std::uint32_t status = 0;
//       file->QueryInfoStatusCode(status);
//       std::string raw;
//       file->QueryInfo(platform::HTTP_QUERY_RAW_HEADERS_CRLF, raw);
//       char buf[2048];
//       while (std::size_t n = file->Read(buf, sizeof buf)) { ... }   // only if wanted
//       file->Close();
//   } catch (const platform::CInternetException& e) {
//       // e.m_dwError (12007, 12029, 12017 ...) and e.GetErrorMessage()
//   }
//   if (platform::HINTERNET h = link.m_hInternet.exchange(0))
//       platform::InternetCloseHandle(h);
//   session.Close();                                    // frees the curl handles
//
// Threads: a session, its connections and files belong to the thread that made
// the session; only InternetCloseHandle (InetHandle.h) may be called from other
// threads. Once its handle is closed, every blocking call of the session (send,
// read) fails with 12017; the objects stay valid until their owner destroys them.
//
// Failures throw CInternetException; SendRequest and Read never report failure by
// their result.
//
// Connections: idle connections are kept in a process-wide pool keyed by scheme,
// host and port, and reused by any later request to the same place. A request
// whose body is not read to its end gives its connection up instead. Closing a pooled
// connection waits at most two seconds for the server's answer to its goodbye (FTP QUIT).
//
// Environment: http_proxy, https_proxy, all_proxy and no_proxy choose the proxy
// (the preconfigured access of the platform); WEXO_CA_FILE names a CA bundle used
// instead of the system's.
//
// Host names: without a proxy, a request's host is looked up in the process's name cache
// (HostLookup.h) before its transfer, and curl connects to those addresses.
//
// Credentials: a send offers those set on the request (SetOption), else the connection's,
// else the cached ones of its server; curl answers a 401 or 407 challenge with them. Ones
// that got past a challenge are cached for the process. Cookies: a request without
// INTERNET_FLAG_NO_COOKIES sends the jar's cookies that match it and stores what it gets.
#pragma once

#include "platform/InetDate.h"
#include "platform/InetError.h"
#include "platform/InetHandle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace inet_detail {
struct SessionState;
class Transfer;
}  // namespace inet_detail

// Verbs of OpenRequest; the values are the record's request kinds.
inline constexpr int HTTP_VERB_POST = 0;
inline constexpr int HTTP_VERB_GET = 1;
inline constexpr int HTTP_VERB_HEAD = 2;

// Request flags. Caching does not exist here and redirects are never followed,
// so only INTERNET_FLAG_SECURE changes what happens; the others are accepted.
inline constexpr std::uint32_t INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr std::uint32_t INTERNET_FLAG_EXISTING_CONNECT = 0x20000000;
inline constexpr std::uint32_t INTERNET_FLAG_PASSIVE = 0x08000000;
inline constexpr std::uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr std::uint32_t INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr std::uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr std::uint32_t INTERNET_FLAG_NO_COOKIES = 0x00080000;
inline constexpr std::uint32_t INTERNET_FLAG_TRANSFER_ASCII = 0x00000001;
inline constexpr std::uint32_t INTERNET_FLAG_TRANSFER_BINARY = 0x00000002;

// AddRequestHeaders modes.
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000;
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_ADD = 0x20000000;
inline constexpr std::uint32_t HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// QueryInfo levels (the library's numbers) and modifier.
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_TYPE = 1;
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr std::uint32_t HTTP_QUERY_DATE = 9;
inline constexpr std::uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
inline constexpr std::uint32_t HTTP_QUERY_STATUS_CODE = 19;
inline constexpr std::uint32_t HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr std::uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr std::uint32_t HTTP_QUERY_CONTENT_ENCODING = 29;
inline constexpr std::uint32_t HTTP_QUERY_LOCATION = 33;
inline constexpr std::uint32_t HTTP_QUERY_SERVER = 37;
inline constexpr std::uint32_t HTTP_QUERY_WWW_AUTHENTICATE = 40;
inline constexpr std::uint32_t HTTP_QUERY_PROXY_AUTHENTICATE = 41;
inline constexpr std::uint32_t HTTP_QUERY_SET_COOKIE = 43;
inline constexpr std::uint32_t HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000;

// Options (SetOption / QueryOption).
inline constexpr std::uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;  // ms, session
inline constexpr std::uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;  // ms, session
inline constexpr std::uint32_t INTERNET_OPTION_USERNAME = 28;        // request
inline constexpr std::uint32_t INTERNET_OPTION_PASSWORD = 29;        // request
inline constexpr std::uint32_t INTERNET_OPTION_SECURITY_FLAGS = 31;  // request
inline constexpr std::uint32_t INTERNET_OPTION_PROXY_USERNAME = 43;  // request
inline constexpr std::uint32_t INTERNET_OPTION_PROXY_PASSWORD = 44;  // request

// Security flags of a request.
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;

inline constexpr std::uint16_t INTERNET_INVALID_PORT_NUMBER = 0;  // the scheme's default
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr std::uint16_t INTERNET_DEFAULT_HTTPS_PORT = 443;

// Runs curl_global_init once; the program calls it at start before any thread.
// Every session calls it too, so a forgotten call is harmless.
void InternetInitialize();

// Frees the idle pooled connections (at orderly quit, after every worker ended).
void InternetShutdown();

// Number of session handles still in the table (sessions neither closed by
// InternetCloseHandle nor by their owner).
std::size_t InternetOpenHandleCount();

// Credentials that answered a challenge are kept for the process per scheme, host and
// port (a proxy's per proxy), so later requests there authenticate without asking.
// This forgets them all.
void InternetForgetCredentials();

// The cookie jar of the requests that allow cookies (without INTERNET_FLAG_NO_COOKIES):
// one for the process. Its cookies in curl's "Netscape" line form, and emptying it.
std::vector<std::string> InternetCookieLines();
void InternetClearCookies();

class CFtpConnection;
class CHttpConnection;
class CHttpFile;

// Takes body bytes as the transfer receives them (CInternetFile::ReadInto). Whatever Write
// throws ends the transfer and comes out of ReadInto.
class IBodyWriter {
 public:
  virtual void Write(const char* data, std::size_t n) = 0;

 protected:
  ~IBodyWriter() = default;
};

// Result of a request: the body, read in chunks.
class CInternetFile {
 public:
  CInternetFile(const CInternetFile&) = delete;
  CInternetFile& operator=(const CInternetFile&) = delete;
  virtual ~CInternetFile();

  // Copies up to count bytes of the body into buffer; 0 at its end. Blocks until
  // some bytes arrive. Throws CInternetException on a receive error or when the
  // session has been closed (12017).
  std::size_t Read(void* buffer, std::size_t count);
  // Hands the rest of the body to writer in the pieces curl receives, with no copy of its
  // own, at most limit bytes; gives the bytes written. more tells that the body goes on
  // beyond limit (that rest stays unread). Throws as Read does.
  std::int64_t ReadInto(IBodyWriter& writer, std::int64_t limit, bool& more);

  // Ends the request. A body not read to its end is abandoned and its connection
  // closed; a finished one goes back to the pool. Safe to call twice.
  virtual void Close();

  const std::string& GetUrl() const { return m_url; }

 protected:
  CInternetFile(std::shared_ptr<inet_detail::SessionState> session, std::string url);
  // Runs the transfer until its headers are in (http) or until its first byte or
  // its end (other schemes). Throws on failure.
  void StartTransfer(const std::string& poolKey, bool http);
  void ReleaseTransfer();
  virtual void Configure(inet_detail::Transfer& t) = 0;

  std::shared_ptr<inet_detail::SessionState> m_session;
  std::string m_url;
  std::unique_ptr<inet_detail::Transfer> m_transfer;
};

// An HTTP or HTTPS request (OpenRequest or OpenURL).
class CHttpFile : public CInternetFile {
 public:
  ~CHttpFile() override;

  // Adds header lines ("Name: value", separated by CR LF or LF). ADD_IF_NEW skips
  // a line whose name is already present, REPLACE replaces it, ADD appends.
  // A line without ':' makes the call return false (87) and is dropped.
  bool AddRequestHeaders(const std::string& headers, std::uint32_t flags = HTTP_ADDREQ_FLAG_ADD);
  // One header; CR and LF inside name or value become blanks.
  bool AddRequestHeader(const std::string& name, const std::string& value, std::uint32_t flags = HTTP_ADDREQ_FLAG_ADD);

  // Sends the request with extra header lines for this send and, for POST, the
  // body; returns once the final response's headers are in. May be called again
  // on the same request (the earlier response is dropped). Throws on failure.
  bool SendRequest(const std::string& headers = {}, const std::string& optional = {});

  // Status of the final response; false (12150) before a response.
  bool QueryInfoStatusCode(std::uint32_t& status) const;
  // A named header (first occurrence, control characters turned into blanks, blanks
  // trimmed), the status text (control characters blanked too), the status
  // code as text, or HTTP_QUERY_RAW_HEADERS_CRLF: the final response's status line
  // and header lines as received (case kept), each ending in CR LF, then an empty
  // line. False (12150) when absent.
  bool QueryInfo(std::uint32_t level, std::string& value) const;
  // A date header (level | HTTP_QUERY_FLAG_SYSTEMTIME), parsed as UTC.
  bool QueryInfo(std::uint32_t level, SYSTEMTIME& value) const;
  // Any header by name, case-insensitively.
  bool QueryInfo(const std::string& name, std::string& value) const;

  // INTERNET_OPTION_SECURITY_FLAGS of this request. SECURITY_FLAG_IGNORE_CERT_CN_INVALID
  // turns curl's host-name check off; the other IGNORE flags forgive exactly their kind
  // of chain error.
  bool QueryOption(std::uint32_t option, std::uint32_t& value) const;
  bool SetOption(std::uint32_t option, std::uint32_t value);
  // INTERNET_OPTION_USERNAME / _PASSWORD (the server's) and _PROXY_USERNAME /
  // _PROXY_PASSWORD: they answer the challenges of the following sends in place of the
  // connection's credentials and the cached ones.
  bool SetOption(std::uint32_t option, const std::string& value);

  // Where this request's credentials are kept: "scheme://host:port", or for the proxy
  // (proxy true) the proxy that the environment names; "" when no proxy is used.
  std::string GetCredentialServer(bool proxy) const;
  // True when the process's cache holds credentials for that place other than those the
  // last send offered; they are then set on this request for the next send.
  bool TakeNewerCachedCredentials(bool proxy);

  int GetVerb() const { return m_verb; }
  const std::string& GetObject() const { return m_object; }

 private:
  friend class CHttpConnection;
  friend class CInternetSession;
  CHttpFile(std::shared_ptr<inet_detail::SessionState> session, std::string url, std::string poolKey, int verb,
            std::string object, std::string referer, std::uint32_t flags, std::string user, std::string password);
  void Configure(inet_detail::Transfer& t) override;

  std::string m_poolKey;
  int m_verb;
  std::string m_object;
  std::string m_referer;
  std::uint32_t m_flags;
  std::string m_user;
  std::string m_password;
  std::uint32_t m_securityFlags = 0;
  struct Credentials {
    bool set = false;
    std::string user;
    std::string password;
  };
  Credentials m_optServer, m_optProxy;    // SetOption
  Credentials m_sentServer, m_sentProxy;  // what the last send offered
  bool m_preemptive = false;              // ... without waiting for a challenge
  long m_serverMethods = 0;               // CURLAUTH_* of the last 401's challenge
  long m_proxyMethods = 0;                // ... and of the last 407's
  bool m_preemptiveProxy = false;
  std::set<std::pair<std::string, std::string>> m_fedCookies;      // jar keys of the send
  std::vector<std::pair<std::string, std::string>> m_headers;      // name, value
  std::vector<std::pair<std::string, std::string>> m_sendHeaders;  // of the running send
  std::string m_body;
};

// A server to send HTTP requests to; no connection is made until a send.
class CHttpConnection {
 public:
  CHttpConnection(const CHttpConnection&) = delete;
  CHttpConnection& operator=(const CHttpConnection&) = delete;
  ~CHttpConnection();

  // A request for object (path and query). INTERNET_FLAG_SECURE makes it HTTPS.
  // An empty referer sends none.
  std::unique_ptr<CHttpFile> OpenRequest(int verb, const std::string& object, const std::string& referer = {},
                                         std::uint32_t flags = 0);
  void Close() {}

  const std::string& GetServerName() const { return m_server; }
  std::uint16_t GetPort() const { return m_port; }

 private:
  friend class CInternetSession;
  CHttpConnection(std::shared_ptr<inet_detail::SessionState> session, std::string server, std::uint16_t port,
                  std::string user, std::string password);

  std::shared_ptr<inet_detail::SessionState> m_session;
  std::string m_server;
  std::uint16_t m_port;
  std::string m_user;
  std::string m_password;
};

// A worker's internet session: its handle in the process-wide table and its
// settings. FTP connections (GetFtpConnection) are to be added beside the HTTP
// ones on the same transfer pool (pool key "ftp://host:port").
class CInternetSession {
 public:
  // agent: the User-Agent of every request; proxies come from the environment.
  explicit CInternetSession(const std::string& agent);
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;
  ~CInternetSession();

  HINTERNET GetHandle() const { return m_handle; }
  // True once the handle was closed (by InternetCloseHandle or Close).
  bool IsCancelled() const;

  // INTERNET_OPTION_CONNECT_TIMEOUT (default 60000 ms) and
  // INTERNET_OPTION_RECEIVE_TIMEOUT (default 0: none; the pump's time-out rules):
  // a connect, or a silence while receiving, longer than that fails with 12002.
  bool SetOption(std::uint32_t option, std::uint32_t value);
  bool QueryOption(std::uint32_t option, std::uint32_t& value) const;

  // port 0: the scheme's default, chosen by the request's INTERNET_FLAG_SECURE.
  std::unique_ptr<CHttpConnection> GetHttpConnection(const std::string& server,
                                                     std::uint16_t port = INTERNET_INVALID_PORT_NUMBER,
                                                     const std::string& user = {}, const std::string& password = {});

  // Connects and logs in (anonymous without a user name); InetFtp.h has the class.
  // passive: passive data connections, else active ones. Throws CInternetException.
  std::unique_ptr<CFtpConnection> GetFtpConnection(const std::string& server, const std::string& user = {},
                                                   const std::string& password = {},
                                                   std::uint16_t port = INTERNET_INVALID_PORT_NUMBER,
                                                   bool passive = false);

  // GET of a whole URL (http, https or gopher), sent at once. An http(s) URL gives
  // a CHttpFile. Throws CInternetException (12006 for other schemes).
  std::unique_ptr<CInternetFile> OpenURL(const std::string& url, std::uint32_t flags = 0);

  // Removes the handle from the table (when it is still there) and marks the
  // session closed. The curl handles are freed with the files that hold them.
  void Close();

 private:
  std::shared_ptr<inet_detail::SessionState> m_state;
  HINTERNET m_handle = 0;
};

}  // namespace platform
