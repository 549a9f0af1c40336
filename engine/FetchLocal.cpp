// The fetch worker's local-file handler: files, and folders with their generated listing.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/HtmlEscape.h"
#include "engine/SchemeHandlers.h"
#include "engine/TempFiles.h"
#include "platform/FileUrl.h"
#include "platform/TextFile.h"
#include "platform/Url.h"

namespace {

constexpr std::size_t kShortMessage = 255;

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  AppendHtmlEscaped(out, text, kFolderListingRules);
  return out;
}

// Percent escapes for everything but the unreserved characters and '/'.
std::string HrefEscape(const std::string& text) { return platform::EscapeUrlPath(text, false); }

struct ListingEntry {
  std::string name;
  std::string href;  // escaped
};

bool DotFirstLess(const std::string& a, const std::string& b) {
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  const int ra = rank(a), rb = rank(b);
  return ra != rb ? ra < rb : a < b;
}

// The entries of a folder in a fixed order: "." and "..", then by name. A symbolic link to a
// folder links to the folder's real path, so that a crawl through the listings reaches each
// real folder under one URL and a link to an ancestor never makes an endless chain of URLs.
bool ReadFolder(const std::string& path, std::vector<ListingEntry>& entries) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end(), DotFirstLess);

  const std::string prefix = path.ends_with('/') ? path : path + "/";
  entries.reserve(names.size());
  for (std::string& name : names) {
    ListingEntry entry;
    const std::string full = prefix + name;
    struct stat st;
    const bool isFolder = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    struct stat lst;
    const bool isLink = name != "." && name != ".." && lstat(full.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    if (isFolder && isLink) {
      char real[PATH_MAX];
      if (realpath(full.c_str(), real)) {
        std::string target = real;
        if (!target.ends_with('/')) target += '/';
        entry.href = HtmlEscape(platform::FileUrlFromPath(target));
      }
    }
    if (entry.href.empty()) entry.href = HrefEscape(isFolder ? name + "/" : name);
    entry.name = std::move(name);
    entries.push_back(std::move(entry));
  }
  return true;
}

// Writes the listing of a folder into the job's new body file; false when the folder cannot
// be listed (the file test decides then).
bool WriteListing(FetchJob& job, const std::string& path) {
  std::vector<ListingEntry> entries;
  if (!ReadFolder(path, entries)) return false;

  FetchResult& result = job.result;
  FetchOutcome& out = job.outcome;
  std::string error;
  int osError = 0;
  if (!CreateUniqueTempFile(result.csBodyFile, error, &osError)) {
    result.csBodyFile.clear();
    job.Finish(FileErrorStatus(osError), error.substr(0, kShortMessage));
    return true;
  }
  platform::TextFileWriter file;
  if (file.Open(result.csBodyFile)) {
    file.Write("<html>\n<head>\n<title>Directory " + HtmlEscape(path) +
               "</title>\n</head>\n<META http-equiv=Content-Type content=\"text/html; "
               "charset=utf-8\">\n<body>\n");
    if (!path.ends_with('/')) file.Write("<base href=\"" + HtmlEscape(job.request.url) + "/\">\n");
    for (const ListingEntry& e : entries) file.Write("<a href=\"" + e.href + "\">" + HtmlEscape(e.name) + "</a><p>\n");
    file.Write("</body></html>\n");
  }
  if (!file.Close()) {
    const int err = file.ErrorNumber();
    NoteTempFolderUnusable(result.csBodyFile + ": " + platform::FileErrorText(err));
    job.Finish(FileErrorStatus(err), file.Error().substr(0, kShortMessage));
    std::remove(result.csBodyFile.c_str());
    result.csBodyFile.clear();
    return true;
  }
  struct stat st;
  out.setSize = true;
  out.size = stat(result.csBodyFile.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
  out.setDate = true;
  out.dateKnown = 0;
  out.date = 0;
  out.setMimeType = true;
  out.mimeType = "text/html";
  job.Finish(200, std::string());
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void FetchLocalFile(FetchJob& job) {
  const FetchRequest& request = job.request;
  const FetchSettings& settings = request.settings;
  if (!settings.AllowLocalFilesInRemoteCheck && !request.rootUrl.starts_with("file:")) {
    job.Finish(404, "linking to file:// is always an error when checking remote URLs");
    return;
  }
  // The split has decoded the escapes of a file URL's object already; decoding them again
  // would miss a file whose name holds a '%'.
  const std::string& path = job.object;
  if (settings.CheckDoubleSlash) {
    const std::size_t twin = path.find("//");
    if (twin != std::string::npos && twin != 0) {
      job.Finish(2, "URL contains '//' which can lead to endless spidering");
      return;
    }
  }

  FetchOutcome& out = job.outcome;
  if (settings.ListLocalDirectories && IsFolder(path)) {
    if (request.requestKind == REQUEST_HEAD) {
      out.setMimeType = true;
      out.mimeType = "text/html";
      out.setSize = true;
      out.size = 1;
      out.setDate = true;
      out.dateKnown = 0;
      out.date = 0;
      job.Finish(200, std::string());
      return;
    }
    if (WriteListing(job, path)) return;
  }

  if (access(path.c_str(), R_OK) != 0) {
    const int err = errno;
    job.Finish(err, "could not check file " + path + ": " + std::strerror(err));
    return;
  }
  job.status = 200;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    out.setSize = true;
    // A folder has no length of its own: st_size would be its directory blocks.
    out.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    out.setDate = true;
    out.dateKnown = 1;
    out.date = static_cast<std::int64_t>(st.st_mtime);
  }
  if (out.setSize && out.size == 0) {
    job.Finish(204, "file has zero length");
    return;
  }
  if (request.requestKind == REQUEST_GET && (IsParsableMimeType(request.mimeType) || job.isJar)) {
    job.result.csBodyFile = path;
    job.result.bBodyIsTemp = false;
  }
}
