// The FTP dialog's model: its settings section, the focus rule, OK storing everything but
// the password, and the host field's port.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/FtpDialogModel.h"
#include "platform/Profile.h"
#include "unit/support/ControlTable.h"
#include "unit/support/ScriptedHost.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr const char* kRoot = "http://site.test/";
constexpr const char* kSection = "http://site.test/-Ftp";

TEST(FtpDialogModel, OpensWithDefaultsAndFocusesThePasswordOnceAllElseIsStored) {
  TempIni ini;
  CWexoApp app;
  FtpDialogModel fresh(app, kRoot);
  EXPECT_EQ(fresh.Section(), kSection);
  EXPECT_FALSE(fresh.Load());
  EXPECT_EQ(fresh.m_csFtpDefaultPage, "index.html");
  EXPECT_EQ(fresh.m_bFtpPassive, 0);

  ini.Set(kSection, "Host", "ftp.site.test:2121");
  ini.Set(kSection, "User", "alice");
  ini.Set(kSection, "Dir", "www");
  ini.Set(kSection, "Passive", "1");
  FtpDialogModel stored(app, kRoot);
  EXPECT_TRUE(stored.Load());
  EXPECT_EQ(stored.m_csFtpHost, "ftp.site.test:2121");
  EXPECT_EQ(stored.m_bFtpPassive, 1);
}

TEST(FtpDialogModel, OkStoresEverythingButThePasswordAndKeepsAnEmptyDefaultPage) {
  TempIni ini;
  CWexoApp app;
  FtpDialogModel dialog(app, kRoot);
  dialog.Load();
  dialog.m_csFtpHost = "127.0.0.1:2121";
  dialog.m_csFtpUser = "al ice";
  dialog.m_csFtpPassword = "p%41ss";
  dialog.m_csFtpDir = "/var/www";
  dialog.m_csFtpDefaultPage = "";
  dialog.m_bFtpPassive = 1;
  EXPECT_EQ(dialog.Store(), "");
  FtpDialogModel again(app, kRoot);
  again.Load();
  EXPECT_EQ(again.m_csFtpHost, "127.0.0.1:2121");
  EXPECT_EQ(again.m_csFtpUser, "al ice");
  EXPECT_EQ(again.m_csFtpDir, "/var/www");
  EXPECT_EQ(again.m_csFtpDefaultPage, "") << "the default applies only to a missing key";
  EXPECT_EQ(again.m_bFtpPassive, 1);
  EXPECT_EQ(again.m_csFtpPassword, "");
  EXPECT_EQ(app.GetProfileString(kSection, "Password", "none"), "none");
}

TEST(FtpDialogModel, HostFieldsSplitAtTheirFirstColon) {
  struct Case {
    const char* field;
    const char* host;
    std::uint16_t port;
    bool valid;
  } const cases[] = {
      {"ftp.site.test", "ftp.site.test", 21, true},
      {"127.0.0.1:2121", "127.0.0.1", 2121, true},
      {":2121", "", 21, true},
      {"h:0", "h", 21, false},
      {"h:70000", "h", 21, false},
      {"h:21x", "h", 21, false},
  };
  for (const Case& c : cases) {
    std::string host;
    std::uint16_t port = 0;
    FtpDialogModel::SplitHost(c.field, host, port);
    EXPECT_EQ(host, c.host) << c.field;
    EXPECT_EQ(port, c.port) << c.field;
    EXPECT_EQ(FtpDialogModel::ValidateHost(c.field).empty(), c.valid) << c.field;
  }
  EXPECT_EQ(FtpDialogModel::FolderWithSlash(""), "");
  EXPECT_EQ(FtpDialogModel::FolderWithSlash("www"), "www/");
  EXPECT_EQ(FtpDialogModel::FolderWithSlash("/"), "/");
}

TEST(FtpDialogModel, ARefusedPortKeepsTheDialogOpenAndStoresNothing) {
  TempIni ini;
  ScriptedHost host;
  FtpDialogModel dialog(host.app, kRoot);
  host.ftpDialog = [](FtpDialogModel& m) {
    m.m_csFtpHost = "h:99999";
    return true;
  };
  EXPECT_FALSE(host.FtpDialog(dialog));
  ASSERT_EQ(host.ftpDialogErrors.size(), 1u);
  EXPECT_EQ(host.ftpDialogErrors[0], "Please enter an integer between 1 and 65535.");
  EXPECT_EQ(host.app.GetProfileString(kSection, "Host", "none"), "none");
}

TEST(FtpDialogModel, TheDialogExchangesItsFieldsAndNeverStoresThePassword) {
  TempIni ini;
  CWexoApp app;
  ini.Set(kSection, "Host", "ftp.site.test");
  ini.Set(kSection, "User", "alice");
  ini.Set(kSection, "Dir", "www");
  FtpDialogModel dialog(app, kRoot);
  ControlTable controls;
  dialog.AttachControls(&controls);
  EXPECT_FALSE(dialog.OnInitDialog()) << "the focus is put on the password";
  EXPECT_EQ(controls.focus, "password");
  EXPECT_EQ(controls.At("root").text, kRoot);
  EXPECT_EQ(controls.At("host").text, "ftp.site.test");
  EXPECT_EQ(controls.At("defaultPage").text, "index.html");

  controls.At("host").text = "ftp.site.test:0";
  controls.At("password").text = "secret";
  EXPECT_FALSE(dialog.OnOK());
  EXPECT_EQ(controls.messages, (std::vector<std::string>{"Please enter an integer between 1 and 65535."}));
  EXPECT_EQ(controls.focus, "host");

  controls.At("host").text = "ftp.site.test:2121";
  controls.At("passive").value = 1;
  EXPECT_TRUE(dialog.OnOK());
  EXPECT_EQ(dialog.m_csFtpPassword, "secret");
  EXPECT_EQ(app.GetProfileString(kSection, "Host", ""), "ftp.site.test:2121");
  EXPECT_EQ(app.GetProfileInt(kSection, "Passive", 0), 1);
  EXPECT_EQ(ReadFile(ini.Path()).find("secret"), std::string::npos);
}

}  // namespace
