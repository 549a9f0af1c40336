// Putting a document's report where the user sees it: opened in the browser, or mailed.
//
// Both write the report into a fresh "QMV-<uuid>.htm" file of the private temporary folder
// (engine/TempFiles.h) and leave it there. Threads: the user-interface thread; both block it
// until they return (the mail for as long as the SMTP dialogue takes).
#pragma once

#include <string>

class CWexoDoc;

// Writes the report and opens it in the browser (vLaunchURL). The previous report launched
// for the same document file (profile section [reports], keyed by the document's path name,
// "" for a document never saved) is deleted first, and the new one recorded there. Each
// step goes to the trace log under the source name "WexoDoc", in its place among the
// launches (the last line once the browser launch has ended). A report that cannot be
// written shows its message and is opened all the same; a report file that cannot be made
// shows an error and ends the launch.
void vLaunchReport(const CWexoDoc& doc);

// Writes the report and mails it as an attachment through the document's SMTP server
// (E-Mail-SMTP-Server, no login, port 25 or WEXO_SMTP_PORT) from E-Mail-From to every
// address of E-Mail-To with the subject E-Mail-Subject. Every failure (a WEXO_SMTP_PORT that
// is no port number, report file, report, attachment, connection, sending) shows an error
// box; the result is true only when the server took the message.
bool MailReport(const CWexoDoc& doc);

// Whether path names a report file that this program made in its private temporary folder:
// "<folder>/<x>/QMV-<uuid>.htm", a plain file (not a link) that we own. Only such a file is
// deleted on the word of the settings file.
bool IsOurReportFile(const std::string& path);
