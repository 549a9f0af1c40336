// The command line: switches written as '-name' (or '/name' for the program's own names),
// each optionally followed by a value.
#pragma once

#include <map>
#include <string>
#include <vector>

class CWexoApp;

class CCommandLineInfoEx {
 public:
  enum ShellCommand { FileNew, FileOpen, FileNothing };

  void ParseParam(const std::string& param, bool isFlag, bool isLast);
  bool GetOption(const std::string& name, std::string& value) const;
  bool GetOption(const std::string& name) const { return m_options.count(name) != 0; }

  ShellCommand m_nShellCommand = FileNew;
  std::string m_strFileName;

 private:
  std::map<std::string, std::string> m_options;
  std::string m_pending;
};

// Whether a token is a switch: '-' always, '/' only before one of the program's switch names,
// so absolute paths stay arguments.
bool IsSwitchToken(const std::string& token);

// Parses argv into the parser (without the program name).
void ParseCommandLine(CCommandLineInfoEx& info, const std::vector<std::string>& args);

// Fills the application values from the parsed switches; true when it is a batch run.
bool ApplyCommandLine(CCommandLineInfoEx& info, CWexoApp& app);
