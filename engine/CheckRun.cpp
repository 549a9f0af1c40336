// Starting a check (the root record of a command-line run with its per-URL profile, of the
// starting-point dialog, or of a URL list) and ending it.
#include "engine/CheckRun.h"

#include <cstdio>

#include "engine/Application.h"
#include "engine/CheckOutputs.h"
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

bool AnyBroken(const LinkTable& table) {
  for (std::size_t i = 0; i < table.GetLinkCount(); ++i)
    if (table.GetLink(i)->IsBroken()) return true;
  return false;
}

}  // namespace

bool CWexoDoc::OnNewDocument(CheckStart start) { return CheckRun(*this).Start(start); }

bool CWexoDoc::StartUrlList() { return CheckRun(*this).StartUrlList(); }

void CWexoDoc::EndOfCheck() { CheckRun(*this).End(); }

CheckRun::CheckRun(CWexoDoc& doc)
    : m_doc(doc), m_host(doc.Host()), m_app(doc.App()), m_outputs(doc.Context().outputs) {}

bool CheckRun::Start(CheckStart start) {
  if (start == CheckStart::UrlList) return StartUrlList();
  if (start != CheckStart::CommandLine || m_app.m_csUrl.empty()) return StartFromDialog();
  return StartFromCommandLine();
}

bool CheckRun::StartUrlList() {
  std::string path;
  if (!m_host.FileOpenDialog("Open URL List", "*.txt", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|", path))
    return false;
  const bool lowerCase = m_doc.Settings().MakeLowerCase != 0;
  std::string listUrl = platform::FileUrlFromPath(path);
  CanonicalizeUrl(listUrl, lowerCase, 0);
  platform::LineReader file;
  if (!file.Open(path)) {
    m_host.MessageBox("File '" + path + "' could not be opened", BoxKind::Warning);
    return false;
  }
  m_doc.SetRootUrl(RootPrefix(listUrl));
  m_doc.NewLink(listUrl, nullptr, REQUEST_GET);
  std::vector<std::string> include = m_doc.GetIncludes();
  std::string line;
  bool first = true;
  while (file.ReadLine(line)) {
    // A UTF-8 byte-order mark is not part of the first URL.
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    std::string url = TrimBlanks(line);
    if (url.empty()) continue;
    if (url.front() == '/') url = platform::FileUrlFromPath(url);
    CanonicalizeUrl(url, lowerCase, 0);
    include.push_back(url);
    // Repeated lines, or the list's own URL, name a record that is there already.
    if (m_doc.FindLink(url)) continue;
    m_doc.NewLink(url, nullptr, REQUEST_GET);
  }
  file.Close();
  m_doc.SetIncludes(std::move(include));
  m_doc.Continue();
  return true;
}

bool CheckRun::StartFromCommandLine() {
  m_doc.SetBatch(true);
  const std::string& root = m_app.m_csUrl;
  CheckSettings settings = m_doc.Settings();
  settings.AskPassword = 0;
  settings.MaxLevel = ToInt16Saturated(m_app.m_nLevel);

  const std::string options = root + "-Options";
  if (m_app.GetProfileInt(options.c_str(), "Profile", 0) != 0) {
    std::vector<std::string> include = m_doc.GetIncludes();
    std::vector<std::string> exclude = m_doc.GetExcludes();
    ReadProfileList(m_app, root + "-Include", include);
    ReadProfileList(m_app, root + "-Exclude", exclude);
    m_doc.SetIncludes(std::move(include));
    m_doc.SetExcludes(std::move(exclude));
    settings.CheckExternal =
        m_app.GetProfileInt(options.c_str(), "CheckExternal", m_app.GetProfileInt("Options", "CheckExternal", 1));
    settings.MaxLevel = ToInt16Saturated(m_app.GetProfileInt(options.c_str(), "MaxLevel", m_app.m_nLevel));
    static_cast<MailSettings&>(settings) = ReadMailSettings(m_app, options);
  }
  m_doc.SetSettings(std::move(settings));
  const std::string& post = m_app.m_csPost;
  StartAtRoot(root, !post.empty(), post);
  return true;
}

bool CheckRun::StartFromDialog() {
  m_doc.SetBatch(false);
  StartingPoint values;
  // The dialog may change the document's settings itself (the depth, the options sheet).
  if (!m_host.StartingPointDialog(m_doc, values)) return false;
  CheckSettings settings = m_doc.Settings();
  settings.CheckExternal = values.checkExternal;
  static_cast<MailSettings&>(settings) = values.mail;
  m_doc.SetSettings(std::move(settings));
  std::vector<std::string> include = m_doc.GetIncludes();
  std::vector<std::string> exclude = m_doc.GetExcludes();
  include.insert(include.end(), values.include.begin(), values.include.end());
  exclude.insert(exclude.end(), values.exclude.begin(), values.exclude.end());
  m_doc.SetIncludes(std::move(include));
  m_doc.SetExcludes(std::move(exclude));
  StartAtRoot(values.url, values.post, values.postQuery);
  return true;
}

void CheckRun::StartAtRoot(std::string root, bool post, const std::string& postData) {
  const bool lowerCase = m_doc.Settings().MakeLowerCase != 0;
  CanonicalizeUrl(root, lowerCase, 0);
  const CLinkInfo* rootLink = m_doc.NewLink(root, nullptr, post ? REQUEST_POST : REQUEST_GET);
  m_doc.SetRootUrl(RootPrefix(root));
  if (post) m_doc.UpdateLink(*rootLink, [&](CLinkInfo& r) { r.m_csPostData = postData; });

  if (lowerCase) {
    std::vector<std::string> include = m_doc.GetIncludes();
    std::vector<std::string> exclude = m_doc.GetExcludes();
    for (std::string& s : include) s = ToLowerInCodePage(s, 0);
    for (std::string& s : exclude) s = ToLowerInCodePage(s, 0);
    m_doc.SetIncludes(std::move(include));
    m_doc.SetExcludes(std::move(exclude));
  }
  // Broken records of the table are tried again before the first tick.
  if (m_app.m_bRetryBroken) m_doc.RecheckBroken();
  m_doc.Continue();
}

bool CheckRun::WriteOutputs(bool& wroteAny) {
  wroteAny = false;
  if (!m_doc.IsBatch() || !m_outputs) return true;
  // Each output shows its own failure and returns it.
  bool ok = true;
  const auto write = [&](const std::string& path, auto output) {
    if (path.empty()) return;
    wroteAny = true;
    if (!output(path)) ok = false;
  };
  write(m_app.m_csExport, [&](const std::string& path) { return m_outputs->ExportTabFile(m_doc, path); });
  write(m_app.m_csMap, [&](const std::string& path) { return m_outputs->ExportPageMap(m_doc, path); });
  write(m_app.m_csReport, [&](const std::string& path) { return m_outputs->CreateReport(m_doc, path); });
  write(m_app.m_csSave, [&](const std::string& path) { return m_outputs->SaveDocument(m_doc, path); });
  write(m_app.m_csGoogle, [&](const std::string& path) { return m_outputs->ExportSitemap(m_doc, path); });
  return ok;
}

void CheckRun::End() {
  m_doc.MarkFinished();
  const LinkTable& table = m_doc.Table();
  for (std::size_t i = 0; i < table.GetLinkCount(); ++i) {
    const CLinkInfo* link = table.GetLink(i);
    if (link->m_nStatus == 0 && link->m_bInJar) m_doc.SetStatus(link, 404, "class not found in .jar archive");
  }
  // One output or mail that failed makes the run exit 1.
  bool wroteAny = false;
  bool failed = !WriteOutputs(wroteAny);
  const auto exitCode = [&failed] { return failed ? kExitFailed : kExitOk; };
  const CheckSettings& settings = m_doc.Settings();
  if (settings.EMail) {
    if (settings.EMailOnlyIfBroken && !AnyBroken(table)) {
      m_host.Quit(exitCode());
      return;
    }
    if (m_outputs) {
      if (m_outputs->MailReport(m_doc)) {
        m_host.Quit(exitCode());
        return;
      }
      failed = true;
    }
  } else if (wroteAny) {
    m_host.Quit(exitCode());
    return;
  }
  // A failed output or mail still tells in the exit code, whenever the program ends.
  if (failed) m_host.RaiseExitCode(kExitFailed);
  // Interactive end.
  m_doc.CountAllFinished();
  m_host.Beep();
  if (m_host.AskForReport("Link tolvak finished. Do you want a report?") && m_outputs) m_outputs->LaunchReport(m_doc);
}
