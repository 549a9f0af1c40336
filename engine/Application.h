// The application values the engine reads: the command-line switches, fixed at start-up, and
// the profile operations that reach the settings file. main() owns the one object and hands it
// to each document through its engine context. How a new document starts is not kept here:
// its creator passes it (CWexoDoc::OnNewDocument).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CWexoApp {
 public:
  virtual ~CWexoApp() = default;

  // The program's settings file (platform::SettingsFile()).
  int GetProfileInt(const char* section, const char* entry, int def) const;
  bool WriteProfileInt(const char* section, const char* entry, int value) const;
  std::string GetProfileString(const char* section, const char* entry, const char* def = "") const;
  bool WriteProfileString(const char* section, const char* entry, const char* value) const;
  // Binary values (window placements) in state.ini beside the settings file, hex-encoded.
  // Get: false when the value is missing or is no even run of hexadecimal digits.
  bool GetProfileBinary(const char* section, const char* entry, std::vector<std::uint8_t>& data) const;
  bool WriteProfileBinary(const char* section, const char* entry, const std::uint8_t* data, std::size_t size) const;

  // The [Options] timeout in seconds, read once per program run by the first pump pass; at
  // least 1.
  int FetchTimeout();

  // While a long pass of a report pumps events, no document parses a result or starts a
  // worker, and commands that would change a table or end the program are refused.
  bool InLongPass() const { return m_nLongPasses > 0; }

  std::string m_csUrl;
  std::string m_csExport;
  std::string m_csMap;
  std::string m_csReport;
  std::string m_csSave;
  std::string m_csGoogle;
  std::string m_csLanguage;
  std::string m_csPost;
  int m_bRetryBroken = 0;
  std::uint8_t m_bBatch = 0;
  int m_nLevel = 9999;

 private:
  friend class CLongPass;
  int m_nTimeout = -1;
  int m_nLongPasses = 0;
};

// Marks a long pass for as long as it lives (passes may nest).
class CLongPass {
 public:
  explicit CLongPass(CWexoApp& app) : m_app(app) { ++m_app.m_nLongPasses; }
  ~CLongPass() { --m_app.m_nLongPasses; }
  CLongPass(const CLongPass&) = delete;
  CLongPass& operator=(const CLongPass&) = delete;

 private:
  CWexoApp& m_app;
};
