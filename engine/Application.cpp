#include "engine/Application.h"

#include <cstdio>

#include "platform/Profile.h"

CWexoApp::CWexoApp() : m_csIniFile(platform::DefaultIniPath()) {}

int CWexoApp::GetProfileInt(const char* section, const char* entry, int def) const {
  return platform::GetPrivateProfileInt(section, entry, def, m_csIniFile);
}

bool CWexoApp::WriteProfileInt(const char* section, const char* entry, int value) const {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return platform::WritePrivateProfileString(section, entry, text, m_csIniFile);
}

std::string CWexoApp::GetProfileString(const char* section, const char* entry, const char* def) const {
  return platform::GetPrivateProfileString(section, entry, def ? def : "", m_csIniFile);
}

bool CWexoApp::WriteProfileString(const char* section, const char* entry, const char* value) const {
  return platform::WritePrivateProfileString(section, entry, value, m_csIniFile);
}

CWexoApp& WexoApp() {
  static CWexoApp app;
  return app;
}
