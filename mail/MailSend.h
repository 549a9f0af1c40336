// Sending one of this program's mails (the report at the end of a check, the e-mail dialog's
// test message): a text and one attached file, with the mail settings, through the SMTP server
// without a login on port 25 or WEXO_SMTP_PORT.
//
//   if (!CheckMailPort(show)) return false;    // first: nothing is made for a mail never sent
//   ... make the file ...
//   return SendMail(settings, {text, path, attachFailure}, show);
//
// Each failure reaches show as the text of its box; the caller chooses the box. Threads: the
// user-interface thread, blocked for as long as the SMTP dialogue takes (each reply up to a
// minute). Every command and reply goes to the trace log (SmtpConnection.h).
#pragma once

#include <functional>
#include <string>

#include "engine/MailSettings.h"

using MailNotice = std::function<void(const std::string&)>;

// False, after show had "WEXO_SMTP_PORT is not a port number: <text>", when that variable is
// set and holds no port number.
bool CheckMailPort(const MailNotice& show);

struct MailContent {
  std::string text;
  std::string attachment;  // one path, taken whole: its folders may hold ',' and ';'
  // Shown, and nothing sent, when the file cannot be attached; "" sends the text without it.
  std::string attachFailure;
};

// Connects to settings.EMailSmtpServer and sends content from EMailFrom (the whole text, also
// "Name <addr>") to every address of EMailTo with the subject EMailSubject, then says QUIT.
// True when the server took the message. Else show had one of "Failed to connect to SMTP
// server <server>: <the system's text for the last error>", content.attachFailure, or "Failed
// to send e-mail message: <the server's last reply>" (its lines joined by line feeds, control
// characters and bytes that are no UTF-8 escaped as the trace log writes them).
bool SendMail(const MailSettings& settings, const MailContent& content, const MailNotice& show);
