// The engine's only ways to reach its windows. The wx program, the headless host and
// the tests implement these; the engine never includes a toolkit header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/MailSettings.h"

class CLinkInfo;
class CWexoDoc;
class FtpDialogModel;
struct FetchResult;

// Question has Yes as its default answer, QuestionDefaultNo No (Return answers No).
enum class BoxKind { Info, Warning, Error, Question, QuestionDefaultNo };
enum class BoxAnswer { Ok, Yes, No, Cancel };

// The view of a document as the scheduler reaches it. Workers never reach the view: they hand
// their results to the document's ResultHandOver (engine/HandOver.h), which outlives it.
class IUiThread {
 public:
  virtual ~IUiThread() = default;
  // Runs the document's scheduler tick later on the user-interface thread; in order, and
  // dropped once the document is gone. Any thread.
  virtual void PostSchedule() = 0;
};

// The rows a list shows, as the scheduler prefers them (user-interface thread).
class IPreferredRows {
 public:
  virtual ~IPreferredRows() = default;
  // The record of the selected row; nullptr when none.
  virtual const CLinkInfo* SelectedRecord() = 0;
  // The records of the visible rows, top to bottom, appended to out.
  virtual void VisibleRecords(std::vector<const CLinkInfo*>& out) = 0;
};

// What a document tells the list that shows it (user-interface thread). The list keeps its
// own rows: which records it shows, in which order, and where.
class IDocumentObserver {
 public:
  virtual ~IDocumentObserver() = default;
  // Records [first, first + count) were appended to the table.
  virtual void RecordsAdded(std::size_t first, std::size_t count) = 0;
  // One record's status or data changed: its row, when it has one, is drawn again.
  virtual void RecordChanged(const CLinkInfo& link) = 0;
  // Many records changed, or the table was replaced: every row is to be built again.
  virtual void TableReset() = 0;
  // Many records changed their data but not which rows there are: the visible rows are drawn
  // again; no row comes or goes, and a sorted list stays as it is.
  virtual void RowsChanged() {}
  // A record gets a row now even where the list shows broken records only (a failed host
  // fails its pending records at once); nothing when it has one.
  virtual void RecordWantsRow(const CLinkInfo& link) {}
  // A record's fetch ended broken while the list shows broken records only: it gets a row at
  // the end of the list; nothing when it has one.
  virtual void RecordWantsLastRow(const CLinkInfo& link) {}
  // The status-bar text of the document's workers ("Threads: %d  ").
  virtual void StatusText(const std::string& text) = 0;
  // The document closes: the list stores what it keeps (its column widths).
  virtual void DocumentClosing() {}
};

// What the credential dialog asks about: a server (401) or proxy (407) wants a user name
// and password for a URL.
struct CredentialPrompt {
  std::string url;
  std::string server;  // "scheme://host:port", or "proxy " and the proxy
  std::string realm;   // from the challenge; "" when it names none
  bool proxy = false;
  std::string user;  // to show in the dialog at first
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

// A modeless box with an Abort button and two centred text lines, shown while a long pass
// of a report runs on the user-interface thread. The pass pumps between its steps and stops
// once the box reads aborted. Released by the pass when it ends (the box then goes).
class IAbortBox {
 public:
  virtual ~IAbortBox() = default;
  virtual void SetTopText(const std::string& text) = 0;
  virtual void SetBottomText(const std::string& text) = 0;
  // Handles everything waiting for the user-interface thread, then returns. A quit asked for
  // meanwhile is kept for the main loop; the pass goes on until it ends or is aborted.
  virtual void PumpWaitingMessages() = 0;
  // True once Abort was pressed, or the pass set it itself.
  virtual bool IsAborted() const = 0;
  virtual void SetAborted() = 0;
};

// What the starting-point dialog hands to a new document on OK. Only the active include and
// exclude entries are here, in list order; the dialog has set the document's depth itself.
struct StartingPoint {
  std::string url;  // as entered, completed with "http://" where it named no scheme
  int checkExternal = 1;
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  MailSettings mail;
  bool post = false;
  std::string postQuery;
};

// The program's exit codes: 0; 1 once a failure was reported (an output that could not be
// written, a document that could not be opened, a mail that failed); 2 for a command line that
// is not a batch run.
enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Application-wide answers: message boxes, dialogs, quitting.
class IWexoHost {
 public:
  virtual ~IWexoHost() = default;
  virtual BoxAnswer MessageBox(const std::string& text, BoxKind kind) = 0;
  // The question at the end of an interactive check; true shows the report.
  virtual bool AskForReport(const std::string& question) {
    return MessageBox(question, BoxKind::Question) == BoxAnswer::Yes;
  }
  // The open-file dialog for an existing file; false when cancelled. path: on entry a folder
  // to start in ("" for any), on OK the chosen file.
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
  // The FTP access dialog of the report's orphan search, modal: it loads the model
  // (OnInitDialog), lets the user edit it and ends with OK once OnOK accepted it. True for OK,
  // false for Cancel (also where no window can show it).
  virtual bool FtpDialog(FtpDialogModel& model) { return false; }
  // The starting-point dialog of a new document, modal over the main window; it may change
  // doc's settings (the depth, the options sheet) whatever button ends it. True for OK with
  // values filled; false for Cancel, and where no window can show it.
  virtual bool StartingPointDialog(CWexoDoc& doc, StartingPoint& values) { return false; }
  // Shows the abort box of a long pass with its caption ("Creating sitemap...").
  virtual std::unique_ptr<IAbortBox> CreateAbortBox(const std::string& caption) = 0;
  virtual void Beep() = 0;
  // Ends the program once it can. It exits with the highest code asked for, here or by
  // RaiseExitCode, whenever it ends.
  virtual void Quit(int exitCode) = 0;
  // True once Quit was asked for; any thread. From then on no fetch starts: the running ones
  // end and hand over, and the program ends.
  virtual bool QuitRequested() const { return false; }
  // A failure that the exit code tells of was reported: the program goes on, and exits with
  // at least exitCode.
  virtual void RaiseExitCode(int exitCode) = 0;
  // Runs task on the user-interface thread, later; any thread may call. A host without a
  // loop of its own runs it at once on the caller's thread.
  virtual void PostToUiThread(std::function<void()> task) { task(); }
};
