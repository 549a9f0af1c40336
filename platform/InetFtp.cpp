#include "platform/InetFtp.h"
#include "platform/AsciiText.h"
#include "platform/InetTransfer.h"
#include "platform/Url.h"

#include <algorithm>

#include <sys/socket.h>

namespace platform {
namespace inet_detail {

// One FTP connection: its place, its logged-in transfer and what the server said last.
struct FtpState {
  std::shared_ptr<SessionState> session;
  std::string server;
  std::string base;  // "ftp://host:port/"
  std::string key;   // pool key
  std::string user;
  std::string password;
  bool passive = false;
  std::unique_ptr<Transfer> transfer;
  bool fileOpen = false;
  bool closed = false;
  // The last command failed and left its control connection idle in curl's cache.
  bool idleAfterFailure = false;
  curl_socket_t controlSocket = CURL_SOCKET_BAD;
  // Whether the server lists folders with MLSD: -1 until FEAT was asked.
  int mlsd = -1;
  // The command sent after the last one (POSTQUOTE), kept while it runs.
  SlistPtr postQuote;

  // The conversation, seen through curl's debug callback.
  std::string lastCommand;   // verb of the last command sent
  std::string lastReply;     // the last complete reply
  std::string replyCommand;  // the command that reply answered
  std::string partial;       // a multi-line reply still coming
  std::string partialCode;
};

}  // namespace inet_detail

using inet_detail::FtpState;
using inet_detail::HostForUrl;
using inet_detail::SessionState;
using inet_detail::Transfer;
using inet_detail::ValidHost;

namespace {

bool HasLineBreakOrNul(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

// The path as the part of an ftp URL after "host:port/": a leading '/' as "%2F", so curl
// decodes it back to exactly these bytes and keeps an absolute path absolute.
std::string UrlPath(const std::string& path) { return EscapeUrlPath(path, true); }

// Keeps track of commands and replies. Replies arrive line by line; a multi-line reply
// ("123-" ... "123 ") counts once it is complete.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  auto* st = static_cast<FtpState*>(self);
  if (type == CURLINFO_HEADER_OUT) {
    std::string line(data, size);
    const std::size_t end = line.find_first_of(" \r\n");
    st->lastCommand = AsciiUppered(std::string_view(line).substr(0, end));
    return 0;
  }
  if (type != CURLINFO_HEADER_IN) return 0;
  std::size_t start = 0;
  while (start < size) {
    std::size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    std::string line(AsciiTrim(std::string_view(data + start, end - start)));
    start = end + 1;
    if (line.empty()) continue;
    const bool coded = line.size() >= 3 && IsAsciiDigit(line[0]) && IsAsciiDigit(line[1]) && IsAsciiDigit(line[2]);
    const char mark = line.size() > 3 ? line[3] : ' ';
    if (!st->partialCode.empty()) {
      st->partial += " " + line;
      if (coded && line.compare(0, 3, st->partialCode) == 0 && mark == ' ') {
        st->lastReply = st->partial;
        st->replyCommand = st->lastCommand;
        st->partial.clear();
        st->partialCode.clear();
      }
      continue;
    }
    if (!coded) continue;
    if (mark == '-') {
      st->partialCode = line.substr(0, 3);
      st->partial = line;
      continue;
    }
    st->lastReply = line;
    st->replyCommand = st->lastCommand;
  }
  return 0;
}

std::string LastReplyOr(const FtpState& st, const char* fallback) {
  return st.lastReply.empty() ? std::string(fallback) : st.lastReply;
}

// The exception of a failed command, numbered by what the FTP server answered.
CInternetException FtpFailure(const FtpState& st, const CInternetException& e) {
  if (e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED || !st.transfer) return e;
  switch (st.transfer->Result()) {
    case CURLE_LOGIN_DENIED:
    case CURLE_FTP_WEIRD_PASS_REPLY: {
      const std::string reply = st.lastReply.empty() ? std::string() : ": " + st.lastReply;
      if (st.replyCommand == "USER")
        return CInternetException(ERROR_INTERNET_INCORRECT_USER_NAME, "The user name was not accepted" + reply);
      if (st.replyCommand == "PASS")
        return CInternetException(ERROR_INTERNET_INCORRECT_PASSWORD, "The password was not accepted" + reply);
      return CInternetException(ERROR_INTERNET_LOGIN_FAILURE, "The login was refused" + reply);
    }
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_PRET_FAILED:
      return CInternetException(ERROR_INTERNET_EXTENDED_ERROR, LastReplyOr(st, "The FTP server refused the command"));
    case CURLE_WEIRD_SERVER_REPLY:
      // A greeting such as "421 Too many users" is a refusal with a text; garbage is not.
      if (!st.lastReply.empty()) return CInternetException(ERROR_INTERNET_EXTENDED_ERROR, st.lastReply);
      return e;
    case CURLE_FTP_ACCEPT_TIMEOUT: return CInternetException(ERROR_INTERNET_TIMEOUT);
    default: return e;
  }
}

// The folder of a "257" reply: the text between its first '"' and the next lone one, a
// doubled '"' standing for one.
bool ParsePwdReply(const std::string& reply, std::string& dir) {
  if (reply.compare(0, 3, "257") != 0) return false;
  std::size_t i = reply.find('"');
  if (i == std::string::npos) return false;
  std::string out;
  for (++i; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      out += reply[i];
    } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
      out += '"';
      ++i;
    } else {
      dir = std::move(out);
      return true;
    }
  }
  return false;
}

// Whether a FEAT reply (its lines joined by blanks) names MLST, which brings MLSD with it.
bool OffersMlst(const std::string& reply) {
  std::size_t at = 0;
  while ((at = reply.find("MLST", at)) != std::string::npos) {
    const bool starts = at > 0 && reply[at - 1] == ' ';
    const bool ends = at + 4 == reply.size() || reply[at + 4] == ' ';
    if (starts && ends) return true;
    at += 4;
  }
  return false;
}

// Without a body, curl hands the size and date it learnt to the body writer as header
// lines; they must not count as the first bytes of a file.
size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

// Failures after which curl keeps the control connection (an ended command, not a broken
// or cancelled one).
bool KeepsControlConnection(CURLcode rc) {
  switch (rc) {
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_PARTIAL_FILE: return true;
    default: return false;
  }
}

// curl does not always say when to look at a passive data connection again.
constexpr int kPollMs = 20;

enum class Method { NoCwd, SingleCwd };

// What a command sends besides its path: the folder-listing verb in place of LIST, and a
// command sent once curl's own ones are done.
struct Extra {
  const char* listVerb = nullptr;
  const char* after = nullptr;
};

// Starts one command sequence on the connection's transfer. Without a body it runs to its
// end; with one, until the first bytes arrived. Throws the FTP-numbered exception.
void RunCommand(FtpState& st, const std::string& urlPath, Method method, bool body, bool ascii, bool fileTime,
                Extra extra = {}) {
  if (st.closed) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (st.fileOpen) throw CInternetException(ERROR_FTP_TRANSFER_IN_PROGRESS, "A file transfer is in progress");
  if (st.session->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  const std::string url = st.base + urlPath;
  inet_detail::SlistPtr pin = inet_detail::PinHost(*st.session, url);
  if (!st.transfer) st.transfer = Transfer::Acquire(st.key);
  Transfer& t = *st.transfer;
  t.Detach(*st.session);
  t.Reset(*st.session);
  t.SetResolveList(std::move(pin));
  st.lastCommand.clear();
  st.partial.clear();
  st.partialCode.clear();

  CURL* e = t.Easy();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
  if (!st.user.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, st.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, st.password.c_str());
  }
  // "-": the data connection's address is the control connection's own.
  curl_easy_setopt(e, CURLOPT_FTPPORT, st.passive ? nullptr : "-");
  curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD,
                   static_cast<long>(method == Method::NoCwd ? CURLFTPMETHOD_NOCWD : CURLFTPMETHOD_SINGLECWD));
  curl_easy_setopt(e, CURLOPT_NOBODY, body ? 0L : 1L);
  if (!body) curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
  // The RETR goes out as the only command for the file: no SIZE before it.
  curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, body ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_FILETIME, fileTime ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &OnDebug);
  curl_easy_setopt(e, CURLOPT_DEBUGDATA, &st);
  curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  if (extra.listVerb) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, extra.listVerb);
  st.postQuote.reset(extra.after ? curl_slist_append(nullptr, extra.after) : nullptr);
  curl_easy_setopt(e, CURLOPT_POSTQUOTE, st.postQuote.get());
  t.SetPollInterval(kPollMs);
  st.idleAfterFailure = false;
  try {
    t.Start(*st.session, Transfer::Kind::Raw);
  } catch (const CInternetException& ex) {
    // Asked while the handle is still in its multi: the socket of a connection that
    // curl keeps, CURL_SOCKET_BAD when it closed it.
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (!KeepsControlConnection(t.Result()) || curl_easy_getinfo(e, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK)
      sock = CURL_SOCKET_BAD;
    st.controlSocket = sock;
    st.idleAfterFailure = sock != CURL_SOCKET_BAD;
    t.Detach(*st.session);
    throw FtpFailure(st, ex);
  }
}

}  // namespace

// ---- CInternetSession::GetFtpConnection ----

std::unique_ptr<CFtpConnection> CInternetSession::GetFtpConnection(const std::string& server, const std::string& user,
                                                                   const std::string& password, std::uint16_t port,
                                                                   bool passive) {
  if (m_state->cancelled.load()) throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
  if (!ValidHost(server) || HasLineBreakOrNul(user) || HasLineBreakOrNul(password))
    throw CInternetException(ERROR_INTERNET_INVALID_URL);
  if (port == INTERNET_INVALID_PORT_NUMBER) port = INTERNET_DEFAULT_FTP_PORT;
  auto st = std::make_shared<FtpState>();
  st->session = m_state;
  st->server = server;
  const std::string hostPort = HostForUrl(server) + ":" + std::to_string(port);
  st->base = "ftp://" + hostPort + "/";
  // One user's logins per pooled transfer: a transfer then keeps at most the one
  // connection its last command used, never another user's idle one.
  st->key = "ftp://" + user + "@" + AsciiLowered(hostPort);
  st->user = user;
  st->password = password;
  st->passive = passive;
  std::unique_ptr<CFtpConnection> conn(new CFtpConnection(st));
  // Connect and log in (a pooled connection may be logged in already).
  RunCommand(*st, std::string(), Method::NoCwd, false, false, false);
  st->transfer->Detach(*st->session);
  return conn;
}

// ---- CFtpConnection ----

CFtpConnection::~CFtpConnection() { Close(); }

const std::string& CFtpConnection::GetServerName() const { return m_state->server; }

std::string CFtpConnection::GetLastResponse() const { return m_state->lastReply; }

bool CFtpConnection::SetCurrentDirectory(const std::string& path) {
  FtpState& st = *m_state;
  if (HasLineBreakOrNul(path)) {
    InternetSetLastError(ERROR_INTERNET_INVALID_URL);
    return false;
  }
  // A path ending in '/' is a folder to curl: a single "CWD <path>".
  std::string dir = path.empty() ? "/" : path;
  if (dir.back() != '/') dir += '/';
  try {
    RunCommand(st, UrlPath(dir), Method::SingleCwd, false, false, false);
  } catch (const CInternetException& e) {
    InternetSetLastError(e.m_dwError);
    return false;
  }
  st.transfer->Detach(*st.session);
  return true;
}

bool CFtpConnection::GetCurrentDirectory(std::string& dir) {
  FtpState& st = *m_state;
  try {
    RunCommand(st, std::string(), Method::NoCwd, false, false, false, {.after = "PWD"});
  } catch (const CInternetException& e) {
    InternetSetLastError(e.m_dwError);
    return false;
  }
  st.transfer->Detach(*st.session);
  if (st.replyCommand != "PWD" || !ParsePwdReply(st.lastReply, dir)) {
    InternetSetLastError(ERROR_INTERNET_EXTENDED_ERROR);
    return false;
  }
  return true;
}

std::vector<FtpListEntry> CFtpConnection::ListDirectory(const std::string& path) {
  FtpState& st = *m_state;
  if (HasLineBreakOrNul(path)) throw CInternetException(ERROR_INTERNET_INVALID_URL);
  if (st.mlsd < 0) {
    // '*': a server that does not know FEAT has no MLSD either; that is no failure.
    RunCommand(st, std::string(), Method::NoCwd, false, false, false, {.after = "*FEAT"});
    st.transfer->Detach(*st.session);
    st.mlsd = st.replyCommand == "FEAT" && OffersMlst(st.lastReply) ? 1 : 0;
  }
  std::string dir = path.empty() ? "/" : path;
  if (dir.back() != '/') dir += '/';
  // A single "CWD <folder>", then the listing of the current folder: no path argument that
  // a server could take for options.
  RunCommand(st, UrlPath(dir), Method::SingleCwd, true, true, false, {.listVerb = st.mlsd == 1 ? "MLSD" : nullptr});
  std::string text;
  char buffer[16384];
  try {
    while (const std::size_t n = st.transfer->Read(*st.session, buffer, sizeof buffer)) text.append(buffer, n);
  } catch (const CInternetException& e) {
    throw FtpFailure(st, e);
  }
  st.transfer->Detach(*st.session);
  return ParseFtpListing(text, st.mlsd == 1);
}

std::unique_ptr<CFtpFile> CFtpConnection::OpenFile(const std::string& path, std::uint32_t access, std::uint32_t flags) {
  FtpState& st = *m_state;
  if (access != GENERIC_READ) throw CInternetException(ERROR_INVALID_PARAMETER, "files are opened for reading only");
  if (HasLineBreakOrNul(path)) throw CInternetException(ERROR_INTERNET_INVALID_URL);
  // curl would list a path ending in '/'; as a file name no server has it, and the CWD
  // before it was refused.
  if (path.empty() || path.back() == '/')
    throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR, LastReplyOr(st, "The FTP server refused the command"));
  RunCommand(st, UrlPath(path), Method::NoCwd, true, (flags & FTP_TRANSFER_TYPE_ASCII) != 0, false);
  st.fileOpen = true;
  return std::unique_ptr<CFtpFile>(new CFtpFile(m_state));
}

void CFtpConnection::Close() {
  FtpState& st = *m_state;
  if (st.closed) return;
  st.closed = true;
  st.fileOpen = false;
  // A connection that does not go back to the pool is cut rather than quit: a server may
  // hold its answer to QUIT back (behind a data connection it opened for a refused RETR),
  // and curl would wait for it beyond any cancellation.
  if (st.idleAfterFailure && st.controlSocket != CURL_SOCKET_BAD) ::shutdown(st.controlSocket, SHUT_RDWR);
  if (st.transfer) {
    // The transfer outlives this state in the pool.
    st.transfer->Detach(*st.session);
    curl_easy_setopt(st.transfer->Easy(), CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(st.transfer->Easy(), CURLOPT_DEBUGFUNCTION, nullptr);
    curl_easy_setopt(st.transfer->Easy(), CURLOPT_DEBUGDATA, nullptr);
    curl_easy_setopt(st.transfer->Easy(), CURLOPT_POSTQUOTE, nullptr);
  }
  Transfer::Release(std::move(st.transfer), *st.session);
}

// ---- CFtpFile ----

CFtpFile::~CFtpFile() { Close(); }

std::size_t CFtpFile::Read(void* buffer, std::size_t count) {
  FtpState& st = *m_state;
  if (!m_open || !st.fileOpen || !st.transfer) throw CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  try {
    return st.transfer->Read(*st.session, buffer, count);
  } catch (const CInternetException& e) {
    throw FtpFailure(st, e);
  }
}

void CFtpFile::Close() {
  if (!m_open) return;
  m_open = false;
  FtpState& st = *m_state;
  if (!st.fileOpen) return;  // the connection was closed first
  st.fileOpen = false;
  // Taken out mid-transfer, curl drops the control connection with it.
  if (st.transfer) st.transfer->Detach(*st.session);
}

// ---- CFtpFileFind ----

bool CFtpFileFind::FindFile(const std::string& path, std::uint32_t) {
  m_found = false;
  m_length = 0;
  m_modified = -1;
  FtpState& st = *m_state;
  if (HasLineBreakOrNul(path) || path.empty() || path.back() == '/') {
    InternetSetLastError(ERROR_INTERNET_INVALID_URL);
    return false;
  }
  try {
    RunCommand(st, UrlPath(path), Method::NoCwd, false, false, true);
  } catch (const CInternetException& e) {
    InternetSetLastError(e.m_dwError);
    return false;
  }
  curl_off_t length = -1;
  curl_off_t modified = -1;
  curl_easy_getinfo(st.transfer->Easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  curl_easy_getinfo(st.transfer->Easy(), CURLINFO_FILETIME_T, &modified);
  st.transfer->Detach(*st.session);
  if (length < 0) {
    InternetSetLastError(ERROR_INTERNET_EXTENDED_ERROR);
    return false;
  }
  m_found = true;
  m_length = static_cast<std::uint64_t>(length);
  m_modified = static_cast<std::time_t>(modified);
  return true;
}

bool CFtpFileFind::FindNextFile() { return false; }

bool CFtpFileFind::GetCreationTime(std::time_t&) const { return false; }

bool CFtpFileFind::GetLastWriteTime(std::time_t& time) const {
  if (!m_found || m_modified < 0) return false;
  time = m_modified;
  return true;
}

}  // namespace platform
