// The orphan section of the report: files in the site's folders that no correct internal link
// reaches. Local folders are read from the disk; folders of an http site over FTP, with the
// access data the user gives in the FTP dialog. Runs on the user-interface thread under an
// abort box, as a long pass.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/FtpDialogModel.h"
#include "engine/HtmlEscape.h"
#include "engine/SchemeHandlers.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/FileUrl.h"
#include "platform/InetFtp.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"

namespace {

constexpr unsigned kUtf8 = 65001;
constexpr std::size_t kMessageLimit = 1024;
constexpr std::size_t kShownLimit = 255;

bool IsHttp(std::string_view url) { return url.starts_with("http://") || url.starts_with("https://"); }

// A file found in a listed folder. Its URL is kept twice: as shown and compared (decoded, so
// a name is never decoded again) and as a link (escaped as link records are).
struct Candidate {
  std::string text;
  std::string href;
  std::int64_t size = -1;  // -1: unknown
  bool remote = false;
  bool removed = false;
};

class OrphanSearch {
 public:
  OrphanSearch(const CWexoDoc& doc, platform::TextFileWriter& out)
      : m_doc(doc),
        m_table(doc.Table()),
        m_out(out),
        m_root(doc.GetRootUrl()),
        m_decodedRoot(DecodePercentEscapes(doc.GetRootUrl())) {
    if (!platform::PathFromFileUrl(m_root, m_rootPath)) m_rootPath.clear();
  }

  void Run() {
    CLongPass pass(m_doc.App());
    m_box = m_doc.Host().CreateAbortBox("Searching Orphans...");
    ConnectFtp();
    m_out.Write(
        "<h2><a name=\"orphans\"></a>Orphan files:</h2>\n"
        "<p>Note: Links that aren't spidered (e.g. webforms and dynamically generated links) will appear as orphans "
        "in this list.</p><pre>");
    CollectFolders();
    ListFolders();
    RemoveLinked();
    RemoveOutside();
    WriteOrphans();
    if (m_ftp) m_ftp->Close();
    m_ftp.reset();
    if (m_session) m_session->Close();
  }

 private:
  bool Poll() {
    m_box->PumpWaitingMessages();
    return !m_box->IsAborted();
  }

  void ConnectFtp();
  void CollectFolders();
  void ListFolders();
  void ListLocal(const std::string& path);
  void ListRemote(const std::string& folder);
  void RemoveLinked();
  void RemoveOutside();
  void WriteOrphans();

  void AddFolder(std::string url) {
    if (m_knownFolders.insert(url).second) m_folders.push_back(std::move(url));
  }
  // Writes a message line about a folder; text parts are markup-escaped.
  void WriteMessage(std::string_view before, const std::string& name, std::string_view after) {
    m_line = before;
    AppendHtmlText(m_line, name);
    m_line += after;
    m_out.Write(m_line);
  }
  // The folder on the server: the dialog's folder and the part below the root, made absolute
  // with the login folder when it is relative.
  std::string ServerPath(const std::string& shown) const {
    if (shown.starts_with('/')) return shown;
    if (m_home.empty()) return "./" + shown;
    return m_home + (m_home.ends_with('/') ? "" : "/") + shown;
  }

  const CWexoDoc& m_doc;
  const LinkTable& m_table;
  platform::TextFileWriter& m_out;
  const std::string& m_root;
  const std::string m_decodedRoot;
  std::string m_rootPath;  // the root's folder on the disk, for a local site
  std::unique_ptr<IAbortBox> m_box;

  std::unique_ptr<platform::CInternetSession> m_session;
  std::unique_ptr<platform::CFtpConnection> m_ftp;
  std::string m_home;
  std::string m_ftpDir;
  std::string m_defaultPage;

  std::vector<std::string> m_folders;  // folder URLs, decoded, each ending in '/'
  std::unordered_set<std::string> m_knownFolders;
  std::set<std::pair<dev_t, ino_t>> m_enteredFolders;
  std::vector<Candidate> m_candidates;
  bool m_folderMessage = false;
  std::string m_line;
};

void OrphanSearch::ConnectFtp() {
  if (!IsHttp(m_root) || m_doc.Settings().EMail || m_doc.IsBatch()) return;
  FtpDialogModel dialog(m_doc.App(), m_root);
  if (!m_doc.Host().FtpDialog(dialog)) {
    m_box->SetAborted();
    return;
  }
  m_ftpDir = FtpDialogModel::FolderWithSlash(dialog.m_csFtpDir);
  m_defaultPage = dialog.m_csFtpDefaultPage;
  std::string host;
  std::uint16_t port = 0;
  FtpDialogModel::SplitHost(dialog.m_csFtpHost, host, port);
  try {
    m_session = std::make_unique<platform::CInternetSession>(kProgramBanner);
    // User and password go to the server as they were typed.
    m_ftp =
        m_session->GetFtpConnection(host, dialog.m_csFtpUser, dialog.m_csFtpPassword, port, dialog.m_bFtpPassive != 0);
    if (!m_ftp->GetCurrentDirectory(m_home)) m_home.clear();
  } catch (const platform::CInternetException& e) {
    m_ftp.reset();
    m_doc.Host().MessageBox("Ftp: " + LibraryMessage(e, kMessageLimit), BoxKind::Error);
    m_box->SetAborted();
  }
}

// Phase 1: the folders of the correct internal URLs.
void OrphanSearch::CollectFolders() {
  std::string path;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    if (!Poll()) return;
    const CLinkInfo& link = *m_table.GetLink(i);
    const std::string& url = m_table.GetUrl(i);
    if (link.m_nStatus != 200 || link.m_bInJar || !m_doc.IsInternal(url) || m_doc.IsExcluded(url)) continue;
    if (IsHttp(url)) {
      std::string_view folder(url);
      folder = folder.substr(0, folder.find('?'));
      folder = folder.substr(0, folder.rfind('/') + 1);
      AddFolder(DecodePercentEscapes(std::string(folder)));
    } else if (platform::PathFromFileUrl(url, path)) {
      AddFolder("file://" + path.substr(0, path.rfind('/') + 1));
    }
  }
}

// Phase 2: every folder of the work list, which grows with the subfolders found.
void OrphanSearch::ListFolders() {
  for (std::size_t i = 0; i < m_folders.size(); ++i) {
    if (!Poll()) break;
    const std::string folder = m_folders[i];
    if (folder.starts_with("file://")) {
      ListLocal(folder.substr(7));
    } else if (m_ftp && IsHttp(folder) && folder.starts_with(m_decodedRoot)) {
      ListRemote(folder);
    }
  }
  m_box->SetTopText(std::string());
}

void OrphanSearch::ListLocal(const std::string& path) {
  m_box->SetTopText(!m_rootPath.empty() && path.starts_with(m_rootPath) ? path.substr(m_rootPath.size()) : path);
  struct stat folderStat {};
  DIR* dir = ::stat(path.c_str(), &folderStat) == 0 ? ::opendir(path.c_str()) : nullptr;
  if (!dir) {
    WriteMessage("local directory '", path, "' invalid\n");
    m_folderMessage = true;
    return;
  }
  // A folder reached again through a symbolic link is not listed again: no loops.
  if (!m_enteredFolders.emplace(folderStat.st_dev, folderStat.st_ino).second) {
    ::closedir(dir);
    return;
  }
  bool listed = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0 &&
        ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    if (S_ISDIR(st.st_mode)) {
      if (name.starts_with('.')) continue;
      listed = true;
      AddFolder("file://" + path + std::string(name) + "/");
    } else {
      listed = true;
      const std::string file = path + std::string(name);
      m_candidates.push_back({.text = "file://" + file,
                              .href = platform::FileUrlFromPath(file),
                              .size = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1});
    }
  }
  ::closedir(dir);
  if (!listed) {
    WriteMessage("local directory '", path, "' is empty\n");
    m_folderMessage = true;
  }
}

void OrphanSearch::ListRemote(const std::string& folder) {
  const std::string below = folder.substr(m_decodedRoot.size());
  const std::string shown = m_ftpDir + below;
  const std::string path = ServerPath(shown);
  m_box->SetTopText(shown);
  if (!m_ftp->SetCurrentDirectory(path)) {
    const std::uint32_t error = platform::InternetGetLastError();
    WriteMessage("Error " + std::to_string(error) + " while moving to remote ftp directory '", shown, "'");
    if (error == platform::ERROR_INTERNET_EXTENDED_ERROR) WriteMessage(": ", m_ftp->GetLastResponse(), "");
    m_out.Write("\n");
    return;
  }
  std::vector<platform::FtpListEntry> entries;
  try {
    entries = m_ftp->ListDirectory(path);
  } catch (const platform::CInternetException& e) {
    WriteMessage("Error " + std::to_string(e.m_dwError) + " while searching in remote ftp directory '", shown, "'");
    if (e.m_dwError == platform::ERROR_INTERNET_EXTENDED_ERROR) WriteMessage(": '", m_ftp->GetLastResponse(), "'");
    m_out.Write("\n");
    return;
  }
  if (entries.empty()) {
    WriteMessage("remote ftp directory '", shown, "' is empty\n");
    m_folderMessage = true;
    return;
  }
  for (platform::FtpListEntry& entry : entries) {
    m_box->SetBottomText(entry.name);
    if (!Poll()) return;
    if (entry.folder) {
      if (!entry.name.starts_with('.')) AddFolder(folder + entry.name + "/");
      continue;
    }
    // Sizes come from the listing: no round trip per orphan.
    m_candidates.push_back({.text = folder + entry.name,
                            .href = m_root + platform::EscapeFilePath(below + entry.name),
                            .size = entry.sizeKnown ? static_cast<std::int64_t>(entry.size) : -1,
                            .remote = true});
  }
}

// Phase 3: each correct internal record takes away the candidate it names. A local file is
// matched exactly, else by the first candidate equal to it without regard to case; an http
// URL exactly, or with the default page after a final '/'.
void OrphanSearch::RemoveLinked() {
  std::unordered_map<std::string_view, std::uint32_t> exact;
  std::unordered_map<std::string, std::vector<std::uint32_t>> folded;
  exact.reserve(m_candidates.size());
  for (std::uint32_t i = 0; i < m_candidates.size(); ++i) {
    const Candidate& c = m_candidates[i];
    exact.emplace(c.text, i);
    if (!c.remote) folded[ToLowerInCodePage(c.text, kUtf8)].push_back(i);
  }
  auto take = [this](std::uint32_t i) {
    if (m_candidates[i].removed) return false;
    m_candidates[i].removed = true;
    return true;
  };
  auto find = [&exact](const std::string& text) {
    const auto it = exact.find(text);
    return it == exact.end() ? UINT32_MAX : it->second;
  };
  std::string path;
  for (std::size_t r = 0; r < m_table.GetLinkCount(); ++r) {
    if (!Poll()) return;
    const CLinkInfo& link = *m_table.GetLink(r);
    const std::string& url = m_table.GetUrl(r);
    if (link.m_nStatus != 200 || !m_doc.IsInternal(url) || m_doc.IsExcluded(url)) continue;
    if (platform::PathFromFileUrl(url, path)) {
      const std::string text = "file://" + path;
      const std::uint32_t at = find(text);
      if (at != UINT32_MAX && take(at)) continue;
      const auto group = folded.find(ToLowerInCodePage(text, kUtf8));
      if (group == folded.end()) continue;
      for (std::uint32_t i : group->second)
        if (take(i)) break;
    } else if (IsHttp(url)) {
      const std::string decoded = DecodePercentEscapes(url);
      std::uint32_t at = find(decoded);
      if (at != UINT32_MAX && m_candidates[at].removed) at = UINT32_MAX;
      if (decoded.ends_with('/')) {
        const std::uint32_t page = find(decoded + m_defaultPage);
        if (page != UINT32_MAX && !m_candidates[page].removed) at = std::min(at, page);
      }
      if (at != UINT32_MAX) take(at);
    }
  }
}

// Phase 4: what is not internal, or excluded, is no orphan.
void OrphanSearch::RemoveOutside() {
  for (Candidate& c : m_candidates) {
    if (c.removed) continue;
    if (!Poll()) return;
    if (!m_doc.IsInternal(c.href) || m_doc.IsExcluded(c.href)) c.removed = true;
  }
}

// Phase 5 and the list: the orphans in byte order, each with its size when known.
void OrphanSearch::WriteOrphans() {
  std::vector<const Candidate*> orphans;
  for (const Candidate& c : m_candidates)
    if (!c.removed) orphans.push_back(&c);
  if (!m_box->IsAborted())
    std::sort(orphans.begin(), orphans.end(), [](const Candidate* a, const Candidate* b) { return a->text < b->text; });

  if (m_folderMessage) m_out.Write("\n");
  int count = 0;
  std::int64_t total = 0;
  for (const Candidate* c : orphans) {
    if (m_box->IsAborted()) break;
    m_line = "<a href=\"";
    AppendHtmlText(m_line, c->href, HtmlQuote::Double);
    m_line += "\">";
    AppendHtmlText(m_line, c->text);
    m_line += "</a>";
    m_out.Write(m_line);
    if (c->remote) {
      m_box->SetTopText("Orphans files...");
      m_box->SetBottomText(c->text.substr(std::min(m_decodedRoot.size(), c->text.size()), kShownLimit));
      if (!Poll()) break;
    }
    if (c->size >= 0) {
      m_out.Write(" (" + FormatFixed(static_cast<double>(c->size) / 1024.0, 1) + " KB)");
      total += c->size;
    }
    m_out.Write("\n");
    ++count;
  }
  m_out.Write("\n</pre>");
  if (m_box->IsAborted()) m_out.Write("<font size=\"+2\">Orphan search aborted!</font>\n<br>\n<br>\n");
  const float kilobytes = static_cast<float>(static_cast<double>(total) / 1024.0);
  m_out.Write(std::to_string(count) + " orphan(s) reported (" + FormatFixed(kilobytes, 1) + " KB)\n\n\n");
}

}  // namespace

void ReportWriter::WriteOrphans() {
  OrphanSearch(m_doc, m_out).Run();
  WriteSectionEnd();
}
