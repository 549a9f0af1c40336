// The fetch worker's HTTP and HTTPS handler.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "algorithms/Md5.h"
#include "engine/Charset.h"
#include "engine/Host.h"
#include "engine/SchemeHandlers.h"
#include "engine/TempFiles.h"
#include "engine/Url.h"
#include "platform/AsciiText.h"
#include "platform/NamedMutex.h"
#include "platform/TextFile.h"

using namespace platform;

namespace {

constexpr std::size_t kLongMessage = 1024;
constexpr std::size_t kShortMessage = 255;

std::string Cut(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::string Trimmed(const std::string& text, std::size_t limit) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return Cut(text.substr(b, e - b), limit);
}

bool EndsWithMap(const std::string& object) { return object.ends_with(".map") || object.ends_with(".MAP"); }

// The target of the first Location header line of a raw header block: the name in any case,
// blanks after the ':' skipped, the value up to the line's end without its CR.
std::string FindLocation(const std::string& raw) {
  constexpr std::string_view name = "location:";
  for (std::size_t line = 0; line < raw.size();) {
    const std::size_t next = raw.find('\n', line);
    if (platform::AsciiStartsWithNoCase(std::string_view(raw).substr(line), name)) {
      if (next == std::string::npos) return std::string();
      std::size_t v = line + name.size();
      while (v < next && (raw[v] == ' ' || raw[v] == '\t')) ++v;
      std::size_t end = next;
      if (end > v && raw[end - 1] == '\r') --end;
      return raw.substr(v, end - v);
    }
    if (next == std::string::npos) break;
    line = next + 1;
  }
  return std::string();
}

// Leading decimal digits as a 64-bit count; false when the value has none.
bool ParseLength(const std::string& value, std::int64_t& out) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  if (i == value.size() || value[i] < '0' || value[i] > '9') return false;
  std::int64_t n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    if (n > (INT64_MAX - 9) / 10) return false;
    n = n * 10 + (value[i] - '0');
  }
  out = n;
  return true;
}

// Certificates the user accepted, per server ("host:port"): the security flags that
// forgive their errors for the rest of the run.
std::mutex g_acceptedMutex;
std::map<std::string, std::uint32_t> g_acceptedCertificates;

std::uint32_t AcceptedCertificateFlags(const std::string& server) {
  std::lock_guard<std::mutex> lock(g_acceptedMutex);
  auto it = g_acceptedCertificates.find(server);
  return it == g_acceptedCertificates.end() ? 0 : it->second;
}

void AcceptCertificate(const std::string& server, std::uint32_t flags) {
  std::lock_guard<std::mutex> lock(g_acceptedMutex);
  g_acceptedCertificates[server] |= flags;
}

bool IsCertificateError(std::uint32_t code) {
  return code == ERROR_INTERNET_SEC_CERT_DATE_INVALID || code == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
         code == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED || code == ERROR_INTERNET_INVALID_CA ||
         code == ERROR_INTERNET_SEC_CERT_REV_FAILED;
}

// The security flag that lets a request past the error (none for a client certificate).
std::uint32_t IgnoreFlagOf(std::uint32_t code) {
  switch (code) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    case ERROR_INTERNET_INVALID_CA: return SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return SECURITY_FLAG_IGNORE_REVOCATION;
    default: return 0;
  }
}

// The realm="..." of a challenge; "" when it has none.
std::string RealmOf(const std::string& challenge) {
  const std::string lower = platform::AsciiLowered(challenge);
  std::size_t at = lower.find("realm=");
  if (at == std::string::npos) return std::string();
  at += 6;
  if (at < challenge.size() && challenge[at] == '"') {
    std::string realm;
    for (std::size_t i = at + 1; i < challenge.size() && challenge[i] != '"'; ++i) {
      if (challenge[i] == '\\' && i + 1 < challenge.size()) ++i;
      realm += challenge[i];
    }
    return realm;
  }
  const std::size_t end = challenge.find_first_of(", \t", at);
  return challenge.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// A failure of the body file, numbered as FileExceptionCause.
struct BodyFileError {
  int cause;
  std::string message;
  bool noFile = false;  // the file could not be created: nothing was written
};

// Body files are the run's temporary files: one that cannot be written means the folder is full
// or broken.
BodyFileError WriteError(const std::string& path, int err) {
  NoteTempFolderUnusable(path + ": " + platform::FileErrorText(err));
  return {FileErrorStatus(err), Cut("could not write '" + path + "': " + std::strerror(err), kShortMessage)};
}

// Where a body goes: memory (when allowed) up to kMemoryBodyLimit while the bodies in memory
// stay within kMemoryBodiesLimit, then a new temporary file that takes what was read so far
// and the rest. Throws BodyFileError for the file.
class BodySink {
 public:
  // Without inMemory the body goes to a file from its first byte (an empty body too).
  BodySink(FetchResult& result, bool inMemory) : result_(result), limit_(inMemory ? kMemoryBodyLimit : 0) {}
  BodySink(const BodySink&) = delete;
  BodySink& operator=(const BodySink&) = delete;
  ~BodySink() {
    if (fd_ >= 0) ::close(fd_);
    GiveBackBodyBytes(taken_);
  }

  // Room for the body the headers announce, when it stays in memory.
  void Expect(std::int64_t size) {
    if (memory_ && size > 0 && static_cast<std::uint64_t>(size) <= limit_) Grow(static_cast<std::size_t>(size));
  }
  void Write(const char* data, std::size_t n) {
    if (memory_ && text_.size() + n > taken_) {
      if (text_.size() + n > limit_)
        Spill();
      else
        Grow(std::min(limit_, std::max({text_.size() + n, 2 * taken_, kFirstRoom})));
    }
    if (memory_)
      text_.append(data, n);
    else
      WriteAll(data, n);
  }
  // Ends the body: in result.body, or in the closed file result.csBodyFile.
  void Finish() {
    if (memory_ && limit_ == 0) Spill();
    if (memory_) {
      result_.body = CountedBody(std::move(text_), std::exchange(taken_, 0));
      return;
    }
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) throw WriteError(result_.csBodyFile, errno);
  }

 private:
  static constexpr std::size_t kFirstRoom = 16 * 1024;

  // The text's room becomes bytes, taken from the bodies' bound; a file when they do not fit.
  void Grow(std::size_t bytes) {
    if (!TakeBodyBytes(bytes - taken_)) {
      Spill();
      return;
    }
    taken_ = bytes;
    text_.reserve(bytes);
  }
  void Spill() {
    std::string error;
    int osError = 0;
    if (!CreateUniqueTempFile(result_.csBodyFile, error, &osError)) {
      result_.csBodyFile.clear();
      throw BodyFileError{FileErrorStatus(osError), Cut(error, kShortMessage), true};
    }
    fd_ = ::open(result_.csBodyFile.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) throw WriteError(result_.csBodyFile, errno);
    memory_ = false;
    WriteAll(text_.data(), text_.size());
    std::string().swap(text_);
    GiveBackBodyBytes(std::exchange(taken_, 0));
  }
  void WriteAll(const char* data, std::size_t n) {
    for (std::size_t done = 0; done < n;) {
      const ssize_t w = ::write(fd_, data + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        throw WriteError(result_.csBodyFile, errno);
      }
      done += static_cast<std::size_t>(w);
    }
  }

  FetchResult& result_;
  std::size_t limit_;
  bool memory_ = true;
  int fd_ = -1;
  std::string text_;
  std::size_t taken_ = 0;  // bytes of the bodies' bound that text_ holds
};

// Body bytes from the transfer into a sink, through the digest when one is given.
class SinkWriter final : public platform::IBodyWriter {
 public:
  SinkWriter(BodySink& sink, Md5Context* md5) : sink_(sink), md5_(md5) {}
  void Write(const char* data, std::size_t n) override {
    if (md5_) Md5Update(*md5_, data, n);
    sink_.Write(data, n);
  }

 private:
  BodySink& sink_;
  Md5Context* md5_;
};

// Reads the rest of the response into sink, at most kPageLimit bytes, feeding the digest when
// one is given. A longer body sets cut and is left unread (its connection is then not reused).
// Throws CInternetException for the transfer, BodyFileError for the file.
std::int64_t ReadBodyInto(CHttpFile& file, BodySink& sink, Md5Context* md5, bool& cut) {
  SinkWriter writer(sink, md5);
  const std::int64_t count = file.ReadInto(writer, kPageLimit, cut);
  sink.Finish();
  return count;
}

class HttpHandler {
 public:
  explicit HttpHandler(FetchJob& job) : job_(job), settings_(job.request.settings) {}

  void Run();

 private:
  bool PreConnectChecks();
  // Sends the request; false when the fetch ended (status and text set).
  bool Send(CHttpFile& file, const std::string& headers, const std::string& body, const char* abortText);
  // The request's send, with the certificate dialog and one re-send per certificate error.
  bool SendWithCertificates();
  // What the certificate dialog answered for the error: true to send again.
  enum class Answer { Retry, Cancel, Aborted };
  Answer CertificateDialog(std::uint32_t code, const std::string& message);
  // Answers a 401 or 407; false when the fetch ended.
  bool Credentials();
  std::function<bool()> AbortCheck() const {
    return [this] { return job_.Aborted(); };
  }
  std::string ServerName() const;
  bool ReadStatus(CHttpFile& file);
  bool ImageMapRequest(const char* query, const char* abortText);
  void ReadHeaders();
  void ReadBody();
  void RemoveBodyFile();

  FetchJob& job_;
  const FetchSettings& settings_;
  FetchOutcome& out_ = job_.outcome;
  std::unique_ptr<CHttpConnection> connection_;
  std::unique_ptr<CHttpFile> file_;
  int verb_ = HTTP_VERB_GET;
  std::uint32_t flags_ = 0;
  std::uint32_t securityFlags_ = 0;
  // The first send's extra headers and body; every re-send repeats them.
  std::string sendHeaders_;
  std::string sendBody_;
  bool gzip_ = false;
};

std::string HttpHandler::ServerName() const {
  const bool secure = job_.service == AFX_INET_SERVICE_HTTPS;
  const std::uint16_t port =
      job_.port != 0 ? job_.port : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
  return platform::AsciiLowered(job_.server) + ":" + std::to_string(port);
}

HttpHandler::Answer HttpHandler::CertificateDialog(std::uint32_t code, const std::string& message) {
  // A batch run, or a host without windows, never waits for a person.
  if (settings_.batch || !job_.request.host || !job_.request.host->CanShowDialogs()) return Answer::Cancel;
  const std::string server = ServerName();
  CNamedMutex lock("Wexo_Auth");
  if (!lock.Lock(AbortCheck())) return Answer::Aborted;
  const std::uint32_t flag = IgnoreFlagOf(code);
  std::uint32_t current = 0;
  file_->QueryOption(INTERNET_OPTION_SECURITY_FLAGS, current);
  bool accepted = false;
  if (code == ERROR_INTERNET_SEC_CERT_REV_FAILED && (current & SECURITY_FLAG_IGNORE_REVOCATION)) {
    accepted = true;
  } else if (flag != 0 && (AcceptedCertificateFlags(server) & flag)) {
    // Another worker's dialog accepted this certificate while this one waited.
    accepted = true;
  } else {
    CertificatePrompt prompt{job_.request.url, server, code, message, AbortCheck()};
    accepted = job_.request.host->CertificateDialog(prompt);
    if (accepted && flag != 0) AcceptCertificate(server, flag);
  }
  lock.Unlock();
  if (job_.Aborted()) return Answer::Aborted;
  if (!accepted) return Answer::Cancel;
  securityFlags_ = current | flag;
  file_->SetOption(INTERNET_OPTION_SECURITY_FLAGS, securityFlags_);
  return Answer::Retry;
}

bool HttpHandler::SendWithCertificates() {
  std::set<std::uint32_t> answered;
  for (;;) {
    bool sent = false;
    try {
      sent = file_->SendRequest(sendHeaders_, sendBody_);
    } catch (const CInternetException& e) {
      if (job_.Aborted()) {
        job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "SendRequest() aborted");
        return false;
      }
      const std::uint32_t code = e.m_dwError;
      const std::string message = Trimmed(e.GetErrorMessage(), kLongMessage);
      // One re-send per error: the same error again ends the fetch with it.
      if (!IsCertificateError(code) || !settings_.AskPassword || !answered.insert(code).second) {
        job_.Finish(static_cast<std::int32_t>(code), message);
        return false;
      }
      switch (CertificateDialog(code, message)) {
        case Answer::Retry: continue;
        case Answer::Aborted: job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "ErrorDlg() aborted"); return false;
        case Answer::Cancel: job_.Finish(static_cast<std::int32_t>(code), message); return false;
      }
    }
    if (!sent) {
      job_.Finish(static_cast<std::int32_t>(InternetGetLastError()), std::string());
      return false;
    }
    if (job_.Aborted()) {
      job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "SendRequest() aborted");
      return false;
    }
    return true;
  }
}

bool HttpHandler::Credentials() {
  const bool proxy = job_.status == 407;
  bool retry = false;
  bool asked = false;
  CNamedMutex lock("Wexo_Auth");
  // Credentials that another request got past this server meanwhile answer without a dialog.
  if (file_->TakeNewerCachedCredentials(proxy)) {
    retry = true;
  } else if (!settings_.batch && job_.request.host && job_.request.host->CanShowDialogs()) {
    if (!lock.Lock(AbortCheck())) {
      job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "ErrorDlg() aborted");
      return false;
    }
    if (file_->TakeNewerCachedCredentials(proxy)) {
      retry = true;
    } else if (!job_.Aborted()) {
      std::string challenge;
      file_->QueryInfo(proxy ? HTTP_QUERY_PROXY_AUTHENTICATE : HTTP_QUERY_WWW_AUTHENTICATE, challenge);
      CredentialPrompt prompt{job_.request.url,
                              file_->GetCredentialServer(proxy),
                              RealmOf(challenge),
                              proxy,
                              proxy ? std::string() : job_.user,
                              AbortCheck()};
      std::string user, password;
      asked = retry = job_.request.host->CredentialDialog(prompt, user, password);
      if (retry) {
        file_->SetOption(proxy ? INTERNET_OPTION_PROXY_USERNAME : INTERNET_OPTION_USERNAME, user);
        file_->SetOption(proxy ? INTERNET_OPTION_PROXY_PASSWORD : INTERNET_OPTION_PASSWORD, password);
      }
    }
    // Held through the re-send after an OK: the workers waiting for the lock then find the
    // credentials cached once they worked, and do not ask again.
    if (!asked) lock.Unlock();
  }
  if (job_.Aborted()) {
    job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "ErrorDlg() aborted");
    return false;
  }
  if (!retry) return true;  // the 401 or 407 stays
  // A POST goes again with its body and Content-Type.
  const bool resent = Send(*file_, sendHeaders_, sendBody_, "ErrorDlg() aborted") && ReadStatus(*file_);
  lock.Unlock();
  if (!resent) return false;
  const std::int32_t code = job_.status;
  if (asked && (code == 200 || code == 302 || code == 303 || code == 307)) job_.result.bAuthenticated = true;
  return true;
}

bool HttpHandler::PreConnectChecks() {
  const std::string& url = job_.request.url;
  const std::size_t backslash = url.find('\\');
  if (backslash != std::string::npos) {
    const std::size_t query = url.find('?');
    if (query == std::string::npos || backslash < query) {
      job_.Finish(404, "'\\' is always an error when checking remote URLs");
      return false;
    }
  }
  const std::string& object = job_.object;
  if (settings_.CheckDoubleSlash) {
    const std::size_t twin = object.find("//");
    if (twin != std::string::npos) {
      const std::size_t query = object.find('?');
      const bool beforeQuery = query == std::string::npos || twin < query;
      const bool embeddedUrl = twin >= 6 && object.compare(twin - 5, 5, "http:") == 0;
      if (beforeQuery && !embeddedUrl) {
        job_.Finish(404, "'//' is always an error when checking remote URLs");
        return false;
      }
    }
  }
  if (object.starts_with("/../")) {
    job_.Finish(404, "URL begins with '/../'");
    return false;
  }
  return true;
}

bool HttpHandler::Send(CHttpFile& file, const std::string& headers, const std::string& body, const char* abortText) {
  bool sent = false;
  try {
    sent = file.SendRequest(headers, body);
  } catch (const CInternetException& e) {
    // A send that failed because the session was closed from outside is the abort.
    if (job_.Aborted())
      job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, abortText);
    else
      job_.Finish(static_cast<std::int32_t>(e.m_dwError), Trimmed(e.GetErrorMessage(), kLongMessage));
    return false;
  }
  if (!sent) {
    job_.Finish(static_cast<std::int32_t>(InternetGetLastError()), std::string());
    return false;
  }
  if (job_.Aborted()) {
    job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, abortText);
    return false;
  }
  return true;
}

bool HttpHandler::ReadStatus(CHttpFile& file) {
  std::uint32_t code = 0;
  if (!file.QueryInfoStatusCode(code)) {
    job_.Finish(static_cast<std::int32_t>(InternetGetLastError()), std::string());
    return false;
  }
  job_.status = static_cast<std::int32_t>(code);
  return true;
}

bool HttpHandler::ImageMapRequest(const char* query, const char* abortText) {
  file_->Close();
  file_.reset();
  try {
    file_ = connection_->OpenRequest(verb_, job_.object + query, std::string(), flags_);
    if (securityFlags_) file_->SetOption(INTERNET_OPTION_SECURITY_FLAGS, securityFlags_);
  } catch (const CInternetException& e) {
    job_.Finish(static_cast<std::int32_t>(e.m_dwError), Trimmed(e.GetErrorMessage(), kLongMessage));
    return false;
  }
  return Send(*file_, std::string(), std::string(), abortText) && ReadStatus(*file_);
}

void HttpHandler::ReadHeaders() {
  CHttpFile& f = *file_;
  const bool redirected = job_.result.wRedirectCode != 0;

  SYSTEMTIME modified;
  out_.setDate = true;
  if (f.QueryInfo(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, modified) &&
      static_cast<std::uint16_t>(modified.wYear - 1980) <= 50) {
    out_.dateKnown = 1;
    out_.date = SystemTimeToUnixTime(modified);
  } else {
    out_.dateKnown = 0;
    out_.date = 0;
  }

  std::string value;
  std::int64_t length = 0;
  if (f.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, value) && ParseLength(value, length)) {
    out_.setSize = true;
    out_.size = length;
    if (job_.status == 200 && length == 0 && job_.result.csRedirectTarget.empty())
      job_.Finish(204, "file has zero length");
  }

  if (f.QueryInfo(HTTP_QUERY_CONTENT_ENCODING, value) && !value.empty()) {
    if (value == "gzip")
      gzip_ = true;
    else
      job_.Finish(204, "'Content-Encoding: " + value.substr(0, 80) + "' is not supported");
  }

  const std::uint16_t kind = job_.request.requestKind;
  const bool getOrPost = kind == REQUEST_GET || kind == REQUEST_POST;
  if (job_.status == 200 && f.QueryInfo(HTTP_QUERY_CONTENT_TYPE, value)) {
    out_.setMimeType = true;
    out_.mimeType = value.substr(0, value.find(';'));
    const std::string lower = platform::AsciiLowered(value);
    const std::size_t at = lower.find("charset=");
    const bool parsable = IsParsableMimeType(out_.mimeType);
    if (at != std::string::npos) {
      std::string charset = lower.substr(at + 8);
      if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
        charset = charset.substr(1, charset.size() - 2);
      if (redirected || (getOrPost && parsable)) {
        out_.setCharset = true;
        out_.charset = InternCharset(charset);
      }
    } else if (getOrPost && parsable && !redirected) {
      out_.setCharset = true;
      out_.charset = InternCharset(std::string_view());
    }
  }

  if (f.QueryInfo(HTTP_QUERY_SERVER, value)) out_.server = InternServerNameText(value);
}

void HttpHandler::RemoveBodyFile() {
  if (!job_.result.csBodyFile.empty()) std::remove(job_.result.csBodyFile.c_str());
  job_.result.csBodyFile.clear();
  job_.result.body.reset();
}

void HttpHandler::ReadBody() {
  FetchResult& result = job_.result;
  std::string error;
  int osError = 0;
  std::string rawFile;
  bool cut = false;
  try {
    if (!gzip_) {
      Md5Context md5;
      Md5Init(md5);
      // An archive is read back from a file.
      BodySink sink(result, !job_.isJar);
      if (out_.setSize) sink.Expect(out_.size);
      const std::int64_t count = ReadBodyInto(*file_, sink, &md5, cut);
      // A cut body keeps the length its headers gave.
      if (!cut || !out_.setSize || out_.size < count) out_.size = count;
      out_.setSize = true;
      SetDuration(out_, job_.start);
      Md5Digest digest;
      Md5Final(digest.data(), md5);
      out_.setDigest = true;
      out_.digest = digest;
    } else {
      if (!CreateUniqueTempFile(result.csBodyFile, error, &osError)) {
        result.csBodyFile.clear();
        job_.Finish(FileErrorStatus(osError), Cut(error, kShortMessage));
        return;
      }
      bool rawCut = false;
      FetchResult raw;
      try {
        BodySink sink(raw, false);
        ReadBodyInto(*file_, sink, nullptr, rawCut);
      } catch (...) {
        if (!raw.csBodyFile.empty()) std::remove(raw.csBodyFile.c_str());
        throw;
      }
      rawFile = raw.csBodyFile;
      SetDuration(out_, job_.start);
      Md5Digest digest;
      std::int64_t size = 0;
      std::string message;
      const int rc = GunzipFile(rawFile, result.csBodyFile, size, digest.data(), message, kPageLimit, &cut);
      std::remove(rawFile.c_str());
      rawFile.clear();
      out_.setSize = true;
      out_.setDigest = true;
      if (rc != 0) {
        out_.size = 0;
        out_.digest.reset();
        RemoveBodyFile();
        job_.Finish(204, Cut("gunzip error: " + Trimmed(message, std::string::npos), kShortMessage));
        return;
      }
      out_.size = size;
      out_.digest = digest;
    }
  } catch (const CInternetException& e) {
    if (!rawFile.empty()) std::remove(rawFile.c_str());
    RemoveBodyFile();
    job_.Finish(static_cast<std::int32_t>(e.m_dwError), Cut(e.GetErrorMessage(), kShortMessage));
    return;
  } catch (const BodyFileError& e) {
    if (!rawFile.empty()) std::remove(rawFile.c_str());
    RemoveBodyFile();
    if (!e.noFile) {
      out_.setSize = true;
      out_.size = 0;
    }
    job_.Finish(e.cause, e.message);
    return;
  }
  if (out_.size == 0) {
    if (result.csRedirectTarget.empty()) job_.Finish(204, "file has zero length");
    RemoveBodyFile();
  } else if (cut) {
    // The digest of a part would match any page that begins the same way.
    out_.digest.reset();
    job_.text = kPageCutText;
  }
}

void HttpHandler::Run() {
  if (!PreConnectChecks()) return;

  flags_ = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE |
           INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (!settings_.AllowCookies) flags_ |= INTERNET_FLAG_NO_COOKIES;
  if (job_.service == AFX_INET_SERVICE_HTTPS) flags_ |= INTERNET_FLAG_SECURE;

  const FetchRequest& request = job_.request;
  verb_ = request.requestKind;
  if (verb_ == REQUEST_HEAD && request.attempts > 1) verb_ = REQUEST_GET;
  const std::string referer = settings_.Referer ? request.referrerUrl : std::string();

  std::string headers = "Accept: " + settings_.Accept + "\r\n";
  if (!settings_.language.empty()) headers += "Accept-Language: " + settings_.language + "\r\n";
  headers += "Accept-Encoding: gzip\r\n";
  if (!settings_.IfModifiedSince.empty()) headers += "If-Modified-Since: " + settings_.IfModifiedSince + "\r\n";

  try {
    connection_ = job_.session.GetHttpConnection(job_.server, job_.port, job_.user, job_.password);
    file_ = connection_->OpenRequest(verb_, job_.object, referer, flags_);
    // A certificate accepted earlier in the run is not asked about again.
    if (job_.service == AFX_INET_SERVICE_HTTPS) securityFlags_ = AcceptedCertificateFlags(ServerName());
    if (securityFlags_) file_->SetOption(INTERNET_OPTION_SECURITY_FLAGS, securityFlags_);
    if (!file_->AddRequestHeaders(headers, HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
      job_.Finish(static_cast<std::int32_t>(InternetGetLastError()), std::string());
      return;
    }
  } catch (const CInternetException& e) {
    job_.Finish(static_cast<std::int32_t>(e.m_dwError), Trimmed(e.GetErrorMessage(), kLongMessage));
    return;
  }

  if (verb_ == REQUEST_POST) {
    sendHeaders_ = "Content-Type: application/x-www-form-urlencoded";
    sendBody_ = request.postData;
  }
  if (!SendWithCertificates()) return;
  if (!ReadStatus(*file_)) return;

  if (job_.status == 400 && EndsWithMap(job_.object) && !ImageMapRequest("?1,1", "map1 SendRequest() aborted")) return;
  if (job_.status == 204 && EndsWithMap(job_.object) && !ImageMapRequest("?10,10", "map2 OpenRequest() aborted"))
    return;

  if ((job_.status == 407 || (job_.status == 401 && settings_.AskPassword)) && !Credentials()) return;

  if (job_.status == 202 || job_.status == 205) job_.status = 200;

  const std::int32_t code = job_.status;
  if (!settings_.RedirectIsError && (code == 301 || code == 302 || code == 303 || code == 307)) {
    job_.result.wRedirectCode = static_cast<std::uint16_t>(code);
    job_.Finish(200, std::string());
    std::string raw;
    if (file_->QueryInfo(HTTP_QUERY_RAW_HEADERS_CRLF, raw)) job_.result.csRedirectTarget = FindLocation(raw);
  }
  if (job_.Aborted()) {
    job_.Finish(ERROR_INTERNET_OPERATION_CANCELLED, "late");
    return;
  }

  ReadHeaders();

  const std::uint16_t kind = request.requestKind;
  const bool wantBody = (job_.result.wRedirectCode == 0 || job_.result.csRedirectTarget.empty()) &&
                        job_.status == 200 && (kind == REQUEST_GET || kind == REQUEST_POST) &&
                        (IsParsableMimeType(job_.MimeType()) || job_.isJar);
  if (wantBody) ReadBody();
}

}  // namespace

void ForgetAcceptedCertificates() {
  std::lock_guard<std::mutex> lock(g_acceptedMutex);
  g_acceptedCertificates.clear();
}

void FetchHttp(FetchJob& job) {
  {
    HttpHandler handler(job);
    handler.Run();
    // The request and the connection end with the handler, before the session is closed.
  }
  if (!job.outcome.setDuration || job.outcome.durationSeconds == 0) SetDuration(job.outcome, job.start);
}
