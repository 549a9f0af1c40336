// Starting a check: the root record of a command-line run with its per-URL profile, of the
// starting-point dialog, or of a URL list.
#include <cstdio>

#include <unordered_set>

#include "engine/Application.h"
#include "engine/Host.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/AsciiText.h"
#include "platform/FileUrl.h"
#include "platform/TextFile.h"

namespace {

std::string RootPrefix(const std::string& url) {
  const std::size_t slash = url.rfind('/');
  return slash == std::string::npos ? std::string() : url.substr(0, slash + 1);
}

// The enabled String%d entries of a profile section, until the first empty one.
void ReadProfileList(const CWexoApp& app, const std::string& section, std::vector<std::string>& list) {
  for (int i = 1;; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "String%d", i);
    const std::string value = app.GetProfileString(section.c_str(), key, "");
    if (value.empty()) break;
    std::snprintf(key, sizeof key, "Enable%d", i);
    if (app.GetProfileInt(section.c_str(), key, 0) != 0) list.push_back(value);
  }
}

std::string TrimBlanks(std::string_view s) { return std::string(platform::AsciiTrim(s)); }

}  // namespace

bool CWexoDoc::StartUrlList() {
  std::string path;
  if (!Host().FileOpenDialog("Open URL List", "*.txt", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|", path))
    return false;
  std::string listUrl = platform::FileUrlFromPath(path);
  CanonicalizeUrl(listUrl, m_settings.MakeLowerCase != 0, 0);
  platform::LineReader file;
  if (!file.Open(path)) {
    Host().MessageBox("File '" + path + "' could not be opened", BoxKind::Warning);
    return false;
  }
  m_csRootUrl = RootPrefix(listUrl);
  NewLink(listUrl, nullptr, REQUEST_GET);
  std::string line;
  bool first = true;
  while (file.ReadLine(line)) {
    // A UTF-8 byte-order mark is not part of the first URL.
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    std::string url = TrimBlanks(line);
    if (url.empty()) continue;
    if (url.front() == '/') url = platform::FileUrlFromPath(url);
    CanonicalizeUrl(url, m_settings.MakeLowerCase != 0, 0);
    m_saInclude.push_back(url);
    // Repeated lines, or the list's own URL, name a record that is there already.
    if (FindLink(url)) continue;
    NewLink(url, nullptr, REQUEST_GET);
  }
  file.Close();
  MarkRunning();
  if (m_pUi) m_pUi->PostSchedule();
  return true;
}

bool CWexoDoc::OnNewDocument(CheckStart start) {
  if (start == CheckStart::UrlList) return StartUrlList();
  const CWexoApp& app = App();
  if (start != CheckStart::CommandLine || app.m_csUrl.empty()) return StartFromDialog();

  m_bBatch = true;
  std::string root = app.m_csUrl;
  CheckSettings& settings = m_settings;
  settings.AskPassword = 0;
  settings.MaxLevel = ToInt16Saturated(app.m_nLevel);
  const std::string post = app.m_csPost;

  const std::string options = root + "-Options";
  if (app.GetProfileInt(options.c_str(), "Profile", 0) != 0) {
    ReadProfileList(app, root + "-Include", m_saInclude);
    ReadProfileList(app, root + "-Exclude", m_saExclude);
    settings.CheckExternal =
        app.GetProfileInt(options.c_str(), "CheckExternal", app.GetProfileInt("Options", "CheckExternal", 1));
    settings.MaxLevel = ToInt16Saturated(app.GetProfileInt(options.c_str(), "MaxLevel", app.m_nLevel));
    static_cast<MailSettings&>(settings) = ReadMailSettings(app, options);
  }
  StartAtRoot(root, !post.empty(), post);
  return true;
}

bool CWexoDoc::StartFromDialog() {
  m_bBatch = false;
  StartingPoint values;
  if (!Host().StartingPointDialog(*this, values)) return false;
  CheckSettings& settings = m_settings;
  settings.CheckExternal = values.checkExternal;
  m_saInclude.insert(m_saInclude.end(), values.include.begin(), values.include.end());
  m_saExclude.insert(m_saExclude.end(), values.exclude.begin(), values.exclude.end());
  static_cast<MailSettings&>(settings) = values.mail;
  StartAtRoot(values.url, values.post, values.postQuery);
  return true;
}

void CWexoDoc::StartAtRoot(std::string root, bool post, const std::string& postData) {
  CanonicalizeUrl(root, m_settings.MakeLowerCase != 0, 0);
  CLinkInfo* rootLink = NewLink(root, nullptr, post ? REQUEST_POST : REQUEST_GET);
  m_csRootUrl = RootPrefix(root);
  if (post) rootLink->m_csPostData = postData;

  if (m_settings.MakeLowerCase) {
    for (std::string& s : m_saInclude) s = ToLowerInCodePage(s, 0);
    for (std::string& s : m_saExclude) s = ToLowerInCodePage(s, 0);
  }
  MarkRunning();
  if (App().m_bRetryBroken) RecheckBroken();
  if (m_pUi) m_pUi->PostSchedule();
}
