#include "app/CommandLine.h"

#include <cstdlib>

#include "engine/Application.h"

namespace {
const char* const kSwitchNames[] = {"url",      "export", "map", "report",      "google", "save",
                                    "language", "post",   "ext", "retrybroken", "level"};
}

bool IsSwitchToken(const std::string& token) {
  if (token.size() < 2) return false;
  if (token[0] == '-') return true;
  if (token[0] != '/') return false;
  const std::string name = token.substr(1);
  for (const char* s : kSwitchNames)
    if (name == s) return true;
  return false;
}

void CCommandLineInfoEx::ParseParam(const std::string& param, bool isFlag, bool isLast) {
  if (isFlag) {
    m_options[param] = "TRUE";
    m_pending = param;
  } else {
    if (!m_pending.empty()) {
      m_options[m_pending] = param;
      m_pending.clear();
    }
    // The first plain argument, a switch's value included, is the document to open.
    if (m_strFileName.empty()) {
      m_strFileName = param;
      m_nShellCommand = FileOpen;
    }
  }
}

bool CCommandLineInfoEx::GetOption(const std::string& name, std::string& value) const {
  auto it = m_options.find(name);
  if (it == m_options.end()) return false;
  value = it->second;
  return true;
}

void ParseCommandLine(CCommandLineInfoEx& info, const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool flag = IsSwitchToken(args[i]);
    info.ParseParam(flag ? args[i].substr(1) : args[i], flag, i + 1 == args.size());
  }
}

bool ApplyCommandLine(CCommandLineInfoEx& info, CWexoApp& app) {
  if (info.m_nShellCommand == CCommandLineInfoEx::FileNew) info.m_nShellCommand = CCommandLineInfoEx::FileNothing;
  bool batch = false;
  auto value = [&](const char* name, std::string& out) {
    if (info.GetOption(name, out)) batch = true;
  };
  if (info.GetOption("url", app.m_csUrl)) {
    batch = true;
    info.m_nShellCommand = CCommandLineInfoEx::FileNew;
  }
  value("export", app.m_csExport);
  value("map", app.m_csMap);
  value("report", app.m_csReport);
  value("google", app.m_csGoogle);
  value("save", app.m_csSave);
  value("language", app.m_csLanguage);
  value("post", app.m_csPost);
  if (info.GetOption("ext")) batch = true;
  if (info.GetOption("retrybroken")) {
    app.m_bRetryBroken = 1;
    batch = true;
  }
  std::string level;
  long n = info.GetOption("level", level) ? std::atol(level.c_str()) : 0;
  // The depth is 16 bits: a larger value would wrap to a negative depth.
  app.m_nLevel = n < 1 ? 9999 : (n > 32767 ? 32767 : static_cast<int>(n));
  app.m_bBatch = batch;
  return batch;
}
