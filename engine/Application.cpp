#include "engine/Application.h"

#include <algorithm>
#include <cstdio>

#include "platform/AsciiText.h"
#include "platform/Profile.h"

int CWexoApp::GetProfileInt(const char* section, const char* entry, int def) const {
  return platform::GetPrivateProfileInt(section, entry, def, platform::SettingsFile());
}

bool CWexoApp::WriteProfileInt(const char* section, const char* entry, int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return platform::WritePrivateProfileString(section, entry, text, platform::SettingsFile());
}

std::string CWexoApp::GetProfileString(const char* section, const char* entry, const char* def) const {
  return platform::GetPrivateProfileString(section, entry, def ? def : "", platform::SettingsFile());
}

bool CWexoApp::WriteProfileString(const char* section, const char* entry, const char* value) const {
  return platform::WritePrivateProfileString(section, entry, value, platform::SettingsFile());
}

bool CWexoApp::GetProfileBinary(const char* section, const char* entry, std::vector<std::uint8_t>& data) const {
  data.clear();
  const std::string text =
      platform::GetPrivateProfileString(section, entry, "", platform::StateIniPath(platform::SettingsFile()));
  if (text.empty() || text.size() % 2 != 0) return false;
  data.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = platform::AsciiHexValue(text[i]);
    const int low = platform::AsciiHexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      data.clear();
      return false;
    }
    data.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

bool CWexoApp::WriteProfileBinary(const char* section, const char* entry, const std::uint8_t* data,
                                  std::size_t size) const {
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += platform::AsciiHexDigit(data[i] >> 4);
    text += platform::AsciiHexDigit(data[i]);
  }
  return platform::WritePrivateProfileString(section, entry, text.c_str(),
                                             platform::StateIniPath(platform::SettingsFile()));
}

int CWexoApp::FetchTimeout() {
  // Below a second, every running fetch would be cut off at the next pass.
  if (m_nTimeout < 0) m_nTimeout = std::max(GetProfileInt("Options", "timeout", 60), 1);
  return m_nTimeout;
}
