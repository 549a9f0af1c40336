#include "mail/SmtpConnection.h"

#include "algorithms/Base64.h"
#include "algorithms/Md5.h"
#include "engine/TraceLog.h"
#include "mail/MailEncoders.h"
#include "platform/LastError.h"

#include <arpa/inet.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

using platform::GetLastError;
using platform::SetLastError;

namespace {

constexpr const char* kTraceSource = "SmtpConnection";
constexpr std::size_t kTraceLineMax = 1000;

// One line of the dialogue for the trace log: escaped (EscapedText), a long line cut.
std::string TraceText(std::string_view line) {
  std::string out = EscapedText(line.substr(0, kTraceLineMax));
  if (line.size() > kTraceLineMax) out += " ... (" + std::to_string(line.size() - kTraceLineMax) + " bytes more)";
  return out;
}

// Every line of text (lines end in CR LF) as "SMTP <what>: <line>".
void TraceLines(int sourceLine, const char* what, std::string_view text) {
  while (true) {
    const std::size_t end = text.find("\r\n");
    WriteTraceLog(kTraceSource, sourceLine, "SMTP %s: %s\n", what, TraceText(text.substr(0, end)).c_str());
    if (end == std::string_view::npos || end + 2 == text.size()) return;
    text.remove_prefix(end + 2);
  }
}

std::string LocalHostName() {
  char name[260] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

bool HasBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// The challenge of a 334 reply: the reply text without its code and blank.
std::string Challenge(const std::string& reply) { return reply.size() > 4 ? reply.substr(4) : std::string(); }

std::string Base64Line(const std::string& text) {
  CBase64Coder coder;
  coder.EncodeString(text.c_str());
  return std::string(coder.EncodedText()) + "\r\n";
}

std::string DecodeBase64Text(const std::string& text) {
  CBase64Coder coder;
  coder.DecodeString(text.c_str());
  // Up to the first NUL, as a C string.
  return reinterpret_cast<const char*>(coder.DecodedData());
}

// The number at the start of a reply line: up to three leading digits.
int ReplyCode(const char* line) {
  int code = 0;
  for (int i = 0; i < 3 && line[i] >= '0' && line[i] <= '9'; ++i) code = code * 10 + (line[i] - '0');
  return code;
}

// Where the last line of a whole reply starts, or npos while the reply is not whole: the
// text ends in CR LF and its last line is a bare code or has a blank after the code.
std::size_t LastLineOfWholeReply(const char* text, std::size_t length) {
  if (length < 2 || text[length - 2] != '\r' || text[length - 1] != '\n') return std::string::npos;
  const std::size_t end = length - 2;
  std::size_t start = 0;
  for (std::size_t i = end; i >= 2; --i) {
    if (text[i - 2] == '\r' && text[i - 1] == '\n') {
      start = i;
      break;
    }
  }
  const std::size_t lineLength = end - start;
  if (lineLength == 3 || (lineLength > 3 && text[start + 3] == ' ')) return start;
  return std::string::npos;
}

}  // namespace

bool SmtpPortSetting(int given, int& port, std::string& problem) {
  port = given;
  problem.clear();
  const char* text = std::getenv("WEXO_SMTP_PORT");
  if (!text || !*text) return true;
  long value = 0;
  bool number = true;
  for (const char* c = text; *c && number; ++c) {
    number = *c >= '0' && *c <= '9';
    value = std::min(value * 10 + (*c - '0'), 65536L);
  }
  if (number && value >= 1 && value <= 65535) {
    port = static_cast<int>(value);
    return true;
  }
  problem = std::string("WEXO_SMTP_PORT is not a port number: ") + text;
  return false;
}

std::string CramMd5Response(const std::string& user, const std::string& password, const std::string& challenge) {
  std::uint8_t digest[16];
  HmacMd5(challenge.c_str(), static_cast<int>(std::strlen(challenge.c_str())), password.c_str(),
          static_cast<int>(std::strlen(password.c_str())), digest);
  std::string response = user + " ";
  for (std::uint8_t b : digest) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(b));
    response += hex;
  }
  return response;
}

// --- CSMTPSocket ---

bool CSMTPSocket::Create() {
  Close();
  m_hSocket = platform::OpenTcpSocket();
  return m_hSocket != platform::INVALID_SOCKET;
}

bool CSMTPSocket::Connect(const std::string& host, int port, const std::string& localAddress, std::uint32_t timeoutMs) {
  m_dwSendTimeout = timeoutMs;
  if (!localAddress.empty()) {
    in_addr local{};
    if (!platform::ResolveIPv4(localAddress, local) || !platform::BindSocket(m_hSocket, local, 0)) return false;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!platform::ResolveIPv4(host, to.sin_addr)) return false;
  return platform::ConnectSocket(m_hSocket, to, timeoutMs);
}

bool CSMTPSocket::Send(const char* bytes, std::size_t length) {
  return platform::SendAll(m_hSocket, bytes, length, m_dwSendTimeout);
}

int CSMTPSocket::Receive(char* buffer, std::size_t size) { return platform::ReceiveSome(m_hSocket, buffer, size); }

bool CSMTPSocket::IsReadable(bool& readable, std::uint32_t timeoutMs) {
  const int r = platform::WaitReadable(m_hSocket, timeoutMs);
  readable = r > 0;
  return r != platform::SOCKET_ERROR;
}

void CSMTPSocket::Close() {
  platform::CloseSocket(m_hSocket);
  m_hSocket = platform::INVALID_SOCKET;
}

// --- CRQZSMTPConnection ---

CRQZSMTPConnection::~CRQZSMTPConnection() {
  if (m_bConnected) Disconnect(true);
  m_Socket.Close();
}

void CRQZSMTPConnection::ReportDiagnostic(const std::string&) {}

void CRQZSMTPConnection::ReportWithLastError(const std::string& what) {
  ReportDiagnostic(what + "GetLastError returns: " + std::to_string(GetLastError()));
}

void CRQZSMTPConnection::WrongReply(const std::string& diagnostic) {
  // A time-out or a lost connection keeps its own error.
  if (m_bLastReplyWhole) SetLastError(platform::ERROR_BAD_COMMAND);
  ReportDiagnostic(diagnostic);
}

bool CRQZSMTPConnection::Send(const std::string& text) {
  m_nTextBytes += text.size();
  if (m_Socket.Send(text)) return true;
  m_bOutOfStep = true;
  return false;
}

bool CRQZSMTPConnection::SendCommand(const std::string& text, bool hidden) {
  // The end marker's CR LF ends the message text; the command is the "." after it.
  std::string_view line = text;
  if (line.starts_with("\r\n")) line.remove_prefix(2);
  if (line.ends_with("\r\n")) line.remove_suffix(2);
  if (hidden)
    WriteTraceLog(kTraceSource, __LINE__, "SMTP sent: (login data, not shown)\n");
  else
    TraceLines(__LINE__, "sent", line);
  return Send(text);
}

bool CRQZSMTPConnection::RefuseBreaks(const std::string& value, const char* setting, const char* method) {
  if (!HasBreakOrNul(value)) return true;
  SetLastError(platform::ERROR_INVALID_DATA);
  m_sLastCommandResponse = std::string(setting) + " holds a line break or NUL character";
  m_nLastCommandResponseCode = 0;
  ReportDiagnostic(std::string("CRQZSMTPConnection::") + method + ", " + m_sLastCommandResponse);
  return false;
}

bool CRQZSMTPConnection::RefuseBreaks(const CSMTPMessage& message) {
  auto address = [&](const CSMTPAddress& a, const char* setting) {
    return RefuseBreaks(a.m_sFriendlyName, setting, "SendMessage") &&
           RefuseBreaks(a.m_sEmailAddress, setting, "SendMessage");
  };
  if (!address(message.m_From, "The sender") || !RefuseBreaks(message.m_sSubject, "The subject", "SendMessage") ||
      !RefuseBreaks(message.m_sXMailer, "The X-Mailer header", "SendMessage") ||
      !address(message.m_ReplyTo, "The Reply-To address"))
    return false;
  for (int type : {SMTP_TO, SMTP_CC, SMTP_BCC}) {
    for (int i = 0; i < message.RecipientCount(type); ++i)
      if (!address(*message.GetRecipient(i, type), "A recipient")) return false;
  }
  for (const std::string& line : message.m_CustomHeaders)
    if (!RefuseBreaks(line, "A header line", "SendMessage")) return false;
  // Attachment names go into part headers.
  std::vector<const CSMTPBodyPart*> parts{&message.m_RootPart};
  while (!parts.empty()) {
    const CSMTPBodyPart* part = parts.back();
    parts.pop_back();
    if (!RefuseBreaks(part->GetTitle(), "An attachment's name", "SendMessage")) return false;
    for (int i = 0; i < part->ChildCount(); ++i) parts.push_back(part->GetChildPart(i));
  }
  return true;
}

void CRQZSMTPConnection::CleanUp(bool gracefully) {
  const std::uint32_t error = GetLastError();
  const std::string reply = m_sLastCommandResponse;
  const int code = m_nLastCommandResponseCode;
  Disconnect(gracefully);
  SetLastError(error);
  m_sLastCommandResponse = reply;
  m_nLastCommandResponseCode = code;
}

bool CRQZSMTPConnection::Connect(const std::string& host, int loginMethod, const std::string& user,
                                 const std::string& password, int port, const std::string& localAddress) {
  if (!RefuseBreaks(m_sHeloHostname, "The HELO host name", "Connect") ||
      !RefuseBreaks(user, "The user name", "Connect") || !RefuseBreaks(password, "The password", "Connect"))
    return false;
  // A port setting that is no port must not send the mail to another server on 25.
  std::string problem;
  if (!SmtpPortSetting(port, port, problem)) {
    WriteTraceLog(kTraceSource, __LINE__, "SMTP: %s\n", TraceText(problem).c_str());
    SetLastError(platform::WSAEINVAL);
    m_sLastCommandResponse = problem;
    m_nLastCommandResponseCode = 0;
    ReportDiagnostic("CRQZSMTPConnection::Connect, " + problem);
    return false;
  }
  if (!m_Socket.Create()) {
    ReportDiagnostic("CRQZSMTPConnection::Connect, Failed to create client socket, GetLastError returns: " +
                     std::to_string(GetLastError()) + "\n");
    return false;
  }
  WriteTraceLog(kTraceSource, __LINE__, "SMTP: connecting to %s port %d\n", TraceText(host).c_str(), port);
  if (!m_Socket.Connect(host, port, localAddress, m_dwTimeout)) {
    std::string what = "CRQZSMTPConnection::Connect, Could not connect to the SMTP server " + host + " on port " +
                       std::to_string(port);
    if (!localAddress.empty()) what += " from LocalAddress:" + localAddress;
    const std::uint32_t error = GetLastError();
    WriteTraceLog(kTraceSource, __LINE__, "SMTP: could not connect: %s\n", platform::FormatMessageText(error).c_str());
    SetLastError(error);
    ReportWithLastError(what + ", ");
    m_Socket.Close();
    return false;
  }
  m_bConnected = true;
  m_bOutOfStep = false;

  if (!ReadCommandReply(220)) {
    ReportDiagnostic("CRQZSMTPConnection::Connect, An unexpected SMTP login response was received");
    CleanUp(true);
    return false;
  }
  if (m_sHeloHostname == "auto") m_sHeloHostname = LocalHostName();

  const bool greeted = loginMethod == SMTP_LOGIN_NONE ? ConnectSMTP(m_sHeloHostname)
                                                      : ConnectESMTP(m_sHeloHostname, user, password, loginMethod);
  if (!greeted) {
    CleanUp(true);
    ReportDiagnostic("CRQZSMTPConnection::Connect, An unexpected HELO/EHLO response was received");
    return false;
  }
  return true;
}

bool CRQZSMTPConnection::ConnectSMTP(const std::string& hostName) {
  if (!SendCommand("HELO " + hostName + "\r\n")) {
    ReportDiagnostic("CRQZSMTPConnection::ConnectSMTP, An unexpected error occurred while sending the HELO command");
    return false;
  }
  return ReadCommandReply(250);
}

bool CRQZSMTPConnection::ConnectESMTP(const std::string& hostName, const std::string& user, const std::string& password,
                                      int method) {
  if (!SendCommand("EHLO " + hostName + "\r\n")) {
    ReportDiagnostic("CRQZSMTPConnection::ConnectESMTP, An unexpected error occurred while sending the EHLO command");
    return false;
  }
  if (!ReadCommandReply(250)) {
    ReportDiagnostic(
        "CRQZSMTPConnection::ConnectESMTP, An unexpected response was received occurred while sending the EHLO "
        "command");
    return false;
  }
  switch (method) {
    case SMTP_LOGIN_CRAM_MD5: return CramLogin(user, password);
    case SMTP_LOGIN_AUTH: return AuthLogin(user, password);
    case SMTP_LOGIN_AUTH_PLAIN: return AuthLoginPlain(user, password);
    default: return false;
  }
}

// One step of a login dialogue: send text, expect code; each failure has its sentence.
bool CRQZSMTPConnection::LoginStep(const std::string& text, bool hidden, const std::string& sendFailure, int code,
                                   const std::string& replyFailure) {
  if (!SendCommand(text, hidden)) {
    ReportDiagnostic(sendFailure);
    return false;
  }
  if (!ReadCommandReply(code)) {
    ReportDiagnostic(replyFailure);
    return false;
  }
  return true;
}

bool CRQZSMTPConnection::AuthLogin(const std::string& user, const std::string& password) {
  return LoginDialogue(false, user, password);
}

bool CRQZSMTPConnection::AuthLoginPlain(const std::string& user, const std::string& password) {
  return LoginDialogue(true, user, password);
}

// AUTH LOGIN, or with plain set AUTH LOGIN PLAIN: the same dialogue with the prompts read
// as they stand and the answers sent without Base64.
bool CRQZSMTPConnection::LoginDialogue(bool plain, const std::string& user, const std::string& password) {
  const std::string m = plain ? "CRQZSMTPConnection::AuthLoginPlain, " : "CRQZSMTPConnection::AuthLogin, ";
  const std::string mechanism = plain ? "AUTH LOGIN PLAIN" : "AUTH LOGIN";
  auto prompted = [&](const char* expected) {
    const std::string challenge = Challenge(m_sLastCommandResponse);
    if (strcasecmp((plain ? challenge : DecodeBase64Text(challenge)).c_str(), expected) == 0) return true;
    ReportDiagnostic(m + "An unexpected request received when expecting " +
                     std::string(expected, std::strlen(expected) - 1) + " request");
    return false;
  };
  auto answer = [&](const std::string& value) { return plain ? value + "\r\n" : Base64Line(value); };

  if (!LoginStep(mechanism + "\r\n", false, m + "An unexpected error occurred while sending the AUTH command", 334,
                 m + "Server does not support " + mechanism) ||
      !prompted("username:"))
    return false;
  const std::string userRefused = plain ? "Server did not response correctly to AUTH LOGIN PLAIN username field"
                                        : "Server did not respond correctly to AUTH LOGIN username field";
  if (!LoginStep(answer(user), true, m + "An unexpected error occurred while sending the username", 334,
                 m + userRefused) ||
      !prompted("password:"))
    return false;
  return LoginStep(answer(password), true, m + "An unexpected error occurred while sending the password", 235,
                   m + mechanism + " authentication was unsuccessful");
}

bool CRQZSMTPConnection::CramLogin(const std::string& user, const std::string& password) {
  const std::string m = "CRQZSMTPConnection::CramLogin, ";
  if (!LoginStep("AUTH CRAM-MD5\r\n", false, m + "An unexpected error occurred while sending the AUTH command", 334,
                 m + "Server does not support AUTH CRAM-MD5"))
    return false;
  const std::string challenge = DecodeBase64Text(Challenge(m_sLastCommandResponse));
  return LoginStep(Base64Line(CramMd5Response(user, password, challenge)), true,
                   m + "An unexpected error occurred while sending the username", 235,
                   m + "AUTH CRAM-MD5 authentication was unsuccessful");
}

bool CRQZSMTPConnection::ReadCommandReply(int expectedCode) { return ReadResponse(256, expectedCode, 4096); }

bool CRQZSMTPConnection::ReadResponse(std::size_t bufferSize, int expectedCode, std::size_t growStep) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_dwTimeout);
  std::string buffer(bufferSize, '\0');
  std::size_t pos = 0;
  m_bLastReplyWhole = false;
  auto fail = [&](const char* why) {
    m_sLastCommandResponse.assign(buffer.data(), pos);
    m_bOutOfStep = true;
    const std::uint32_t error = GetLastError();
    if (pos > 0) TraceLines(__LINE__, "received (not a whole reply)", m_sLastCommandResponse);
    WriteTraceLog(kTraceSource, __LINE__, "SMTP: %s\n", why);
    SetLastError(error);
    return false;
  };

  std::size_t lastLine = std::string::npos;
  while (lastLine == std::string::npos) {
    // One deadline for the whole reply: a server that trickles bytes cannot hold us.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    bool readable = false;
    if (!m_Socket.IsReadable(readable, static_cast<std::uint32_t>(left > 0 ? left : 0)))
      return fail("waiting for the reply failed");
    if (!readable) {
      SetLastError(platform::WSAETIMEDOUT);
      ReportDiagnostic("CRQZSMTPConnection::ReadResponse, Timed Out waiting for response from SMTP server");
      return fail("no whole reply within the time-out");
    }
    const std::size_t room = buffer.size() - pos - 1;
    const int n = m_Socket.Receive(buffer.data() + pos, room);
    if (n <= 0) return fail(n == 0 ? "the server closed the connection" : "reading the reply failed");
    pos += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) == room) buffer.resize(buffer.size() + growStep, '\0');
    lastLine = LastLineOfWholeReply(buffer.data(), pos);
    if (lastLine == std::string::npos && pos >= kMaxReplySize) {
      SetLastError(platform::WSAEMSGSIZE);
      ReportDiagnostic("CRQZSMTPConnection::ReadResponse, The response from the SMTP server is too long");
      return fail("the reply is too long");
    }
  }
  m_bLastReplyWhole = true;
  m_nLastCommandResponseCode = ReplyCode(buffer.data() + lastLine);
  m_sLastCommandResponse.assign(buffer.data(), pos - 2);
  TraceLines(__LINE__, "received", m_sLastCommandResponse);
  if (m_nLastCommandResponseCode == expectedCode) return true;
  SetLastError(platform::WSAEPROTONOSUPPORT);
  return false;
}

bool CRQZSMTPConnection::Fail() {
  if (m_bOutOfStep && m_bConnected) CleanUp(false);
  return false;
}

bool CRQZSMTPConnection::SendMessage(CSMTPMessage& message) {
  const std::string m = "CRQZSMTPConnection::SendMessage, ";
  if (!RefuseBreaks(message)) return false;

  // Servers take only the bare address in the envelope; the From header keeps the text.
  const CSMTPAddress sender(message.m_From.m_sEmailAddress);
  if (!SendCommand("MAIL FROM:<" + sender.m_sEmailAddress + ">\r\n")) {
    ReportWithLastError(m + "Failed in call to send MAIL command, ");
    return Fail();
  }
  if (!ReadCommandReply(250)) {
    WrongReply(m + "An unexpected MAIL response was received");
    return Fail();
  }
  for (int type : {SMTP_TO, SMTP_CC, SMTP_BCC}) {
    for (int i = 0; i < message.RecipientCount(type); ++i)
      if (!SendRCPTForRecipient(*message.GetRecipient(i, type))) return Fail();
  }
  if (!SendCommand("DATA\r\n")) {
    ReportWithLastError(m + "Failed in call to send DATA command, ");
    return Fail();
  }
  if (!ReadCommandReply(354)) {
    WrongReply(m + "An unexpected DATA response was received");
    return Fail();
  }

  // From here until the end marker, whatever the server reads is message text.
  m_bOutOfStep = true;
  m_nTextBytes = 0;
  if (!Send(message.BuildHeader())) {
    ReportWithLastError(m + "Failed in call to send the header, ");
    return Fail();
  }
  if (!Send("\r\n")) {
    ReportWithLastError(m + "Failed in call to send the header / body separator, ");
    return Fail();
  }
  const CSMTPBodyPart& root = message.m_RootPart;
  if (root.ChildCount() == 0 && !message.IsMultipart()) {
    if (!Send(StuffDots(TextForCharset(root.GetText(), root.Charset())))) {
      ReportWithLastError(m + "Failed in call to send the message body, ");
      return Fail();
    }
  } else if (!SendBodyPart(root, true)) {
    return Fail();
  }
  WriteTraceLog(kTraceSource, __LINE__, "SMTP sent: (the message text, %zu bytes)\n", m_nTextBytes);
  if (!SendCommand("\r\n.\r\n")) {
    ReportWithLastError(m + "Failed in call to send end of message indicator, ");
    return Fail();
  }
  m_bOutOfStep = false;
  if (!ReadCommandReply(250)) {
    WrongReply(m + "An unexpected end of message response was received");
    return Fail();
  }
  return true;
}

bool CRQZSMTPConnection::SendRCPTForRecipient(const CSMTPAddress& recipient) {
  if (!SendCommand("RCPT TO:<" + recipient.m_sEmailAddress + ">\r\n")) {
    ReportWithLastError("CRQZSMTPConnection::SendRCPTForRecipient, Failed in call to send RCPT command, ");
    return false;
  }
  if (!ReadCommandReply(250)) {
    WrongReply("CRQZSMTPConnection::SendRCPTForRecipient, An unexpected RCPT response was received");
    return false;
  }
  return true;
}

bool CRQZSMTPConnection::SendBodyPart(const CSMTPBodyPart& part, bool isRoot) {
  const std::string m = "CRQZSMTPConnection::SendBodyPart, ";
  // The first failed send ends the part: the connection is lost then, and the rest would
  // only wait for it again.
  if (!isRoot && !Send(part.BuildPartHeader())) {
    ReportWithLastError(m + "Failed in call to send body parts header, ");
    return false;
  }
  std::string body;
  if (!part.EncodePartBody(body) || (!body.empty() && !Send(body))) {
    ReportWithLastError(m + "Failed in call to send body parts body, ");
    return false;
  }
  for (int i = 0; i < part.ChildCount(); ++i)
    if (!SendBodyPart(*part.GetChildPart(i), false)) return false;
  if (part.ChildCount() > 0 && !Send(part.BuildPartFooter())) {
    ReportWithLastError(m + "Failed in call to send body parts footer, ");
    return false;
  }
  return true;
}

bool CRQZSMTPConnection::Disconnect(bool gracefully) {
  const std::string m = "CRQZSMTPConnection::Disconnect, ";
  bool result = false;
  if (!m_bConnected) {
    ReportDiagnostic(m + "Already disconnected from SMTP server, doing nothing");
  } else if (gracefully && m_bOutOfStep) {
    // A QUIT now would be read as message text, and its reply waited for in vain.
    ReportDiagnostic(m + "The connection is out of step, closing it without QUIT");
  } else if (gracefully) {
    if (!SendCommand("QUIT\r\n")) {
      ReportWithLastError(m + "Failed in call to send QUIT command, ");
    } else {
      result = ReadCommandReply(221);
      if (!result) WrongReply(m + "An unexpected QUIT response was received");
    }
  }
  m_bConnected = false;
  m_bOutOfStep = false;
  m_Socket.Close();
  return result;
}
