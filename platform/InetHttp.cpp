#include "platform/AsciiText.h"
#include "platform/Inet.h"
#include "platform/InetTransfer.h"

#include <dlfcn.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace platform {

using inet_detail::HostForUrl;
using inet_detail::ProxyOf;
using inet_detail::SessionState;
using inet_detail::Transfer;
using inet_detail::ValidHost;

namespace {

std::string NoLineBreaks(std::string s) {
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

std::string TrimBlanks(std::string_view s) { return std::string(TrimBlanksAndTabs(s)); }

// Bytes curl's URL parser refuses (blanks, controls, 8-bit) as %XX; the rest,
// dots and escapes included, goes to the server as it is.
std::string EscapeUnsafe(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c <= 0x20 || c >= 0x7F)
      AppendPercentEscape(out, c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

bool ValidHeaderName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c >= 0x7F || c == ':') return false;
  }
  return true;
}

bool SameName(const std::string& a, const std::string& b) { return AsciiEqualNoCase(a, b); }

const char* HeaderNameOfLevel(std::uint32_t level) {
  switch (level) {
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case HTTP_QUERY_DATE: return "Date";
    case HTTP_QUERY_LAST_MODIFIED: return "Last-Modified";
    case HTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case HTTP_QUERY_LOCATION: return "Location";
    case HTTP_QUERY_SERVER: return "Server";
    case HTTP_QUERY_WWW_AUTHENTICATE: return "WWW-Authenticate";
    case HTTP_QUERY_PROXY_AUTHENTICATE: return "Proxy-Authenticate";
    case HTTP_QUERY_SET_COOKIE: return "Set-Cookie";
    default: return nullptr;
  }
}

// ---- certificate checks ----

// The OpenSSL calls of the verify callback, looked up in the process: libcurl brought
// libssl in, and the program does not link it itself. Missing calls (a curl on another
// TLS library) leave the chain errors unforgiven.
struct SslCalls {
  decltype(&SSL_CTX_set_verify) ctxSetVerify = nullptr;
  decltype(&SSL_CTX_set_ex_data) ctxSetExData = nullptr;
  decltype(&SSL_CTX_get_ex_data) ctxGetExData = nullptr;
  decltype(&SSL_get_SSL_CTX) sslGetCtx = nullptr;
  decltype(&SSL_get_ex_data_X509_STORE_CTX_idx) storeSslIndex = nullptr;
  decltype(&X509_STORE_CTX_get_ex_data) storeGetExData = nullptr;
  decltype(&X509_STORE_CTX_get_error) storeGetError = nullptr;
  decltype(&X509_STORE_CTX_set_error) storeSetError = nullptr;
  int flagsIndex = -1;
  bool ok = false;
};

template <class F>
bool Resolve(F& f, const char* name) {
  f = reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
  return f != nullptr;
}

const SslCalls& Ssl() {
  static const SslCalls calls = [] {
    SslCalls c;
    const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
    if (!v || !v->ssl_version || std::strncmp(v->ssl_version, "OpenSSL", 7) != 0) return c;
    decltype(&CRYPTO_get_ex_new_index) newIndex = nullptr;
    c.ok = Resolve(c.ctxSetVerify, "SSL_CTX_set_verify") && Resolve(c.ctxSetExData, "SSL_CTX_set_ex_data") &&
           Resolve(c.ctxGetExData, "SSL_CTX_get_ex_data") && Resolve(c.sslGetCtx, "SSL_get_SSL_CTX") &&
           Resolve(c.storeSslIndex, "SSL_get_ex_data_X509_STORE_CTX_idx") &&
           Resolve(c.storeGetExData, "X509_STORE_CTX_get_ex_data") &&
           Resolve(c.storeGetError, "X509_STORE_CTX_get_error") &&
           Resolve(c.storeSetError, "X509_STORE_CTX_set_error") && Resolve(newIndex, "CRYPTO_get_ex_new_index");
    if (c.ok) {
      c.flagsIndex = newIndex(CRYPTO_EX_INDEX_SSL_CTX, 0, nullptr, nullptr, nullptr, nullptr);
      c.ok = c.flagsIndex >= 0;
    }
    return c;
  }();
  return calls;
}

// Whether the request's security flags forgive this verification error.
bool Forgiven(int error, std::uint32_t flags) {
  switch (error) {
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED: return (flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) != 0;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED: return (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) != 0;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED: return (flags & SECURITY_FLAG_IGNORE_REVOCATION) != 0;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return (flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) != 0;
    default: return false;
  }
}

int VerifyForgiving(int preverified, X509_STORE_CTX* store) {
  if (preverified) return 1;
  const SslCalls& c = Ssl();
  auto* ssl = static_cast<SSL*>(c.storeGetExData(store, c.storeSslIndex()));
  const auto flags =
      ssl ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(c.ctxGetExData(c.sslGetCtx(ssl), c.flagsIndex)))
          : 0u;
  if (!Forgiven(c.storeGetError(store), flags)) return 0;
  c.storeSetError(store, X509_V_OK);
  return 1;
}

// CURLOPT_SSL_CTX_FUNCTION: curl made a fresh context for the connection; its chain check
// gets our callback, with the request's flags beside it.
CURLcode OnSslContext(CURL*, void* context, void* flags) {
  const SslCalls& c = Ssl();
  if (c.ok) {
    auto* ctx = static_cast<SSL_CTX*>(context);
    c.ctxSetExData(ctx, c.flagsIndex, flags);
    c.ctxSetVerify(ctx, SSL_VERIFY_PEER, &VerifyForgiving);
  }
  return CURLE_OK;
}

constexpr std::uint32_t kChainFlags =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
constexpr std::uint32_t kIgnoreFlags = kChainFlags | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;

// ---- the credential cache ----

struct CachedCredentials {
  std::string user;
  std::string password;
  long methods = 0;  // the challenge's methods (CURLAUTH_*), 0 when not known
};

std::mutex g_credentialMutex;
std::unordered_map<std::string, CachedCredentials> g_credentials;

bool CachedFor(const std::string& key, CachedCredentials& out) {
  if (key.empty()) return false;
  std::lock_guard<std::mutex> lock(g_credentialMutex);
  auto it = g_credentials.find(key);
  if (it == g_credentials.end()) return false;
  out = it->second;
  return true;
}

void Remember(const std::string& key, const std::string& user, const std::string& password, long methods) {
  if (key.empty()) return;
  std::lock_guard<std::mutex> lock(g_credentialMutex);
  CachedCredentials& c = g_credentials[key];
  if (c.user != user || c.password != password) c.methods = 0;
  c.user = user;
  c.password = password;
  if (methods != 0) c.methods = methods;
}

// ---- the cookie jar ----

// A cookie line: domain (maybe "#HttpOnly_" first), subdomains, path, secure, expiry,
// name, value, separated by TABs.
struct CookieKey {
  std::string domain;     // lower case, without "#HttpOnly_" and a leading '.'
  std::string rest;       // path TAB name
  long long expires = 0;  // 0: ends with the session
};

bool KeyOfCookie(const std::string& line, CookieKey& key) {
  std::vector<std::string> f;
  std::size_t start = 0;
  while (f.size() < 7) {
    const std::size_t tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (f.size() < 6) return false;
  std::string d = f[0];
  if (d.compare(0, 10, "#HttpOnly_") == 0) d.erase(0, 10);
  if (!d.empty() && d[0] == '.') d.erase(0, 1);
  key.domain = AsciiLowered(d);
  key.rest = f[2] + "\t" + f[5];
  key.expires = std::strtoll(f[4].c_str(), nullptr, 10);
  return true;
}

struct CookieJar {
  std::mutex mutex;
  // domain -> (path TAB name -> line)
  std::unordered_map<std::string, std::map<std::string, std::string>> byDomain;
};

CookieJar& Jar() {
  static CookieJar jar;
  return jar;
}

// The host and each of its parent domains.
std::vector<std::string> DomainsOf(const std::string& host) {
  std::vector<std::string> out;
  std::string h = AsciiLowered(host);
  for (std::size_t at = 0; at != std::string::npos && at < h.size();) {
    out.push_back(h.substr(at));
    const std::size_t dot = h.find('.', at);
    at = dot == std::string::npos ? dot : dot + 1;
  }
  return out;
}

// A whole-URL request of a scheme without headers (gopher).
class RawUrlFile : public CInternetFile {
 public:
  RawUrlFile(std::shared_ptr<SessionState> s, std::string url, std::string protocols)
      : CInternetFile(std::move(s), std::move(url)), m_protocols(std::move(protocols)) {}
  void Open(const std::string& poolKey) { StartTransfer(poolKey, false); }

 private:
  void Configure(Transfer& t) override {
    curl_easy_setopt(t.Easy(), CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(t.Easy(), CURLOPT_PROTOCOLS_STR, m_protocols.c_str());
  }
  std::string m_protocols;
};

}  // namespace

// ---- CHttpConnection ----

CHttpConnection::CHttpConnection(std::shared_ptr<SessionState> session, std::string server, std::uint16_t port,
                                 std::string user, std::string password)
    : m_session(std::move(session)),
      m_server(std::move(server)),
      m_port(port),
      m_user(std::move(user)),
      m_password(std::move(password)) {}

CHttpConnection::~CHttpConnection() = default;

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server, std::uint16_t port,
                                                                     const std::string& user,
                                                                     const std::string& password) {
  if (m_state->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  if (!ValidHost(server)) throw CInternetException(ERROR_INTERNET_INVALID_URL);
  return std::unique_ptr<CHttpConnection>(new CHttpConnection(m_state, server, port, user, password));
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(int verb, const std::string& object, const std::string& referer,
                                                        std::uint32_t flags) {
  if (m_session->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  if (verb != HTTP_VERB_GET && verb != HTTP_VERB_HEAD && verb != HTTP_VERB_POST)
    throw CInternetException(ERROR_INVALID_PARAMETER, "unsupported verb");
  const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
  const char* scheme = secure ? "https" : "http";
  const std::uint16_t port = m_port != INTERNET_INVALID_PORT_NUMBER
                                 ? m_port
                                 : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
  const std::string hostPort = HostForUrl(m_server) + ":" + std::to_string(port);
  std::string path = object.empty() || object[0] != '/' ? "/" + object : object;
  std::string url = std::string(scheme) + "://" + hostPort + EscapeUnsafe(path);
  std::string key = std::string(scheme) + "://" + AsciiLowered(hostPort);
  return std::unique_ptr<CHttpFile>(new CHttpFile(m_session, std::move(url), std::move(key), verb, object,
                                                  NoLineBreaks(referer), flags, m_user, m_password));
}

// ---- CHttpFile ----

CHttpFile::CHttpFile(std::shared_ptr<SessionState> session, std::string url, std::string poolKey, int verb,
                     std::string object, std::string referer, std::uint32_t flags, std::string user,
                     std::string password)
    : CInternetFile(std::move(session), std::move(url)),
      m_poolKey(std::move(poolKey)),
      m_verb(verb),
      m_object(std::move(object)),
      m_referer(std::move(referer)),
      m_flags(flags),
      m_user(std::move(user)),
      m_password(std::move(password)) {}

CHttpFile::~CHttpFile() = default;

namespace {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Adds one "Name: value" line to list; ok becomes false for a malformed one.
void AddLine(HeaderList& list, const std::string& raw, std::uint32_t flags, bool& ok) {
  const std::string line = TrimBlanks(raw);
  if (line.empty()) return;
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) {
    ok = false;
    return;
  }
  std::string name = TrimBlanks(line.substr(0, colon));
  std::string value = TrimBlanks(line.substr(colon + 1));
  if (!ValidHeaderName(name)) {
    ok = false;
    return;
  }
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& h) { return SameName(h.first, name); });
  if ((flags & HTTP_ADDREQ_FLAG_ADD_IF_NEW) && it != list.end()) return;
  if ((flags & HTTP_ADDREQ_FLAG_REPLACE) && it != list.end()) {
    it->second = std::move(value);
    return;
  }
  list.emplace_back(std::move(name), std::move(value));
}

// Adds a block of lines separated by CR LF or LF.
bool AddLines(HeaderList& list, const std::string& block, std::uint32_t flags) {
  bool ok = true;
  std::size_t start = 0;
  while (start <= block.size()) {
    std::size_t end = block.find_first_of("\r\n", start);
    if (end == std::string::npos) end = block.size();
    AddLine(list, block.substr(start, end - start), flags, ok);
    start = end + 1;
  }
  return ok;
}

}  // namespace

bool CHttpFile::AddRequestHeaders(const std::string& headers, std::uint32_t flags) {
  const bool ok = AddLines(m_headers, headers, flags);
  if (!ok) InternetSetLastError(ERROR_INVALID_PARAMETER);
  return ok;
}

bool CHttpFile::AddRequestHeader(const std::string& name, const std::string& value, std::uint32_t flags) {
  bool ok = true;
  AddLine(m_headers, NoLineBreaks(name) + ": " + NoLineBreaks(value), flags, ok);
  if (!ok) InternetSetLastError(ERROR_INVALID_PARAMETER);
  return ok;
}

namespace {

bool CookiesAllowed(std::uint32_t flags) { return (flags & INTERNET_FLAG_NO_COOKIES) == 0; }

// The host part of a pool key "scheme://host:port" (brackets of an IPv6 address kept).
std::string HostOfKey(const std::string& key) {
  const std::size_t b = key.find("://");
  const std::size_t e = key.rfind(':');
  if (b == std::string::npos || e == std::string::npos || e < b + 3) return {};
  return key.substr(b + 3, e - b - 3);
}

const char* SchemeOfKey(const std::string& key) { return key.compare(0, 6, "https:") == 0 ? "https" : "http"; }

// The jar's cookies for host into the easy handle, whose own store is emptied first;
// the keys of what was fed go to fed.
void FeedCookies(CURL* e, const std::string& host, std::set<std::pair<std::string, std::string>>& fed) {
  curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(e, CURLOPT_COOKIELIST, "ALL");
  CookieJar& jar = Jar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  for (const std::string& d : DomainsOf(host)) {
    auto it = jar.byDomain.find(d);
    if (it == jar.byDomain.end()) continue;
    for (const auto& [rest, line] : it->second) {
      curl_easy_setopt(e, CURLOPT_COOKIELIST, line.c_str());
      fed.emplace(d, rest);
    }
  }
}

// What the handle's store holds after a response goes back to the jar: new and changed
// cookies are kept, fed ones that the server removed are removed.
void HarvestCookies(CURL* e, const std::set<std::pair<std::string, std::string>>& fed) {
  curl_slist* list = nullptr;
  if (curl_easy_getinfo(e, CURLINFO_COOKIELIST, &list) != CURLE_OK) return;
  std::set<std::pair<std::string, std::string>> seen;
  CookieJar& jar = Jar();
  const long long now = static_cast<long long>(std::time(nullptr));
  {
    std::lock_guard<std::mutex> lock(jar.mutex);
    for (curl_slist* l = list; l; l = l->next) {
      CookieKey key;
      if (!l->data || !KeyOfCookie(l->data, key)) continue;
      // A cookie the server expired is still listed until curl tidies up.
      if (key.expires != 0 && key.expires <= now) continue;
      jar.byDomain[key.domain][key.rest] = l->data;
      seen.emplace(key.domain, key.rest);
    }
    for (const auto& k : fed) {
      if (seen.count(k)) continue;
      auto it = jar.byDomain.find(k.first);
      if (it == jar.byDomain.end()) continue;
      it->second.erase(k.second);
      if (it->second.empty()) jar.byDomain.erase(it);
    }
  }
  curl_slist_free_all(list);
}

}  // namespace

bool CHttpFile::SendRequest(const std::string& headers, const std::string& optional) {
  // The headers of this send replace added ones of the same name, for this send.
  m_sendHeaders = m_headers;
  AddLines(m_sendHeaders, headers, HTTP_ADDREQ_FLAG_REPLACE);
  m_body = optional;
  m_fedCookies.clear();
  // A connection whose certificate checks were relaxed, or whose handle keeps cookies,
  // serves only requests of the same kind.
  std::string key = m_poolKey;
  if (m_securityFlags & kIgnoreFlags) key += "#s" + std::to_string(m_securityFlags & kIgnoreFlags);
  if (CookiesAllowed(m_flags)) key += "#c";
  StartTransfer(key, true);

  CURL* e = m_transfer->Easy();
  const std::uint32_t status = m_transfer->Status();
  long methods = 0;
  curl_easy_getinfo(e, CURLINFO_HTTPAUTH_AVAIL, &methods);
  // Credentials that got past a challenge (or were taken without one) are kept.
  if (m_sentServer.set && status != 401 && (methods != 0 || m_preemptive))
    Remember(m_poolKey, m_sentServer.user, m_sentServer.password, methods ? methods : m_serverMethods);
  if (status == 401) m_serverMethods = methods;
  long proxyMethods = 0;
  curl_easy_getinfo(e, CURLINFO_PROXYAUTH_AVAIL, &proxyMethods);
  if (m_sentProxy.set && status != 407 && (proxyMethods != 0 || m_preemptiveProxy))
    Remember(GetCredentialServer(true), m_sentProxy.user, m_sentProxy.password,
             proxyMethods ? proxyMethods : m_proxyMethods);
  if (status == 407) m_proxyMethods = proxyMethods;
  if (CookiesAllowed(m_flags)) {
    HarvestCookies(e, m_fedCookies);
    // The "" file list of FeedCookies goes now: curl_easy_reset, before the handle's
    // next request, would drop it without freeing it. The store stays, emptied then.
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, static_cast<char*>(nullptr));
  }
  return true;
}

bool CHttpFile::SetOption(std::uint32_t option, const std::string& value) {
  switch (option) {
    case INTERNET_OPTION_USERNAME:
      m_optServer.set = true;
      m_optServer.user = value;
      return true;
    case INTERNET_OPTION_PASSWORD:
      m_optServer.set = true;
      m_optServer.password = value;
      return true;
    case INTERNET_OPTION_PROXY_USERNAME:
      m_optProxy.set = true;
      m_optProxy.user = value;
      return true;
    case INTERNET_OPTION_PROXY_PASSWORD:
      m_optProxy.set = true;
      m_optProxy.password = value;
      return true;
    default: InternetSetLastError(ERROR_INVALID_PARAMETER); return false;
  }
}

std::string CHttpFile::GetCredentialServer(bool proxy) const {
  if (!proxy) return m_poolKey;
  const std::string p = ProxyOf(SchemeOfKey(m_poolKey));
  return p.empty() ? std::string() : "proxy " + p;
}

bool CHttpFile::TakeNewerCachedCredentials(bool proxy) {
  CachedCredentials c;
  if (!CachedFor(GetCredentialServer(proxy), c)) return false;
  const Credentials& sent = proxy ? m_sentProxy : m_sentServer;
  if (sent.set && sent.user == c.user && sent.password == c.password) return false;
  Credentials& opt = proxy ? m_optProxy : m_optServer;
  opt.set = true;
  opt.user = c.user;
  opt.password = c.password;
  return true;
}

void CHttpFile::Configure(Transfer& t) {
  CURL* e = t.Easy();
  curl_easy_setopt(e, CURLOPT_URL, m_url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (!m_session->agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, m_session->agent.c_str());
  if (!m_referer.empty()) curl_easy_setopt(e, CURLOPT_REFERER, m_referer.c_str());

  switch (m_verb) {
    case HTTP_VERB_HEAD: curl_easy_setopt(e, CURLOPT_NOBODY, 1L); break;
    case HTTP_VERB_POST:
      t.SetBody(m_body);
      curl_easy_setopt(e, CURLOPT_POST, 1L);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.Body().size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.Body().data());
      break;
    default: curl_easy_setopt(e, CURLOPT_HTTPGET, 1L); break;
  }

  // The request carries exactly the headers it was given: curl's own Accept,
  // Content-Type and Expect are taken out unless the caller set them.
  curl_slist* list = nullptr;
  bool accept = false, contentType = false;
  auto add = [&](const std::pair<std::string, std::string>& h) {
    accept = accept || SameName(h.first, "Accept");
    contentType = contentType || SameName(h.first, "Content-Type");
    const std::string line = h.second.empty() ? h.first + ";" : h.first + ": " + h.second;
    list = curl_slist_append(list, line.c_str());
  };
  for (const auto& h : m_sendHeaders) add(h);
  if (!accept) list = curl_slist_append(list, "Accept:");
  if (!contentType) list = curl_slist_append(list, "Content-Type:");
  list = curl_slist_append(list, "Expect:");
  t.SetHeaderList(list);

  // Credentials: the request's own, else the connection's, else the cached ones.
  m_preemptive = false;
  m_sentServer = m_optServer;
  CachedCredentials cached;
  const bool haveCached = CachedFor(m_poolKey, cached);
  if (!m_sentServer.set && !m_user.empty()) m_sentServer = {true, m_user, m_password};
  if (!m_sentServer.set && haveCached) {
    m_sentServer = {true, cached.user, cached.password};
    // A server known to take Basic gets it at once, saving a round trip per request.
    m_preemptive = cached.methods == static_cast<long>(CURLAUTH_BASIC);
  }
  if (m_sentServer.set && m_sentServer.user.empty()) m_sentServer.set = false;
  // After a Basic-only challenge the next send answers it at once.
  if (m_sentServer.set && m_serverMethods == static_cast<long>(CURLAUTH_BASIC)) m_preemptive = true;
  if (m_sentServer.set) {
    curl_easy_setopt(e, CURLOPT_USERNAME, m_sentServer.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, m_sentServer.password.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH,
                     m_preemptive ? static_cast<long>(CURLAUTH_BASIC) : static_cast<long>(CURLAUTH_ANY));
    t.SetAuthRetry(true);
  }
  m_sentProxy = m_optProxy;
  long proxyMethods = m_proxyMethods;
  if (!m_sentProxy.set && CachedFor(GetCredentialServer(true), cached)) {
    m_sentProxy = {true, cached.user, cached.password};
    if (proxyMethods == 0) proxyMethods = cached.methods;
  }
  if (m_sentProxy.set && m_sentProxy.user.empty()) m_sentProxy.set = false;
  m_preemptiveProxy = m_sentProxy.set && proxyMethods == static_cast<long>(CURLAUTH_BASIC);
  if (m_sentProxy.set) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, m_sentProxy.user.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, m_sentProxy.password.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH,
                     m_preemptiveProxy ? static_cast<long>(CURLAUTH_BASIC) : static_cast<long>(CURLAUTH_ANY));
    t.SetAuthRetry(true);
  }

  // Cookies live in the process's jar; the handle holds them for one send only.
  if (CookiesAllowed(m_flags)) FeedCookies(e, HostOfKey(m_poolKey), m_fedCookies);

  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (m_securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  if (m_securityFlags & kChainFlags) {
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA,
                     reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_securityFlags & kChainFlags)));
  }
  if (m_securityFlags & kIgnoreFlags) {
    // A session resumed later would skip the checks that this one forgave.
    curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  }
}

bool CHttpFile::QueryInfoStatusCode(std::uint32_t& status) const {
  if (!m_transfer || !m_transfer->HasResponse()) {
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
  }
  status = m_transfer->Status();
  return true;
}

bool CHttpFile::QueryInfo(std::uint32_t level, std::string& value) const {
  if (!m_transfer || !m_transfer->HasResponse()) {
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
  }
  switch (level & 0xFFFF) {
    case HTTP_QUERY_RAW_HEADERS_CRLF: value = m_transfer->RawHeaders(); return true;
    case HTTP_QUERY_STATUS_CODE: value = std::to_string(m_transfer->Status()); return true;
    case HTTP_QUERY_STATUS_TEXT: value = m_transfer->StatusText(); return true;
    default: break;
  }
  const char* name = HeaderNameOfLevel(level & 0xFFFF);
  if (name && m_transfer->Header(name, value)) return true;
  InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
  return false;
}

bool CHttpFile::QueryInfo(std::uint32_t level, SYSTEMTIME& value) const {
  std::string text;
  if (!QueryInfo(level & 0xFFFF, text)) return false;
  if (!ParseHttpDate(text, value)) {
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
  }
  return true;
}

bool CHttpFile::QueryInfo(const std::string& name, std::string& value) const {
  if (m_transfer && m_transfer->HasResponse() && m_transfer->Header(name, value)) return true;
  InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
  return false;
}

bool CHttpFile::QueryOption(std::uint32_t option, std::uint32_t& value) const {
  if (option != INTERNET_OPTION_SECURITY_FLAGS) {
    InternetSetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  value = m_securityFlags;
  return true;
}

bool CHttpFile::SetOption(std::uint32_t option, std::uint32_t value) {
  if (option != INTERNET_OPTION_SECURITY_FLAGS) {
    InternetSetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  m_securityFlags = value;
  return true;
}

// ---- credentials and cookies of the process ----

void InternetForgetCredentials() {
  std::lock_guard<std::mutex> lock(g_credentialMutex);
  g_credentials.clear();
}

std::vector<std::string> InternetCookieLines() {
  std::vector<std::string> lines;
  CookieJar& jar = Jar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  for (const auto& [domain, cookies] : jar.byDomain)
    for (const auto& [key, line] : cookies) lines.push_back(line);
  return lines;
}

void InternetClearCookies() {
  CookieJar& jar = Jar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  jar.byDomain.clear();
}

// ---- OpenURL ----

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const std::string& url, std::uint32_t flags) {
  if (m_state->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  const std::string escaped = EscapeUnsafe(url);
  CURLU* u = curl_url();
  if (!u) throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
  std::string scheme, host, port, path, query;
  auto part = [&](CURLUPart what, std::string& out, unsigned flagsU) {
    char* p = nullptr;
    if (curl_url_get(u, what, &p, flagsU) == CURLUE_OK && p) {
      out = p;
      curl_free(p);
      return true;
    }
    return false;
  };
  bool parsed =
      curl_url_set(u, CURLUPART_URL, escaped.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) == CURLUE_OK &&
      part(CURLUPART_SCHEME, scheme, 0);
  scheme = AsciiLowered(scheme);
  const bool known = scheme == "http" || scheme == "https" || scheme == "gopher";
  if (parsed && known) {
    parsed = part(CURLUPART_HOST, host, 0) && part(CURLUPART_PORT, port, CURLU_DEFAULT_PORT);
    part(CURLUPART_PATH, path, 0);
    part(CURLUPART_QUERY, query, 0);
  }
  curl_url_cleanup(u);
  if (!parsed) throw CInternetException(ERROR_INTERNET_INVALID_URL);
  if (!known) throw CInternetException(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);

  if (scheme == "http" || scheme == "https") {
    auto conn = GetHttpConnection(host, static_cast<std::uint16_t>(std::stoi(port)));
    std::string object = path.empty() ? "/" : path;
    if (!query.empty()) object += "?" + query;
    auto file = conn->OpenRequest(HTTP_VERB_GET, object, {}, flags | (scheme == "https" ? INTERNET_FLAG_SECURE : 0));
    file->SendRequest();
    return file;
  }
  auto file = std::make_unique<RawUrlFile>(m_state, escaped, "gopher");
  file->Open(scheme + "://" + AsciiLowered(HostForUrl(host)) + ":" + port);
  return file;
}

}  // namespace platform
