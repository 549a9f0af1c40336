// The engine's only ways to reach its windows. The wx program, the headless host and
// the tests implement these; the engine never includes a toolkit header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CLinkInfo;
class CWexoDoc;
struct FetchResult;

enum class BoxKind { Info, Warning, Error, Question };
enum class BoxAnswer { Ok, Yes, No, Cancel };

// One document's list window.
class IWexoView {
 public:
  virtual ~IWexoView() = default;
  // Deferred, in order; dropped once the document is gone.
  virtual void PostSchedule() = 0;
  // Synchronous hand-over of a finished fetch: returns once the user-interface thread took it.
  virtual void SendUrlDone(const FetchResult& result) = 0;
  virtual int GetSelectedRow() = 0;   // -1 when none
  virtual int GetTopRow() = 0;
  virtual int GetRowsPerPage() = 0;
  virtual int GetRowCount() = 0;
  virtual CLinkInfo* GetRowRecord(int row) = 0;
  virtual int GetRowOf(const CLinkInfo* link) = 0;  // -1 when the record has no row
  virtual void InsertRow(CLinkInfo* link) = 0;       // at the end
  virtual void InsertRowAt(CLinkInfo* link, int row) = 0;
  virtual void DeleteRecordRow(CLinkInfo* link) = 0;
  virtual void RedrawRecord(CLinkInfo* link) = 0;
  virtual void Invalidate() = 0;
  virtual void SaveColumnWidths() = 0;
  virtual void SetStatusText(const std::string& text) = 0;
};

// What the credential dialog asks about: a server (401) or proxy (407) wants a user name
// and password for a URL.
struct CredentialPrompt {
  std::string url;
  std::string server;  // "scheme://host:port", or "proxy " and the proxy
  std::string realm;   // from the challenge; "" when it names none
  bool proxy = false;
  std::string user;    // to show in the dialog at first
  // True once the fetch was stopped or timed out: a dialog still open may close as cancel.
  std::function<bool()> aborted;
};

// What the certificate dialog asks about: the server's certificate failed a check.
struct CertificatePrompt {
  std::string url;
  std::string server;   // "host:port"
  std::uint32_t error;  // 12037, 12038, 12044, 12045 or 12057
  std::string text;     // the error's message
  std::function<bool()> aborted;
};

// Application-wide answers: message boxes, dialogs, quitting.
class IWexoHost {
 public:
  virtual ~IWexoHost() = default;
  virtual BoxAnswer MessageBox(const std::string& text, BoxKind kind) = 0;
  // The question at the end of an interactive check; true shows the report.
  virtual bool AskForReport(const std::string& question) {
    return MessageBox(question, BoxKind::Question) == BoxAnswer::Yes;
  }
  // The open-file dialog for an existing file; false when cancelled.
  virtual bool FileOpenDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                              std::string& path) {
    return false;
  }
  // Whether the credential and certificate dialogs can be shown at all (a window exists).
  // Without them both answer cancel and no fetch waits for them.
  virtual bool CanShowDialogs() { return false; }
  // The two dialogs are called on a worker thread, which waits until the user-interface
  // thread has shown the dialog and it was closed. Credentials: true (OK) with the user
  // name and password entered, false for cancel.
  virtual bool CredentialDialog(const CredentialPrompt& prompt, std::string& user, std::string& password) {
    return false;
  }
  // Certificate: true when the user lets this request go on despite the error.
  virtual bool CertificateDialog(const CertificatePrompt& prompt) { return false; }
  virtual void Beep() = 0;
  virtual void Quit(int exitCode) = 0;
};

// The host the program runs under; a silent one until main() sets another.
IWexoHost& Host();
void SetHost(IWexoHost* host);
