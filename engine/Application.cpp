#include "engine/Application.h"

#include <cstdio>

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

int CWexoApp::FetchTimeout() {
  if (m_nTimeout < 0) m_nTimeout = GetProfileInt("Options", "timeout", 60);
  return m_nTimeout;
}
