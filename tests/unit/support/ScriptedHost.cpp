#include "ScriptedHost.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "engine/Application.h"
#include "engine/LinkInfo.h"
#include "platform/Profile.h"

int ScriptedView::GetRowOf(const CLinkInfo* link) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i] == link) return static_cast<int>(i);
  return -1;
}

void ScriptedView::InsertRowAt(CLinkInfo* link, int row) {
  if (row < 0 || row > static_cast<int>(rows.size())) row = static_cast<int>(rows.size());
  rows.insert(rows.begin() + row, link);
}

void ScriptedView::DeleteRecordRow(CLinkInfo* link) {
  const int row = GetRowOf(link);
  if (row >= 0) rows.erase(rows.begin() + row);
}

void ScriptedView::SendUrlDone(const FetchResult& result) { handedOver.push_back(result); }

ScriptedHost::ScriptedHost() { SetHost(this); }
ScriptedHost::~ScriptedHost() { SetHost(nullptr); }

BoxAnswer ScriptedHost::MessageBox(const std::string& text, BoxKind kind) {
  boxes.push_back(text);
  if (!answers.empty()) {
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
}

bool ScriptedHost::FileOpenDialog(const std::string& title, const std::string&, const std::string&,
                                  std::string& path) {
  dialogTitles.push_back(title);
  if (openPaths.empty()) return false;
  path = openPaths.front();
  openPaths.pop_front();
  return true;
}

TempIni::TempIni() {
  char templ[] = "/tmp/wexo-test-ini-XXXXXX";
  m_dir = mkdtemp(templ);
  m_path = m_dir + "/wexo.ini";
  m_previous = WexoApp().m_csIniFile;
  WexoApp().m_csIniFile = m_path;
}

TempIni::~TempIni() {
  WexoApp().m_csIniFile = m_previous;
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

void TempIni::Set(const char* section, const char* key, const char* value) {
  platform::WritePrivateProfileString(section, key, value, m_path);
}
