// A small synchronous SMTP client: connect and greeting, HELO or EHLO with an optional login
// (AUTH LOGIN, AUTH LOGIN PLAIN, AUTH CRAM-MD5), one mail transaction per CSMTPMessage, QUIT.
//
//   CRQZSMTPConnection c;
//   if (!c.Connect(server))                       // port 25, or WEXO_SMTP_PORT when set
//       ... platform::FormatMessageText(platform::GetLastError()) ...
//   if (c.SendMessage(message)) c.Disconnect(true);
//   else ... c.LastReplyText() ...                // the destructor says QUIT when it may
//
// Errors: every operation returns false on failure and leaves the thread's last error
// (platform/LastError.h): 10060 no whole reply within the reply time-out, 10043 a reply with
// another code than expected (22 in the MAIL, RCPT, DATA, end-of-message and QUIT steps),
// 10022 a host that cannot be resolved, 10040 a reply longer than 64 KiB, 13 a setting
// holding CR, LF or NUL, else the socket error of the failing call (10061 refused, 10101
// closed by the server ...). LastReplyText keeps what the server last sent (a partial reply
// too), or says which setting was refused. Each failure also hands a diagnostic sentence to
// ReportDiagnostic. A clean-up after a failure (QUIT, close) keeps that failure's error and
// reply text.
//
// Trace: each command sent and each reply line received goes to the trace log
// (engine/TraceLog.h) as "SMTP sent: ..." and "SMTP received: ..."; the user name, password
// and answers of a login as "(login data, not shown)", the message text as its size.
//
// Waits: connecting, every send and every reply are each bounded by the reply time-out
// (60 s). After a failure that leaves the dialogue out of step (no whole reply, a send that
// failed, anything inside DATA) the connection is closed without QUIT.
//
// Threads: one thread uses a connection; it blocks on the network.
#pragma once

#include "mail/SmtpMessage.h"
#include "platform/Socket.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum SmtpLoginMethod { SMTP_LOGIN_NONE = 0, SMTP_LOGIN_CRAM_MD5 = 1, SMTP_LOGIN_AUTH = 2, SMTP_LOGIN_AUTH_PLAIN = 3 };

// The CRAM-MD5 answer to a decoded challenge (RFC 2195): the user, a blank, and the
// HMAC-MD5 of the challenge keyed with the password in 32 lowercase hex digits.
std::string CramMd5Response(const std::string& user, const std::string& password, const std::string& challenge);

// One blocking IPv4 TCP socket.
class CSMTPSocket {
 public:
  CSMTPSocket() = default;
  CSMTPSocket(const CSMTPSocket&) = delete;
  CSMTPSocket& operator=(const CSMTPSocket&) = delete;
  virtual ~CSMTPSocket() { Close(); }

  bool Create();
  // Binds to localAddress when it is not empty, then connects to host (dotted address or
  // name), waiting at most timeoutMs; later sends are bounded by the same time. A host or
  // local address that cannot be resolved gives last error 10022.
  bool Connect(const std::string& host, int port, const std::string& localAddress, std::uint32_t timeoutMs);
  // Every byte, or false.
  bool Send(const char* bytes, std::size_t length);
  bool Send(const std::string& text) { return Send(text.data(), text.size()); }
  // One read: the count, 0 when the peer closed, SOCKET_ERROR on failure.
  int Receive(char* buffer, std::size_t size);
  // False when the wait failed; else readable tells whether data came within timeoutMs.
  bool IsReadable(bool& readable, std::uint32_t timeoutMs);
  void Close();

 private:
  platform::SOCKET m_hSocket = platform::INVALID_SOCKET;
  std::uint32_t m_dwSendTimeout = 60000;
};

// The port the connection uses in place of given: WEXO_SMTP_PORT when it is set and not
// empty. False, with problem set to "WEXO_SMTP_PORT is not a port number: <text>", when it
// holds anything but a number from 1 to 65535.
bool SmtpPortSetting(int given, int& port, std::string& problem);

class CRQZSMTPConnection {
 public:
  static constexpr std::size_t kMaxReplySize = 64 * 1024;

  CRQZSMTPConnection() = default;
  CRQZSMTPConnection(const CRQZSMTPConnection&) = delete;
  CRQZSMTPConnection& operator=(const CRQZSMTPConnection&) = delete;
  // Says QUIT when still connected and in step, then closes.
  virtual ~CRQZSMTPConnection();

  // Connects, reads the 220 greeting and says HELO (method 0) or EHLO and logs in with the
  // method (SmtpLoginMethod). An empty localAddress binds to none. The environment variable
  // WEXO_SMTP_PORT is used instead of port; one that holds no port number fails the connect
  // (last error 10022, the reply text SmtpPortSetting's problem) before anything is sent.
  bool Connect(const std::string& host, int loginMethod = SMTP_LOGIN_NONE, const std::string& user = {},
               const std::string& password = {}, int port = 25, const std::string& localAddress = {});
  // MAIL FROM (the bare address of the sender, also of a "Name <addr>" text), RCPT TO for
  // every To, Cc and Bcc address, DATA, the header block and the body, the end marker.
  bool SendMessage(CSMTPMessage& message);
  // QUIT when gracefully (true only when the server answers 221), then closes the socket.
  bool Disconnect(bool gracefully);

  std::string LastReplyText() const { return m_sLastCommandResponse; }
  int LastReplyCode() const { return m_nLastCommandResponseCode; }
  bool IsConnected() const { return m_bConnected; }
  // Tests shorten the wait for replies (60000 ms).
  void SetReplyTimeout(std::uint32_t ms) { m_dwTimeout = ms; }

  // Steps of Connect and SendMessage.
  bool ConnectSMTP(const std::string& hostName);
  bool ConnectESMTP(const std::string& hostName, const std::string& user, const std::string& password, int method);
  bool AuthLogin(const std::string& user, const std::string& password);
  bool AuthLoginPlain(const std::string& user, const std::string& password);
  bool CramLogin(const std::string& user, const std::string& password);
  bool SendRCPTForRecipient(const CSMTPAddress& recipient);
  bool SendBodyPart(const CSMTPBodyPart& part, bool isRoot);

 protected:
  // Reads one reply; true when its code is expectedCode.
  virtual bool ReadCommandReply(int expectedCode);
  // Reads one whole reply (every line of a multi-line one) into the last reply text and
  // code, starting with a buffer of bufferSize bytes that grows by growStep whenever a read
  // fills it.
  virtual bool ReadResponse(std::size_t bufferSize, int expectedCode, std::size_t growStep);
  // Hears every failure's sentence; does nothing here.
  virtual void ReportDiagnostic(const std::string& text);

 private:
  bool Send(const std::string& text);
  // Send of one command, written to the trace log first (hidden: as a placeholder).
  bool SendCommand(const std::string& text, bool hidden = false);
  // ReportDiagnostic of "what ... GetLastError returns: <n>".
  void ReportWithLastError(const std::string& what);
  // ReportDiagnostic, after setting last error 22 when the reply was whole.
  void WrongReply(const std::string& diagnostic);
  bool LoginDialogue(bool plain, const std::string& user, const std::string& password);
  bool LoginStep(const std::string& text, bool hidden, const std::string& sendFailure, int code,
                 const std::string& replyFailure);
  // Closes the connection at once (no QUIT) when the dialogue is out of step; false.
  bool Fail();
  // Refuses a setting that holds CR, LF or NUL: last error 13, a reply text naming it.
  bool RefuseBreaks(const std::string& value, const char* setting, const char* method);
  bool RefuseBreaks(const CSMTPMessage& message);
  // Disconnect that leaves the last error and reply of the failure before it in place.
  void CleanUp(bool gracefully);

  CSMTPSocket m_Socket;
  bool m_bConnected = false;
  std::string m_sLastCommandResponse;
  std::string m_sHeloHostname = "auto";
  std::uint32_t m_dwTimeout = 60000;
  int m_nLastCommandResponseCode = 0;
  bool m_bOutOfStep = false;  // what the server reads next is not a command
  bool m_bLastReplyWhole = false;
  std::size_t m_nTextBytes = 0;  // sent since the message text began
};
