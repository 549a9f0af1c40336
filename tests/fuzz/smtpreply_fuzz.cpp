// The SMTP reply reader over a fuzzed reply to RCPT that a server on loopback sends in
// pieces, then closes. The first byte chooses the piece size, the second the reader's first
// buffer and growth step. What the reader keeps is a prefix of
// what was sent; a reply it takes as whole ends there, and its last line holds its code.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "fuzz/FuzzSupport.h"
#include "mail/SmtpConnection.h"

namespace {

// Reads the reply to RCPT with the buffer sizes chosen.
class Reader : public CRQZSMTPConnection {
 public:
  std::size_t bufferSize = 256, growStep = 4096;
  bool fuzzed = false;

 protected:
  bool ReadCommandReply(int expectedCode) override {
    return fuzzed ? ReadResponse(bufferSize, expectedCode, growStep)
                  : CRQZSMTPConnection::ReadCommandReply(expectedCode);
  }
};

// The next line the client sends.
void ReadLine(int c) {
  char b = 0;
  while (b != '\n' && ::recv(c, &b, 1, 0) == 1) {
  }
}

// A listening socket on a free loopback port.
int Listen(int& port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  FUZZ_CHECK(s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(s, 4) == 0);
  FUZZ_CHECK(::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0);
  port = ntohs(a.sin_port);
  return s;
}

void Serve(int listener, std::string_view reply, std::size_t piece) {
  const int c = ::accept(listener, nullptr, nullptr);
  FUZZ_CHECK(c >= 0);
  const auto send = [c](std::string_view bytes) { return ::send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL); };
  send("220 fuzz\r\n");
  ReadLine(c);  // HELO
  send("250 fuzz\r\n");
  ReadLine(c);  // RCPT
  for (std::size_t at = 0; at < reply.size(); at += piece)
    if (send(reply.substr(at, piece)) < 0) break;
  ::shutdown(c, SHUT_WR);
  char buffer[512];
  while (::recv(c, buffer, sizeof buffer, 0) > 0) {
  }
  ::close(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int port = 0;
  static const int listener = Listen(port);
  // The trace log of every run goes to the target's own folder.
  static const bool privateLog = setenv("TMPDIR", fuzz::Folder().c_str(), 1) == 0;
  FUZZ_CHECK(privateLog);
  unsetenv("WEXO_SMTP_PORT");
  fuzz::Input in(data, size);
  const std::size_t piece = in.Byte() % 64 + 1;
  const std::uint8_t sizes = in.Byte();
  const std::string_view reply = in.Rest();

  std::thread server(Serve, listener, reply, piece);
  Reader reader;
  reader.SetReplyTimeout(5000);
  const bool connected = reader.Connect("127.0.0.1", SMTP_LOGIN_NONE, {}, {}, port);
  FUZZ_CHECK_ABOUT(connected, reader.LastReplyText());
  reader.bufferSize = sizes % 16 + 2;
  reader.growStep = sizes / 16 + 1;
  reader.fuzzed = true;
  const bool taken = reader.SendRCPTForRecipient(CSMTPAddress("to@example.test"));
  const std::string text = reader.LastReplyText();
  FUZZ_CHECK(reply.starts_with(text));
  if (taken) {
    FUZZ_CHECK(reply.substr(text.size()).starts_with("\r\n"));
    const std::size_t lineEnd = text.rfind("\r\n");
    const std::string_view last = std::string_view(text).substr(lineEnd == std::string::npos ? 0 : lineEnd + 2);
    FUZZ_CHECK(last.starts_with("250") && (last.size() == 3 || last[3] == ' '));
  }
  reader.Disconnect(false);
  server.join();
  return 0;
}
