// Window placements: the 44-byte structure, its round trip through state.ini beside the
// settings file, and what a saved placement is restored as.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/Application.h"
#include "platform/Profile.h"
#include "platform/WindowPlacement.h"
#include "unit/support/ScriptedHost.h"

namespace {

using namespace platform;

WINDOWPLACEMENT Sample() {
  WINDOWPLACEMENT p;
  p.showCmd = SW_SHOWNORMAL;
  p.rcNormalPosition = WindowRect{-20, 30, 620, 410};
  return p;
}

TEST(WindowPlacement, IsLaidOutAsTheWindowsStructure) {
  const auto bytes = PlacementBytes(Sample());
  ASSERT_EQ(bytes.size(), 44u);
  EXPECT_EQ(bytes[0], 44);  // length, little-endian
  EXPECT_EQ(bytes[8], 1);   // show command
  EXPECT_EQ(bytes[12], 0xFF) << "minimised position -1";
  EXPECT_EQ(bytes[28], 0xEC) << "left -20";
  EXPECT_EQ(bytes[31], 0xFF);
  EXPECT_EQ(bytes[32], 30);
  EXPECT_EQ(bytes[36], 620 & 0xFF);
  EXPECT_EQ(bytes[37], 620 >> 8);
}

TEST(WindowPlacement, RoundTripsThroughStateIniBesideTheSettings) {
  TempIni ini;
  CWexoApp app;
  const auto bytes = PlacementBytes(Sample());
  ASSERT_TRUE(app.WriteProfileBinary("URL properties", "WindowPlacement", bytes.data(), bytes.size()));

  std::ifstream in(StateIniPath(ini.Path()));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("[URL properties]"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("WindowPlacement=2C00000000000000010000"), std::string::npos) << text.str();
  EXPECT_EQ(app.GetProfileString("URL properties", "WindowPlacement", "none"), "none") << "not in the INI itself";

  std::vector<std::uint8_t> back;
  ASSERT_TRUE(app.GetProfileBinary("URL properties", "WindowPlacement", back));
  WINDOWPLACEMENT p;
  ASSERT_TRUE(PlacementFromBytes(back, p));
  EXPECT_EQ(p, Sample());
}

TEST(WindowPlacement, MissingOddOrWronglySizedValuesAreIgnored) {
  TempIni ini;
  CWexoApp app;
  std::vector<std::uint8_t> back;
  EXPECT_FALSE(app.GetProfileBinary("S", "WindowPlacement", back));
  for (const char* text : {"2C0", "2C00zz", ""}) {
    WritePrivateProfileString("S", "WindowPlacement", text, StateIniPath(ini.Path()));
    EXPECT_FALSE(app.GetProfileBinary("S", "WindowPlacement", back)) << text;
    EXPECT_TRUE(back.empty());
  }
  const std::uint8_t short43[43] = {44};
  app.WriteProfileBinary("S", "WindowPlacement", short43, sizeof short43);
  ASSERT_TRUE(app.GetProfileBinary("S", "WindowPlacement", back));
  WINDOWPLACEMENT p;
  EXPECT_FALSE(PlacementFromBytes(back, p));
}

TEST(WindowPlacement, IsRestoredShownNormallyAndOntoADisplayThatExists) {
  const std::vector<WindowRect> displays = {{0, 0, 1024, 768}, {1024, 0, 2048, 768}};
  struct Case {
    const char* what;
    std::uint32_t showCmd;
    WindowRect rect;
    std::uint32_t wantShow;
    WindowRect wantRect;
  } const cases[] = {
      {"on the first display", SW_SHOWNORMAL, {100, 100, 700, 500}, SW_SHOWNORMAL, {100, 100, 700, 500}},
      {"on the second display", SW_SHOWNORMAL, {1200, 50, 1800, 450}, SW_SHOWNORMAL, {1200, 50, 1800, 450}},
      {"minimised", SW_SHOWMINIMIZED, {100, 100, 700, 500}, SW_SHOWNORMAL, {100, 100, 700, 500}},
      {"minimised, not active", SW_SHOWMINNOACTIVE, {100, 100, 700, 500}, SW_SHOWNORMAL, {100, 100, 700, 500}},
      {"hidden", SW_HIDE, {100, 100, 700, 500}, SW_SHOWNORMAL, {100, 100, 700, 500}},
      {"maximised", SW_SHOWMAXIMIZED, {100, 100, 700, 500}, SW_SHOWMAXIMIZED, {100, 100, 700, 500}},
      {"on a display unplugged since", SW_SHOWNORMAL, {3000, 100, 3600, 500}, SW_SHOWNORMAL, {0, 0, 600, 400}},
      {"only its corner on screen", SW_SHOWNORMAL, {1020, 760, 1620, 1160}, SW_SHOWNORMAL, {0, 0, 600, 400}},
      {"larger than the display", SW_SHOWNORMAL, {-5000, 0, -1000, 3000}, SW_SHOWNORMAL, {0, 0, 1024, 768}},
  };
  for (const Case& c : cases) {
    WINDOWPLACEMENT saved;
    saved.showCmd = c.showCmd;
    saved.rcNormalPosition = c.rect;
    const WINDOWPLACEMENT p = PlacementForRestore(saved, displays);
    EXPECT_EQ(p.showCmd, c.wantShow) << c.what;
    EXPECT_EQ(p.rcNormalPosition, c.wantRect) << c.what;
  }
}

}  // namespace
