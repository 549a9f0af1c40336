#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <variant>

#include "algorithms/Regex.h"
#include "engine/SettingPatterns.h"
#include "engine/UrlMap.h"
#include "engine/WexoDoc.h"
#include "unit/support/FakeWorkers.h"
#include "unit/support/ScriptedHost.h"

namespace {

TEST(GetDomain, Keys) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://www.example.com/a/b", "example.com"},
      {"https://example.com/", "example.com"},
      {"http://a.b.example.org", "example.org"},
      {"http://localhost/x", ""},
      {"ftp://ftp.example.com/", ""},
      {"HTTP://www.example.com/", ""},
      {"http://www.example.com:8080/", "example.com:8080"},
      {"http://user@example.com/", "user@example.com"},
      {"mailto:a@b.example.com", ""},
      {"http://", ""},
  };
  for (const auto& [url, key] : cases) EXPECT_EQ(GetDomain(url), key) << url;
}

TEST(UserAgent, BlankRule) {
  EXPECT_EQ(UserAgentFromSetting("Wexo Link Tolvak 1.3.9 beta"), "Wexo Link Tolvak/1.3.9 beta");
  EXPECT_EQ(UserAgentFromSetting("Tolvak 2.0"), "Tolvak 2.0");
  EXPECT_EQ(UserAgentFromSetting("MyBot/1.0"), "MyBot/1.0");
  EXPECT_EQ(UserAgentFromSetting("A Tolvak Tolvak x"), "A Tolvak/Tolvak x");
}

class DocTest : public ::testing::Test {
 protected:
  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
};

TEST_F(DocTest, SettingsDefaultsAndOverrides) {
  {
    CWexoDoc doc{host.Context()};
    EXPECT_EQ(doc.Settings().Threads, 30);
    EXPECT_EQ(doc.Settings().MaxLevel, 9999);
    EXPECT_EQ(doc.Settings().MaxRetry, 1);
    EXPECT_EQ(doc.Settings().CheckExternal, 1);
    EXPECT_EQ(doc.Settings().AskPassword, 1);
    EXPECT_EQ(doc.Settings().CheckDoubleSlash, 1);
    EXPECT_EQ(doc.Settings().UserAgent, "Wexo Link Tolvak/1.3.9 beta");
    EXPECT_EQ(doc.Settings().Accept, "*/*");
    EXPECT_EQ(doc.Settings().IfModifiedSince, "");
  }
  ini.Set("Options", "Threads", "5");
  ini.Set("Options", "MaxLevel", "3");
  ini.Set("Options", "E-Mail", "1");
  ini.Set("Options", "E-Mail-To", "a@b.c");
  ini.Set("Options", "Tolvak", "Tolvak 9");
  ini.Set("Options", "Accept", "text/html");
  CWexoDoc doc{host.Context()};
  EXPECT_EQ(doc.Settings().Threads, 5);
  EXPECT_EQ(doc.Settings().MaxLevel, 3);
  EXPECT_EQ(doc.Settings().EMail, 1);
  EXPECT_EQ(doc.Settings().EMailTo, "a@b.c");
  EXPECT_EQ(doc.Settings().UserAgent, "Tolvak 9");
  EXPECT_EQ(doc.Settings().Accept, "text/html");
}

// Counts that would start no worker, retry a link for ever or cut every fetch off read as the
// nearest value the options pages allow; the time-out has no upper bound. A value that does
// not fit 32 bits wraps first, as a settings file's integers do.
TEST_F(DocTest, OutOfRangeCountsReadAsTheirNearestBound) {
  const struct {
    const char* key;
    const char* value;
    int read;
  } cases[] = {
      {"Threads", "0", 1},       {"Threads", "-5", 1},        {"Threads", "1", 1},          {"Threads", "100", 100},
      {"Threads", "101", 100},   {"Threads", "40000", 100},   {"Threads", "4294967295", 1}, {"MaxRetry", "-1", 0},
      {"MaxRetry", "-32768", 0}, {"MaxRetry", "0", 0},        {"MaxRetry", "10", 10},       {"MaxRetry", "11", 10},
      {"MaxRetry", "70000", 10}, {"timeout", "-1", 1},        {"timeout", "0", 1},          {"timeout", "1", 1},
      {"timeout", "60", 60},     {"timeout", "86400", 86400},
  };
  for (const auto& c : cases) {
    ini.Set("Options", c.key, c.value);
    CWexoDoc doc{host.Context()};
    CWexoApp app;
    const std::string key = c.key;
    const int read = key == "Threads"    ? doc.Settings().Threads
                     : key == "MaxRetry" ? doc.Settings().MaxRetry
                                         : app.FetchTimeout();
    EXPECT_EQ(read, c.read) << c.key << "=" << c.value;
  }
  // The time-out is read once per program run: a later change waits for the next.
  ini.Set("Options", "timeout", "0");
  CWexoApp app;
  EXPECT_EQ(app.FetchTimeout(), 1);
  ini.Set("Options", "timeout", "30");
  EXPECT_EQ(app.FetchTimeout(), 1);
  EXPECT_EQ(CWexoApp().FetchTimeout(), 30);
}

TEST_F(DocTest, EveryKeyOfTheSettingsTableReachesItsMember) {
  const auto fields = CheckSettingFields();
  // A value of its own for each integer key; one within range for a key read within it.
  auto number = [&](std::size_t i) {
    const SettingField& f = fields[i];
    return f.clamped ? f.min + static_cast<int>(i) % (f.max - f.min + 1) : static_cast<int>(100 + i);
  };
  std::set<std::string> keys;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const SettingField& f = fields[i];
    EXPECT_TRUE(keys.insert(f.key).second) << "twice: " << f.key;
    EXPECT_EQ(FindSettingField(f.key), &f);
    if (std::holds_alternative<std::string CheckSettings::*>(f.member)) {
      ini.Set("Options", f.key, (std::string("text of ") + f.key).c_str());
    } else {
      EXPECT_LE(f.min, f.defaultInt) << f.key;
      EXPECT_LE(f.defaultInt, f.max) << f.key;
      ini.Set("Options", f.key, std::to_string(number(i)).c_str());
    }
  }
  EXPECT_EQ(FindSettingField("timeout"), nullptr) << "read once per program, not per document";
  // The session-id patterns are read at each internal link, and not kept in the document file.
  const auto sessionKeys = SessionIdPatternKeys();
  ASSERT_EQ(sessionKeys.size(), 5u);
  EXPECT_STREQ(sessionKeys[0], "SessionIdRegEx");
  for (std::size_t i = 1; i < sessionKeys.size(); ++i)
    EXPECT_EQ(sessionKeys[i], "SessionIdRegEx" + std::to_string(i + 1));
  for (const char* key : sessionKeys) {
    EXPECT_EQ(FindSettingField(key), nullptr) << key;
    ini.Set("Options", key, (std::string("^pattern of ") + key + "$").c_str());
  }
  SettingPatterns sessionIds(sessionKeys);
  const auto patterns = sessionIds.Current();
  ASSERT_EQ(patterns.size(), sessionKeys.size());
  for (std::size_t i = 0; i < sessionKeys.size(); ++i) {
    ASSERT_TRUE(patterns[i]) << sessionKeys[i];
    for (std::size_t j = 0; j < sessionKeys.size(); ++j) {
      const std::string subject = std::string("pattern of ") + sessionKeys[j];
      EXPECT_EQ(patterns[i]->Match(subject), i == j) << sessionKeys[i] << " on " << subject;
    }
  }
  // So is the javascript: rewrite.
  ASSERT_EQ(JavascriptPatternKeys().size(), 1u);
  EXPECT_STREQ(JavascriptPatternKeys()[0], "Javascript");
  EXPECT_EQ(FindSettingField("Javascript"), nullptr);
  CWexoDoc doc{host.Context()};
  const CheckSettings& s = doc.Settings();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const SettingField& f = fields[i];
    SCOPED_TRACE(f.key);
    if (auto m = std::get_if<std::string CheckSettings::*>(&f.member))
      EXPECT_EQ(s.**m, std::string("text of ") + f.key);
    else if (auto m32 = std::get_if<std::int32_t CheckSettings::*>(&f.member))
      EXPECT_EQ(s.**m32, number(i));
    else
      EXPECT_EQ(s.**std::get_if<std::int16_t CheckSettings::*>(&f.member), number(i));
  }
}

// The mail keys through the table: a profile section keeps its own values (its name found
// without regard to case) beside [Options], and keys it lacks give the table's defaults.
TEST_F(DocTest, MailSettingsRoundTripThroughTheTable) {
  std::vector<std::string> keys;
  for (const SettingField& f : MailSettingFields()) {
    keys.push_back(f.key);
    EXPECT_EQ(FindSettingField(f.key), &f);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"E-Mail", "E-MailOnlyIfBroken", "E-Mail-SMTP-Server", "E-Mail-From",
                                            "E-Mail-To", "E-Mail-Subject"}));

  ini.Set("Options", "E-Mail", "1");
  ini.Set("Options", "E-Mail-To", "global@x");
  const MailSettings profile{1, 1, "smtp.p", "Wexo <w@p>", "a@p; \"B, b\" <b@p>", "Links f\xC3\xBCr p"};
  WriteMailSettings(host.app, "http://p/-Options", profile);
  EXPECT_EQ(ReadMailSettings(host.app, "HTTP://P/-Options"), profile);
  MailSettings global;
  global.EMail = 1;
  global.EMailTo = "global@x";
  EXPECT_EQ(ReadMailSettings(host.app, "Options"), global) << "the profile's write leaves [Options] alone";
  EXPECT_EQ(ReadMailSettings(host.app, "http://q/-Options"), MailSettings{}) << "[Options] is no default";
  CWexoDoc doc{host.Context()};
  EXPECT_EQ(static_cast<const MailSettings&>(doc.Settings()), global);

  // Written in the table's order, the flags as numbers; a second write changes values in place.
  WriteMailSettings(host.app, "http://p/-Options", MailSettings{});
  std::ifstream file(ini.Path(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t section = text.find("[http://p/-Options]");
  ASSERT_NE(section, std::string::npos) << text;
  std::size_t at = section;
  for (const char* line :
       {"E-Mail=0", "E-MailOnlyIfBroken=0", "E-Mail-SMTP-Server=", "E-Mail-From=", "E-Mail-To=", "E-Mail-Subject="}) {
    const std::size_t next = text.find(std::string("\n") + line, at);
    ASSERT_NE(next, std::string::npos) << line << " in " << text;
    at = next + 1;
  }
  EXPECT_EQ(text.find("a@p", section), std::string::npos) << text;
}

TEST_F(DocTest, InternalAndExcluded) {
  CWexoDoc doc{host.Context()};
  doc.SetRootUrl("http://www.example.com/docs/");
  doc.SetIncludes({"http://cdn.example.net/"});
  doc.SetExcludes({"http://www.example.com/docs/private/"});
  struct Case {
    const char* url;
    bool domainMatch, excludeMso, internal, excluded;
  };
  const Case cases[] = {
      {"http://www.example.com/docs/a.html", false, false, true, false},
      {"http://www.example.com/docs", false, false, false, false},
      {"http://www.example.com/other/", false, false, false, false},
      {"http://www.example.com/other/", true, false, true, false},
      {"http://shop.example.com/", true, false, true, false},
      {"http://www.example.org/", true, false, false, false},
      {"http://cdn.example.net/x.css", false, false, true, false},
      {"http://img.example.net/x.png", true, false, true, false},
      {"http://img.example.net/x.png", false, false, false, false},
      {"HTTP://www.example.com/docs/a.html", false, false, false, false},
      {"http://www.example.com/docs/private/x", false, false, true, true},
      {"http://www.example.com/docs/x/filelist.xml", false, true, true, true},
      {"http://www.example.com/docs/x/FILELIST.XML", false, true, true, false},
      {"http://www.example.com/docs/x/filelist.xml", false, false, true, false},
      {"http://www.example.com/docs/editdata.mso", false, true, true, true},
      {"http://www.example.com/docs/oledata.mso", false, true, true, true},
  };
  for (const auto& c : cases) {
    ChangeSettings(doc, [&](CheckSettings& s) {
      s.DomainMatch = c.domainMatch;
      s.ExcludeMSO = c.excludeMso;
    });
    EXPECT_EQ(doc.IsInternal(c.url), c.internal) << c.url << " domain " << c.domainMatch;
    EXPECT_EQ(doc.IsExcluded(c.url), c.excluded) << c.url << " mso " << c.excludeMso;
  }
  // Two empty keys are equal: with a dotless root host every other scheme counts as internal.
  doc.SetRootUrl("http://intranet/");
  doc.SetIncludes({});
  ChangeSettings(doc, [](CheckSettings& s) { s.DomainMatch = 1; });
  EXPECT_TRUE(doc.IsInternal("ftp://elsewhere.example.com/"));
  EXPECT_TRUE(doc.IsInternal("http://otherhost/"));
}

TEST_F(DocTest, RecheckBrokenResetsOnlyBrokenIdleRecords) {
  FakeWorkers workers;
  CWexoDoc doc{host.Context(workers.Launcher())};
  view.Attach(doc);
  const CLinkInfo* ok = doc.NewLink("http://h/ok", nullptr, REQUEST_GET);
  doc.SetStatus(ok, 200);
  doc.RecheckBroken();
  EXPECT_EQ(view.schedulePosts, 0) << "nothing broken, nothing posted";

  // Two workers run; one hands over its final 500, which waits for the pump.
  const CLinkInfo* inFlight = doc.NewLink("http://h/running", nullptr, REQUEST_GET);
  doc.NewLink("http://h/slow", nullptr, REQUEST_GET);
  doc.MarkRunning();
  doc.ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 2u);
  ASSERT_EQ(workers.started[0].pLink, inFlight) << "the visible rows go first, top to bottom";
  FakeWorkers::Finish(doc, workers.started[0], 500);
  ASSERT_EQ(inFlight->m_nStatus, 500);
  ASSERT_TRUE(doc.IsActive(inFlight));

  const CLinkInfo* broken = doc.NewLink("http://h/404", nullptr, REQUEST_GET);
  const CLinkInfo* skipped = doc.NewLink("http://x/", nullptr, REQUEST_GET);
  doc.SetStatus(broken, 404, "Not Found");
  doc.UpdateLink(*broken, [](CLinkInfo& r) { r.m_csMimeType = "text/html"; });
  doc.SetStatus(skipped, STATUS_SKIP_EXTERNAL);
  doc.MarkFinished();
  doc.SetPaused(true);
  doc.RecheckBroken();
  EXPECT_EQ(broken->m_nStatus, 0);
  EXPECT_EQ(broken->m_csMimeType, "text/html");
  EXPECT_EQ(inFlight->m_nStatus, 500);
  EXPECT_EQ(skipped->m_nStatus, STATUS_SKIP_EXTERNAL);
  EXPECT_EQ(ok->m_nStatus, 200);
  EXPECT_TRUE(doc.IsRunning());
  EXPECT_FALSE(doc.IsFinished());
  EXPECT_FALSE(doc.IsPaused());
  EXPECT_EQ(view.schedulePosts, 1);
  EXPECT_EQ(doc.GetPendingCount(), 2) << "the record reset and the one whose worker runs";
}

TEST_F(DocTest, ToggleCheckExternal) {
  CWexoDoc doc{host.Context()};
  view.Attach(doc);
  doc.SetRootUrl("http://h/");
  doc.SetExcludes({"http://h/skip/"});
  const CLinkInfo* internal = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  const CLinkInfo* external = doc.NewLink("http://other/", nullptr, REQUEST_HEAD);
  const CLinkInfo* excluded = doc.NewLink("http://h/skip/x", nullptr, REQUEST_GET);
  const CLinkInfo* busy = doc.NewLink("http://busy/", nullptr, REQUEST_HEAD);
  doc.SetStatus(busy, -1);

  doc.ToggleCheckExternal();
  EXPECT_EQ(doc.Settings().CheckExternal, 0);
  EXPECT_EQ(internal->m_nStatus, 0);
  EXPECT_EQ(external->m_nStatus, STATUS_SKIP_EXTERNAL);
  EXPECT_EQ(excluded->m_nStatus, STATUS_SKIP_EXTERNAL);
  EXPECT_EQ(busy->m_nStatus, -1);
  EXPECT_EQ(view.schedulePosts, 0);

  doc.SetStatus(internal, 200);
  doc.SetStatus(busy, 200);
  doc.MarkFinished();
  doc.ToggleCheckExternal();
  EXPECT_EQ(external->m_nStatus, 0);
  EXPECT_EQ(excluded->m_nStatus, 0);
  EXPECT_TRUE(doc.IsRunning());
  EXPECT_FALSE(doc.IsFinished());
  EXPECT_EQ(view.schedulePosts, 1);
}

TEST_F(DocTest, ShowBrokenOnlyIsWrittenBack) {
  CWexoDoc doc{host.Context()};
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(doc.Settings().ShowBrokenOnly, 1);
  EXPECT_EQ(CWexoDoc(host.Context()).Settings().ShowBrokenOnly, 1);
  doc.ToggleShowBrokenOnly();
  EXPECT_EQ(CWexoDoc(host.Context()).Settings().ShowBrokenOnly, 0);
}

TEST_F(DocTest, CloseGuardListsRunningWorkers) {
  FakeWorkers workers;
  CWexoDoc doc{host.Context(workers.Launcher())};
  view.Attach(doc);
  EXPECT_TRUE(doc.CanCloseFrame());
  EXPECT_EQ(view.closings, 1);

  for (const char* url : {"http://h/a", "http://h/b", "http://h/c"}) doc.NewLink(url, nullptr, REQUEST_GET);
  doc.MarkRunning();
  doc.ScheduleFetches();
  ASSERT_EQ(workers.started.size(), 3u);
  const std::shared_ptr<CWorkerThread> c = workers.started[2].thread;
  ASSERT_EQ(doc.GetLink(2)->m_hThread, c) << "the record shares its worker's state";
  c->SetExitCode(0);
  EXPECT_FALSE(doc.CanCloseFrame());
  EXPECT_FALSE(doc.OnFileClose());
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0],
            "Wait until all active threads have terminated before closing (press PAUSE and STOP if needed).\n"
            "Active threads: \n\nhttp://h/a\nhttp://h/b\nhttp://h/c\t\t(Thread Status: 0)\n");
  // An ended thread shows its exit code in hexadecimal.
  c->SetExitCode(0x1F);
  EXPECT_FALSE(doc.CanCloseFrame());
  EXPECT_NE(host.boxes.back().find("http://h/c\t\t(Thread Status: 1f)\n"), std::string::npos) << host.boxes.back();
  EXPECT_EQ(view.closings, 1);
}

// Closing the document: the list stores what it keeps before the framework closes it.
TEST_F(DocTest, OnCloseDocumentTellsTheList) {
  CWexoDoc doc{host.Context()};
  view.Attach(doc);
  doc.OnCloseDocument();
  EXPECT_EQ(view.closings, 1);
}

TEST_F(DocTest, CloseAllHandlesTakesEachHandleOnce) {
  CWexoDoc doc{host.Context()};
  const CLinkInfo* a = doc.NewLink("http://h/a", nullptr, REQUEST_GET);
  const CLinkInfo* b = doc.NewLink("http://h/b", nullptr, REQUEST_GET);
  doc.UpdateLink(*a, [](CLinkInfo& r) { r.m_hInternet = 0xdead0001; });  // not a live session: passed over
  doc.CloseAllHandles();
  EXPECT_EQ(a->m_hInternet, 0u);
  EXPECT_EQ(b->m_hInternet, 0u);
  doc.UpdateLink(*a, [](CLinkInfo& r) { EXPECT_EQ(r.TakeInternetHandle(), 0u); });
}

TEST(UrlMap, FindSetDuplicatesAndGrowth) {
  std::vector<std::string> urls;
  UrlMap map(urls, 4);
  for (int i = 0; i < 5000; ++i) {
    urls.push_back("http://h/" + std::to_string(i));
    map.Set(static_cast<std::uint32_t>(i));
  }
  EXPECT_EQ(map.Size(), 5000u);
  for (int i = 0; i < 5000; i += 97)
    EXPECT_EQ(map.Find("http://h/" + std::to_string(i)), static_cast<std::uint32_t>(i));
  EXPECT_EQ(map.Find("http://h/5000"), UrlMap::kNone);
  EXPECT_EQ(map.Find(""), UrlMap::kNone);
  // A second record with the same URL takes the entry over.
  urls.push_back("http://h/7");
  map.Set(5000);
  EXPECT_EQ(map.Find("http://h/7"), 5000u);
  EXPECT_EQ(map.Size(), 5000u);
  map.Clear();
  EXPECT_EQ(map.Find("http://h/1"), UrlMap::kNone);
}

}  // namespace
