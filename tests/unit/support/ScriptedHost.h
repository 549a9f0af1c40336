// A host and a list view for tests: records what the engine asked of its windows and
// answers from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "engine/Host.h"
#include "engine/LinkInfo.h"

class ScriptedView : public IWexoView {
 public:
  void PostSchedule() override { ++schedulePosts; }
  void SendUrlDone(const FetchResult& result) override;
  int GetSelectedRow() override { return selectedRow; }
  int GetTopRow() override { return topRow; }
  int GetRowsPerPage() override { return rowsPerPage; }
  int GetRowCount() override { return static_cast<int>(rows.size()); }
  CLinkInfo* GetRowRecord(int row) override {
    return row >= 0 && row < static_cast<int>(rows.size()) ? rows[row] : nullptr;
  }
  int GetRowOf(const CLinkInfo* link) override;
  void InsertRow(CLinkInfo* link) override { rows.push_back(link); }
  void InsertRowAt(CLinkInfo* link, int row) override;
  void DeleteRecordRow(CLinkInfo* link) override;
  void RedrawRecord(CLinkInfo* link) override { redrawn.push_back(link); }
  void Invalidate() override { ++invalidations; }
  void SaveColumnWidths() override { ++columnSaves; }
  void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }

  int schedulePosts = 0;
  int invalidations = 0;
  int columnSaves = 0;
  int selectedRow = -1;
  int topRow = 0;
  int rowsPerPage = 20;
  std::vector<CLinkInfo*> rows;
  std::vector<CLinkInfo*> redrawn;
  std::vector<std::string> statusTexts;
  std::vector<FetchResult> handedOver;
};

class ScriptedHost : public IWexoHost {
 public:
  ScriptedHost();
  ~ScriptedHost() override;
  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override;
  bool FileOpenDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                      std::string& path) override;
  void Beep() override { ++beeps; }
  void Quit(int exitCode) override { quitCodes.push_back(exitCode); }

  std::deque<BoxAnswer> answers;  // taken in order; Ok (or No for questions) when empty
  std::vector<std::string> boxes;
  std::vector<int> quitCodes;
  std::deque<std::string> openPaths;  // answers of the open-file dialog; cancel when empty
  std::vector<std::string> dialogTitles;
  int beeps = 0;
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
