// A host and a list view for tests: records what the engine asked of its windows and
// answers from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/Application.h"
#include "engine/EngineContext.h"
#include "engine/Host.h"
#include "engine/LinkInfo.h"

class CWexoDoc;
struct CheckSettings;

// Rows are the document's records in table order, as they were added.
class ScriptedView : public IUiThread, public IPreferredRows, public IDocumentObserver {
 public:
  // Shows doc: the document's notices, posts and hand-overs come here.
  void Attach(CWexoDoc& doc);

  void PostSchedule() override { ++schedulePosts; }
  const CLinkInfo* SelectedRecord() override;
  void VisibleRecords(std::vector<const CLinkInfo*>& out) override;
  void RecordsAdded(std::size_t first, std::size_t count) override;
  void RecordChanged(const CLinkInfo& link) override { changed.push_back(&link); }
  void TableReset() override { ++resets; }
  void RowsChanged() override { ++rowsRedrawn; }
  void StatusText(const std::string& text) override { statusTexts.push_back(text); }
  void DocumentClosing() override { ++closings; }

  CWexoDoc* doc = nullptr;
  int schedulePosts = 0;
  int resets = 0;
  int rowsRedrawn = 0;
  int closings = 0;
  int selectedRow = -1;
  int topRow = 0;
  int rowsPerPage = 20;
  std::vector<const CLinkInfo*> rows;
  std::vector<const CLinkInfo*> changed;
  std::vector<std::string> statusTexts;
};

class ScriptedHost : public IWexoHost {
 public:
  // Waits for the outcome of every browser launch: each reports to its host.
  ~ScriptedHost() override;
  // Posted tasks wait until the test runs them, as the user-interface thread would later.
  void PostToUiThread(std::function<void()> task) override;
  // Waits until every browser launch has told its outcome, then runs the tasks posted so far
  // on the test's thread.
  void RunPostedTasks();
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override;
  bool FileOpenDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                      std::string& path) override;
  void Beep() override { ++beeps; }
  void Quit(int exitCode) override { quitCodes.push_back(exitCode); }
  bool QuitRequested() const override { return !quitCodes.empty(); }
  void RaiseExitCode(int exitCode) override { raisedExitCodes.push_back(exitCode); }
  // Records its texts and pumps; reads aborted after abortAfterPumps pumps (never when < 0).
  std::unique_ptr<IAbortBox> CreateAbortBox(const std::string& caption) override;
  // Opens the model, lets ftpDialog edit it and presses OK when it returns true (Cancel when
  // ftpDialog is empty or returns false); a refused OK is recorded and ends as Cancel.
  bool FtpDialog(FtpDialogModel& model) override;
  // Calls startingPoint (Cancel when it is empty); it fills the values and returns OK or not.
  bool StartingPointDialog(CWexoDoc& doc, StartingPoint& values) override {
    ++startingPointDialogs;
    return startingPoint && startingPoint(doc, values);
  }

  // A context with this host and app, and the given launcher and clock (empty: the real ones).
  EngineContext Context(WorkerLauncher launcher = nullptr, std::function<std::int64_t()> clock = nullptr);

  CWexoApp app;                   // the command line of the test's documents
  std::deque<BoxAnswer> answers;  // taken in order; Ok (or No for questions) when empty
  std::vector<std::string> boxes;
  std::vector<int> quitCodes;
  std::vector<int> raisedExitCodes;
  std::deque<std::string> openPaths;  // answers of the open-file dialog; cancel when empty
  std::vector<std::string> dialogTitles;
  int beeps = 0;
  int abortAfterPumps = -1;
  std::function<void()> onPump;            // runs inside each pump, as other events would
  std::vector<std::string> abortBoxTexts;  // captions and text lines, in order
  int pumps = 0;
  std::function<bool(FtpDialogModel&)> ftpDialog;
  std::function<bool(CWexoDoc&, StartingPoint&)> startingPoint;
  int startingPointDialogs = 0;
  int ftpDialogs = 0;
  std::vector<std::string> ftpDialogErrors;
  int openAbortBoxes = 0;

 private:
  std::mutex m_postedLock;
  std::vector<std::function<void()>> m_posted;
};

// A settings file of the test's own, removed at the end of the test.
class TempIni {
 public:
  TempIni();
  ~TempIni();
  void Set(const char* section, const char* key, const char* value);
  const std::string& Path() const { return m_path; }

 private:
  std::string m_dir;
  std::string m_path;
  std::string m_previous;
};

// Changes a document's settings the way an options page does: a copy, changed, set back whole.
void ChangeSettings(CWexoDoc& doc, const std::function<void(CheckSettings&)>& change);
