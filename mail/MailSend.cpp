#include "mail/MailSend.h"

#include "engine/TraceLog.h"
#include "mail/SmtpConnection.h"
#include "mail/SmtpMessage.h"
#include "platform/LastError.h"

namespace {

// A server's reply as a box shows it: its lines one below the other, every byte that could
// steer a terminal escaped.
std::string ShownReply(const std::string& reply) {
  std::string out;
  for (std::size_t start = 0;;) {
    const std::size_t end = reply.find("\r\n", start);
    out += EscapedText(std::string_view(reply).substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return out;
    out += '\n';
    start = end + 2;
  }
}

}  // namespace

bool CheckMailPort(const MailNotice& show) {
  int port = 25;
  std::string problem;
  if (SmtpPortSetting(port, port, problem)) return true;
  show(problem);
  return false;
}

bool SendMail(const MailSettings& settings, const MailContent& content, const MailNotice& show) {
  CRQZSMTPConnection connection;
  if (!connection.Connect(settings.EMailSmtpServer, SMTP_LOGIN_NONE, "", "", 25, "")) {
    const std::string reason = platform::FormatMessageText(platform::GetLastError());
    show("Failed to connect to SMTP server " + settings.EMailSmtpServer + ": " + reason);
    return false;
  }
  CSMTPMessage message;
  message.m_From = CSMTPAddress("", settings.EMailFrom);
  message.m_sSubject = settings.EMailSubject;
  message.AddBodyText(content.text);
  if (!message.AttachFile(content.attachment) && !content.attachFailure.empty()) {
    show(content.attachFailure);
    return false;
  }
  message.AddRecipientList(settings.EMailTo, SMTP_TO);
  if (!connection.SendMessage(message)) {
    show("Failed to send e-mail message: " + ShownReply(connection.LastReplyText()));
    return false;
  }
  connection.Disconnect(true);
  return true;
}
