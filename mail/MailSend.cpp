#include "mail/MailSend.h"

#include "mail/SmtpConnection.h"
#include "mail/SmtpMessage.h"
#include "platform/LastError.h"

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
    show("Failed to send e-mail message: " + connection.LastReplyText());
    return false;
  }
  connection.Disconnect(true);
  return true;
}
