#include "platform/AsciiText.h"
#include "platform/HostLookup.h"
#include "platform/Inet.h"
#include "platform/InetTransfer.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

namespace platform {
namespace inet_detail {
namespace {

std::once_flag g_initOnce;
CURLSH* g_share = nullptr;
std::mutex g_shareLocks[CURL_LOCK_DATA_LAST];

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) { g_shareLocks[data].lock(); }

void UnlockShare(CURL*, curl_lock_data data, void*) { g_shareLocks[data].unlock(); }

// Session handle table.
std::mutex g_tableMutex;
std::unordered_map<HINTERNET, std::shared_ptr<SessionState>> g_table;
HINTERNET g_nextHandle = 1;

// Idle transfers by key, most recently used last.
constexpr std::size_t kIdlePerKey = 32;
constexpr std::size_t kIdleTotal = 128;
std::mutex g_poolMutex;
std::map<std::string, std::vector<std::unique_ptr<Transfer>>> g_pool;
std::size_t g_idleCount = 0;

// A body that nobody reads waits in at most this much memory; curl then stops
// taking data from the connection.
constexpr std::size_t kBufferLimit = 64 * 1024;

// Longest wait for the answer to a goodbye (FTP QUIT) when a transfer's connections close.
constexpr long kGoodbyeWaitSeconds = 2;

// A server's text with its control characters (0x00-0x1F, 0x7F) turned into blanks: header
// values end up in TAB-separated exports, where a TAB or CR would add fields or rows.
std::string Blanked(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return s;
}

}  // namespace

CURLSH* Share() {
  InternetInitialize();
  return g_share;
}

std::uint32_t MapCurlError(CURLcode rc, long osErrno, long verifyResult) {
  switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      if (osErrno == ECONNRESET || osErrno == EPIPE) return ERROR_INTERNET_CONNECTION_RESET;
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:  // also an HTTP/0.9 answer
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_LOGIN_DENIED: return ERROR_INTERNET_INCORRECT_PASSWORD;
    case CURLE_PEER_FAILED_VERIFICATION:
      switch (verifyResult) {
        case 0:   // the chain was fine: curl's own host-name check failed
        case 1:   // curl's "not checked yet": its host-name check runs before it reads the chain's verdict
        case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
        case 64:  // X509_V_ERR_IP_ADDRESS_MISMATCH
          return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        case 9:   // X509_V_ERR_CERT_NOT_YET_VALID
        case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
          return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        default: return ERROR_INTERNET_INVALID_CA;
      }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

// ---- Transfer ----

Transfer::Transfer(std::string key) : m_key(std::move(key)) {
  m_multi = curl_multi_init();
  m_easy = curl_easy_init();
  if (!m_multi || !m_easy) {
    if (m_easy) curl_easy_cleanup(m_easy);
    if (m_multi) curl_multi_cleanup(m_multi);
    throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
  }
  curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 2L);
}

Transfer::~Transfer() {
  // The owner has detached it (Release); this is the last resort.
  if (m_added) curl_multi_remove_handle(m_multi, m_easy);
  // curl closes the connections the multi keeps with a goodbye (an FTP QUIT) and waits for
  // the answer as long as the server-response time-out of the handle last added: two
  // minutes by default, and no cancellation reaches that wait. Adding the handle once more
  // with a short time-out bounds it, so a server that never answers cannot hold the worker.
  ForgetCookieFiles();
  curl_easy_reset(m_easy);
  curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, kGoodbyeWaitSeconds);
  if (curl_multi_add_handle(m_multi, m_easy) == CURLM_OK) curl_multi_remove_handle(m_multi, m_easy);
  curl_easy_cleanup(m_easy);
  curl_multi_cleanup(m_multi);
  curl_slist_free_all(m_headerList);
}

std::unique_ptr<Transfer> Transfer::Acquire(const std::string& key) {
  InternetInitialize();
  {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    auto it = g_pool.find(key);
    if (it != g_pool.end() && !it->second.empty()) {
      std::unique_ptr<Transfer> t = std::move(it->second.back());
      it->second.pop_back();
      if (it->second.empty()) g_pool.erase(it);
      --g_idleCount;
      return t;
    }
  }
  return std::unique_ptr<Transfer>(new Transfer(key));
}

void Transfer::Release(std::unique_ptr<Transfer> t, SessionState& s) {
  if (!t) return;
  const bool clean = t->Detach(s);
  if (!clean) return;  // freed here, closing its connection
  curl_slist_free_all(t->m_headerList);
  t->m_headerList = nullptr;
  std::string().swap(t->m_postBody);
  std::string().swap(t->m_buffer);
  {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    auto& idle = g_pool[t->m_key];
    if (idle.size() < kIdlePerKey && g_idleCount < kIdleTotal) {
      idle.push_back(std::move(t));
      ++g_idleCount;
      return;
    }
    if (idle.empty()) g_pool.erase(t->m_key);
  }
  // The pool is full: t is freed here, outside the lock.
}

void Transfer::DrainPool() {
  std::map<std::string, std::vector<std::unique_ptr<Transfer>>> old;
  {
    std::lock_guard<std::mutex> lock(g_poolMutex);
    old.swap(g_pool);
    g_idleCount = 0;
  }
}

void Transfer::SetHeaderList(curl_slist* list) {
  curl_slist_free_all(m_headerList);
  m_headerList = list;
  curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headerList);
}

void Transfer::SetResolveList(SlistPtr list) {
  m_resolveList = std::move(list);
  curl_easy_setopt(m_easy, CURLOPT_RESOLVE, m_resolveList.get());
}

void Transfer::SetBody(std::string body) { m_postBody = std::move(body); }

void Transfer::ForgetCookieFiles() {
  // curl_easy_reset drops the list of cookie files without freeing it: a request that
  // failed before its cookies were harvested would leave the list behind.
  curl_easy_setopt(m_easy, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
}

void Transfer::Reset(SessionState& s) {
  ForgetCookieFiles();
  curl_easy_reset(m_easy);
  // The last request's addresses must not reach the next one, whose host may differ.
  SetResolveList(nullptr);
  curl_slist_free_all(m_headerList);
  m_headerList = nullptr;
  m_postBody.clear();
  m_errorBuffer[0] = '\0';
  m_done = false;
  m_broken = false;
  m_result = CURLE_OK;
  m_authRetry = false;
  BeginResponse();

  CURL* e = m_easy;
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_SHARE, Share());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errorBuffer);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.connectTimeoutMs));
  if (s.receiveTimeoutMs > 0) {
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, static_cast<long>((s.receiveTimeoutMs + 999) / 1000));
  }
  if (const char* ca = std::getenv("WEXO_CA_FILE"); ca && *ca) curl_easy_setopt(e, CURLOPT_CAINFO, ca);
}

void Transfer::BeginResponse() {
  m_status = 0;
  m_statusText.clear();
  m_raw.clear();
  m_headers.clear();
  m_headerEnd = false;
  m_headersDone = false;
  m_buffer.clear();
  m_bufferPos = 0;
  m_paused = false;
}

size_t Transfer::OnHeader(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<Transfer*>(self);
  const size_t total = size * n;
  std::string line(data, total);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();

  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new response: an interim one (1xx) or curl's own follow-up request
    // after authenticating. Only the last one counts.
    t->BeginResponse();
    t->m_raw = line + "\r\n";
    const std::size_t sp = line.find(' ');
    if (sp != std::string::npos) {
      t->m_status = static_cast<std::uint32_t>(std::strtoul(line.c_str() + sp + 1, nullptr, 10));
      const std::size_t sp2 = line.find(' ', sp + 1);
      if (sp2 != std::string::npos) t->m_statusText = Blanked(line.substr(sp2 + 1));
    }
    return total;
  }
  if (t->m_headersDone) return total;  // trailers of a chunked body
  if (t->m_kind != Kind::Http) return total;
  if (line.empty()) {
    t->m_raw += "\r\n";
    t->m_headerEnd = true;
    const std::uint32_t st = t->m_status;
    if (st >= 200 && !(t->m_authRetry && (st == 401 || st == 407))) t->m_headersDone = true;
    return total;
  }
  t->m_raw += line;
  t->m_raw += "\r\n";
  if ((line[0] == ' ' || line[0] == '\t') && !t->m_headers.empty()) {
    t->m_headers.back().second += " " + std::string(TrimBlanksAndTabs(Blanked(line)));
    return total;
  }
  const std::size_t colon = line.find(':');
  if (colon != std::string::npos)
    t->m_headers.emplace_back(line.substr(0, colon), std::string(TrimBlanksAndTabs(Blanked(line.substr(colon + 1)))));
  return total;
}

size_t Transfer::OnWrite(char* data, size_t size, size_t n, void* self) {
  auto* t = static_cast<Transfer*>(self);
  const size_t total = size * n;
  t->m_headersDone = true;
  if (t->m_writer) {
    try {
      const std::size_t take =
          static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(total), t->m_writeRoom));
      if (take > 0) t->m_writer->Write(data, take);
      t->m_writeRoom -= static_cast<std::int64_t>(take);
      if (take < total) {
        // Beyond the limit: kept unread, and the reading stops.
        t->m_buffer.assign(data + take, total - take);
        t->m_bufferPos = 0;
        t->m_writer = nullptr;
      }
      return total;
    } catch (...) {
      t->m_writeError = std::current_exception();
      t->m_writer = nullptr;
      return 0;  // curl ends the transfer with a write error
    }
  }
  if (t->m_bufferPos == t->m_buffer.size()) {
    t->m_buffer.clear();
    t->m_bufferPos = 0;
  } else if (t->m_buffer.size() - t->m_bufferPos >= kBufferLimit) {
    t->m_paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  t->m_buffer.append(data, total);
  return total;
}

int Transfer::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(self);
  return t->m_session && t->m_session->cancelled.load() ? 1 : 0;
}

void Transfer::FailCancelled() {
  m_broken = true;
  throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
}

void Transfer::Fail(SessionState& s, CURLcode rc) {
  m_broken = true;
  if (rc == CURLE_ABORTED_BY_CALLBACK || s.cancelled.load())
    throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  long osErrno = 0;
  long verify = 0;
  curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osErrno);
  curl_easy_getinfo(m_easy, CURLINFO_SSL_VERIFYRESULT, &verify);
  // curl refuses a header line over 100 KB as out of memory and a header block over
  // 300 KB as a receive error; either is the server's doing, not a lack of memory.
  if (m_kind == Kind::Http && !m_headersDone &&
      (rc == CURLE_OUT_OF_MEMORY ||
       (rc == CURLE_RECV_ERROR && std::strncmp(m_errorBuffer, "Too large response headers", 26) == 0)))
    throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR, "The response headers were too large");
  const std::uint32_t code = MapCurlError(rc, osErrno, verify);
  if (code == ERROR_INTERNET_INTERNAL_ERROR) {
    std::string detail = m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(rc);
    throw CInternetException(code, InternetErrorMessage(code) + " (" + detail + ")");
  }
  throw CInternetException(code);
}

template <class Ready>
void Transfer::Pump(SessionState& s, Ready ready) {
  for (;;) {
    if (s.cancelled.load()) FailCancelled();
    if (!m_done) {
      int running = 0;
      CURLMcode mc = curl_multi_perform(m_multi, &running);
      if (mc != CURLM_OK) {
        m_broken = true;
        throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR, InternetErrorMessage(ERROR_INTERNET_INTERNAL_ERROR) +
                                                                    " (" + curl_multi_strerror(mc) + ")");
      }
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy) {
          m_done = true;
          m_result = msg->data.result;
        }
      }
    }
    if (ready() || m_done) return;
    curl_multi_poll(m_multi, nullptr, 0, m_pollMs, nullptr);
  }
}

void Transfer::Start(SessionState& s, Kind kind) {
  m_kind = kind;
  m_session = &s;
  if (s.cancelled.load()) FailCancelled();
  if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
    m_broken = true;
    throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
  }
  m_added = true;
  {
    std::lock_guard<std::mutex> lock(s.wakeMutex);
    s.wake = m_multi;
  }
  if (kind == Kind::Http)
    Pump(s, [this] { return m_headersDone; });
  else
    Pump(s, [this] { return m_bufferPos < m_buffer.size(); });
  if (m_done && m_result != CURLE_OK && (kind == Kind::Raw || !m_headersDone)) Fail(s, m_result);
  // A 401/407 that curl did not answer itself and that had no body.
  if (kind == Kind::Http && m_done && m_headerEnd && m_status >= 200) m_headersDone = true;
  if (kind == Kind::Http && !m_headersDone) {
    // Ended cleanly without a complete header block.
    m_broken = true;
    throw CInternetException(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
}

std::size_t Transfer::Read(SessionState& s, void* buffer, std::size_t count) {
  if (!m_added) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (count == 0) return 0;
  if (m_bufferPos == m_buffer.size() && !m_done) {
    if (m_paused) {
      m_paused = false;
      curl_easy_pause(m_easy, CURLPAUSE_CONT);  // may deliver held data at once
    }
    Pump(s, [this] { return m_bufferPos < m_buffer.size(); });
  } else if (s.cancelled.load()) {
    FailCancelled();
  }
  const std::size_t avail = m_buffer.size() - m_bufferPos;
  if (avail > 0) {
    const std::size_t n = std::min(avail, count);
    std::memcpy(buffer, m_buffer.data() + m_bufferPos, n);
    m_bufferPos += n;
    return n;
  }
  if (m_result != CURLE_OK) Fail(s, m_result);
  return 0;
}

std::int64_t Transfer::ReadInto(SessionState& s, IBodyWriter& writer, std::int64_t limit, bool& more) {
  if (!m_added) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  more = false;
  // What came before this call first.
  std::int64_t done = 0;
  if (m_bufferPos < m_buffer.size()) {
    const auto take = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(m_buffer.size() - m_bufferPos), limit));
    writer.Write(m_buffer.data() + m_bufferPos, take);
    m_bufferPos += take;
    done = static_cast<std::int64_t>(take);
    if (m_bufferPos < m_buffer.size()) {
      more = true;
      return done;
    }
    m_buffer.clear();
    m_bufferPos = 0;
  }
  if (m_done) {
    if (m_result != CURLE_OK) Fail(s, m_result);
    return done;
  }
  m_writer = &writer;
  m_writeRoom = limit - done;
  m_writeError = nullptr;
  try {
    if (m_paused) {
      m_paused = false;
      curl_easy_pause(m_easy, CURLPAUSE_CONT);  // may deliver held data at once
    }
    Pump(s, [this] { return m_writer == nullptr; });
  } catch (...) {
    m_writer = nullptr;
    throw;
  }
  const bool stopped = m_writer == nullptr;
  m_writer = nullptr;
  done = limit - m_writeRoom;
  if (m_writeError) {
    m_broken = true;
    std::rethrow_exception(std::exchange(m_writeError, nullptr));
  }
  if (stopped) {
    more = true;
  } else if (m_result != CURLE_OK) {
    Fail(s, m_result);
  }
  return done;
}

bool Transfer::Detach(SessionState& s) {
  {
    std::lock_guard<std::mutex> lock(s.wakeMutex);
    if (s.wake == m_multi) s.wake = nullptr;
  }
  if (m_added) {
    curl_multi_remove_handle(m_multi, m_easy);
    m_added = false;
  }
  m_session = nullptr;
  return m_done && m_result == CURLE_OK && !m_broken;
}

bool Transfer::Header(const std::string& name, std::string& value) const {
  for (const auto& [n, v] : m_headers) {
    if (AsciiEqualNoCase(n, name)) {
      value = v;
      return true;
    }
  }
  return false;
}

bool ValidHost(const std::string& host) {
  if (host.empty()) return false;
  for (unsigned char c : host) {
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
  }
  return true;
}

std::string HostForUrl(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

std::string ProxyOf(const std::string& scheme) {
  std::string lower = scheme + "_proxy";
  const std::string upper = AsciiUppered(lower);
  // curl reads "http_proxy" in lower case only.
  const char* names[] = {lower.c_str(), scheme == "http" ? nullptr : upper.c_str(), "all_proxy", "ALL_PROXY"};
  for (const char* n : names) {
    if (!n) continue;
    if (const char* v = std::getenv(n); v && *v) return v;
  }
  return {};
}

namespace {

// A name c-ares can ask for as it is. Others stay curl's: addresses, names curl converts
// first (IDN) and the localhost names curl answers itself.
bool PlainDnsName(const std::string& host) {
  if (host.empty() || host.front() == '.' || host.front() == '[') return false;
  // ASCII only, whatever the process locale says (the GUI toolkit sets one).
  for (char c : host) {
    if (!IsAsciiAlnum(c) && c != '-' && c != '_' && c != '.') return false;
  }
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return false;
  std::string lower = AsciiLowered(host);
  while (!lower.empty() && lower.back() == '.') lower.pop_back();
  const std::string local = ".localhost";
  return lower != local.substr(1) &&
         !(lower.size() > local.size() && lower.compare(lower.size() - local.size(), local.size(), local) == 0);
}

// Scheme, host (as curl sees it) and port of url; false when curl would not take it.
bool PlaceOf(const std::string& url, std::string& scheme, std::string& host, std::string& port) {
  CURLU* u = curl_url();
  if (!u) return false;
  auto part = [&](CURLUPart what, std::string& out, unsigned flags) {
    char* p = nullptr;
    const bool ok = curl_url_get(u, what, &p, flags) == CURLUE_OK && p;
    if (ok) out = p;
    curl_free(p);
    return ok;
  };
  const bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_PATH_AS_IS) == CURLUE_OK &&
                  part(CURLUPART_SCHEME, scheme, 0) && part(CURLUPART_HOST, host, 0) &&
                  part(CURLUPART_PORT, port, CURLU_DEFAULT_PORT);
  curl_url_cleanup(u);
  return ok;
}

}  // namespace

SlistPtr PinHost(SessionState& s, const std::string& url) {
  std::string scheme, host, port;
  if (!PlaceOf(url, scheme, host, port) || !PlainDnsName(host)) return nullptr;
  // Through a proxy the name is the proxy's to resolve (or curl's, for a no_proxy host).
  if (!ProxyOf(scheme).empty()) return nullptr;
  std::vector<std::string> addresses;
  switch (LookupHost(host, addresses, [&s] { return s.cancelled.load(); })) {
    case HostLookupResult::Cancelled: throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
    case HostLookupResult::NotFound: throw CInternetException(ERROR_INTERNET_NAME_NOT_RESOLVED);
    case HostLookupResult::Found: break;
  }
  // "+": an ordinary entry of curl's cache, which expires, not a fixed one.
  std::string entry = "+" + host + ":" + port + ":";
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (i) entry += ',';
    entry += HostForUrl(addresses[i]);
  }
  SlistPtr list(curl_slist_append(nullptr, entry.c_str()));
  if (!list) throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
  return list;
}

}  // namespace inet_detail

using inet_detail::SessionState;

void InternetInitialize() {
  std::call_once(inet_detail::g_initOnce, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLSH* sh = curl_share_init();
    curl_share_setopt(sh, CURLSHOPT_LOCKFUNC, &inet_detail::LockShare);
    curl_share_setopt(sh, CURLSHOPT_UNLOCKFUNC, &inet_detail::UnlockShare);
    curl_share_setopt(sh, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(sh, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    inet_detail::g_share = sh;
  });
}

void InternetShutdown() { inet_detail::Transfer::DrainPool(); }

std::size_t InternetOpenHandleCount() {
  std::lock_guard<std::mutex> lock(inet_detail::g_tableMutex);
  return inet_detail::g_table.size();
}

bool InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<SessionState> s;
  {
    std::lock_guard<std::mutex> lock(inet_detail::g_tableMutex);
    auto it = inet_detail::g_table.find(handle);
    if (it == inet_detail::g_table.end()) return false;
    s = std::move(it->second);
    inet_detail::g_table.erase(it);
  }
  s->cancelled.store(true);
  std::lock_guard<std::mutex> lock(s->wakeMutex);
  if (s->wake) curl_multi_wakeup(s->wake);
  return true;
}

// ---- CInternetSession ----

CInternetSession::CInternetSession(const std::string& agent) : m_state(std::make_shared<SessionState>()) {
  InternetInitialize();
  std::string a = agent;
  std::replace(a.begin(), a.end(), '\r', ' ');
  std::replace(a.begin(), a.end(), '\n', ' ');
  m_state->agent = std::move(a);
  std::lock_guard<std::mutex> lock(inet_detail::g_tableMutex);
  m_handle = inet_detail::g_nextHandle++;
  m_state->id = m_handle;
  inet_detail::g_table.emplace(m_handle, m_state);
}

CInternetSession::~CInternetSession() { Close(); }

bool CInternetSession::IsCancelled() const { return m_state->cancelled.load(); }

void CInternetSession::Close() {
  {
    std::lock_guard<std::mutex> lock(inet_detail::g_tableMutex);
    auto it = inet_detail::g_table.find(m_handle);
    if (it != inet_detail::g_table.end() && it->second == m_state) inet_detail::g_table.erase(it);
  }
  m_state->cancelled.store(true);
}

bool CInternetSession::SetOption(std::uint32_t option, std::uint32_t value) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: m_state->connectTimeoutMs = value; return true;
    case INTERNET_OPTION_RECEIVE_TIMEOUT: m_state->receiveTimeoutMs = value; return true;
    default: InternetSetLastError(ERROR_INVALID_PARAMETER); return false;
  }
}

bool CInternetSession::QueryOption(std::uint32_t option, std::uint32_t& value) const {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: value = m_state->connectTimeoutMs; return true;
    case INTERNET_OPTION_RECEIVE_TIMEOUT: value = m_state->receiveTimeoutMs; return true;
    default: InternetSetLastError(ERROR_INVALID_PARAMETER); return false;
  }
}

// ---- CInternetFile ----

CInternetFile::CInternetFile(std::shared_ptr<SessionState> session, std::string url)
    : m_session(std::move(session)), m_url(std::move(url)) {}

CInternetFile::~CInternetFile() { ReleaseTransfer(); }

void CInternetFile::ReleaseTransfer() {
  if (m_transfer) inet_detail::Transfer::Release(std::move(m_transfer), *m_session);
}

void CInternetFile::Close() { ReleaseTransfer(); }

void CInternetFile::StartTransfer(const std::string& poolKey, bool http) {
  ReleaseTransfer();
  if (m_session->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  // Before a transfer is taken: a name that fails costs no pooled connection.
  inet_detail::SlistPtr pin = inet_detail::PinHost(*m_session, m_url);
  m_transfer = inet_detail::Transfer::Acquire(poolKey);
  m_transfer->Reset(*m_session);
  m_transfer->SetResolveList(std::move(pin));
  Configure(*m_transfer);
  m_transfer->Start(*m_session, http ? inet_detail::Transfer::Kind::Http : inet_detail::Transfer::Kind::Raw);
}

std::size_t CInternetFile::Read(void* buffer, std::size_t count) {
  if (!m_transfer) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  return m_transfer->Read(*m_session, buffer, count);
}

std::int64_t CInternetFile::ReadInto(IBodyWriter& writer, std::int64_t limit, bool& more) {
  if (!m_transfer) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  return m_transfer->ReadInto(*m_session, writer, limit, more);
}

}  // namespace platform
