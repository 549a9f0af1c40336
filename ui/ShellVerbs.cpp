#include "ui/ShellVerbs.h"

#include <unistd.h>

#include <memory>

#include <wx/mimetype.h>

#include "platform/ShellLaunch.h"
#include "ui/WxText.h"

namespace {

// Stands for the file while wx fills in a command; split out again as one argument.
constexpr const char* kPathMark = "WexoShellVerbPath7f3a";
constexpr int kFileNotFound = 2;
constexpr int kCannotOpen = 4;
constexpr int kNoAssociation = 31;

struct FileTypeCommands {
  wxArrayString verbs;
  wxArrayString commands;
};

FileTypeCommands CommandsOf(const std::string& extension) {
  FileTypeCommands out;
  if (extension.size() < 2 || extension[0] != '.') return out;
  std::unique_ptr<wxFileType> type(wxTheMimeTypesManager->GetFileTypeFromExtension(FromUtf8(extension.substr(1))));
  if (!type) return out;
  type->GetAllCommands(&out.verbs, &out.commands, wxFileType::MessageParameters(kPathMark));
  return out;
}

}  // namespace

std::vector<std::string> DesktopShellVerbs(const std::string& extension) {
  std::vector<std::string> out;
  for (const wxString& verb : CommandsOf(extension).verbs) out.push_back(verb.utf8_string());
  return out;
}

std::vector<std::string> ShellVerbArguments(const std::string& command, const std::string& path) {
  const std::string mark = kPathMark;
  std::vector<std::string> words = platform::SplitCommandLine(command);
  // A command that names no file is given it on its input ("< file"): here as its argument.
  if (words.size() >= 2 && words[words.size() - 2] == "<" && words.back() == mark) words.erase(words.end() - 2);
  bool named = false;
  for (std::string& word : words) {
    for (std::size_t at = word.find(mark); at != std::string::npos; at = word.find(mark, at + path.size())) {
      word.replace(at, mark.size(), path);
      named = true;
    }
  }
  if (!named && !words.empty()) words.push_back(path);
  return words;
}

int RunShellVerb(const std::string& extension, const std::string& verb, const std::string& path,
                 std::function<void(int result)> failed) {
  const FileTypeCommands found = CommandsOf(extension);
  for (std::size_t i = 0; i < found.verbs.size() && i < found.commands.size(); ++i) {
    if (found.verbs[i].utf8_string() != verb) continue;
    // The desktop's programs open a missing file without a word, or with a window of their own.
    if (::access(path.c_str(), F_OK) != 0) return kFileNotFound;
    const std::vector<std::string> argv = ShellVerbArguments(found.commands[i].utf8_string(), path);
    return platform::ShellExecuteResult(platform::ShellRun(argv, "", [path, failed](int result) {
      if (result > 32 || !failed) return;
      failed(::access(path.c_str(), F_OK) != 0 ? kFileNotFound : kCannotOpen);
    }));
  }
  return kNoAssociation;
}
