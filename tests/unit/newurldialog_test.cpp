// The starting-point dialog's model over a table of controls, and the dialog road of a new
// document through the host.
#include <gtest/gtest.h>

#include "engine/Application.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "ui/EMailDialog.h"
#include "ui/NewUrlDialog.h"
#include "unit/support/ControlTable.h"
#include "unit/support/ScriptedHost.h"

namespace {

class NewUrlDialogTest : public ::testing::Test {
 protected:
  NewUrlDialogTest() { doc = std::make_unique<CWexoDoc>(host.Context()); }

  // A fresh dialog over a fresh control table, opened.
  CNewUrlDialog2& Open() {
    controls = ControlTable();
    dialog = std::make_unique<CNewUrlDialog2>(*doc, recent);
    dialog->AttachControls(&controls);
    dialog->OnInitDialog();
    return *dialog;
  }
  void Type(const std::string& url) {
    controls.At("Url").text = url;
    dialog->OnEditchangeUrl();
  }
  std::string Ini(const std::string& section, const char* key) {
    return host.app.GetProfileString(section.c_str(), key, "");
  }
  void SetList(const std::string& section, int count, const char* stem) {
    for (int n = 1; n <= count; ++n) {
      ini.Set(section.c_str(), ("String" + std::to_string(n)).c_str(), (stem + std::to_string(n)).c_str());
      ini.Set(section.c_str(), ("Enable" + std::to_string(n)).c_str(), "1");
    }
  }
  // The include lines that a URL's profile loads in a new dialog.
  std::vector<std::string> ReadBack(const std::string& url) {
    CNewUrlDialog2& d = Open();
    d.LoadUrlProfile(url);
    return d.IncludeLines();
  }

  TempIni ini;
  ScriptedHost host;
  std::unique_ptr<CWexoDoc> doc;
  std::vector<std::string> recent;
  ControlTable controls;
  std::unique_ptr<CNewUrlDialog2> dialog;
};

TEST_F(NewUrlDialogTest, OpeningFillsTheBoxesFromTheSettings) {
  ini.Set("Options", "CheckExternal", "0");
  ini.Set("Options", "MaxLevel", "40000");
  ini.Set("Options", "E-Mail-To", "a@b.c");
  ini.Set("Include", "String1", "http://a/");
  ini.Set("Include", "Enable1", "1");
  ini.Set("Include", "String2", "http://b/");  // no Enable2: inactive
  ini.Set("Include", "String4", "http://d/");  // after an empty String3: never read
  recent = {"http://r1/", "http://r2/"};
  CNewUrlDialog2& d = Open();
  EXPECT_EQ(controls.At("CheckExternal").value, 0);
  EXPECT_EQ(controls.At("Url").items, recent);
  EXPECT_EQ(controls.At("Url").text, "");
  EXPECT_EQ(controls.focus, "Url");
  EXPECT_FALSE(controls.At("PostQuery").shown);
  EXPECT_FALSE(controls.At("PostQueryLabel").shown);
  EXPECT_EQ(d.IncludeLines(), (std::vector<std::string>{" \thttp://a/", "!\thttp://b/"}));
  EXPECT_EQ(controls.At("IncludeList").items, d.IncludeLines());
  EXPECT_TRUE(d.ExcludeLines().empty());
  for (const char* name : {"IncludeDelete", "IncludeInactive", "ExcludeDelete", "ExcludeInactive"})
    EXPECT_FALSE(controls.At(name).enabled) << name;
  EXPECT_EQ(doc->Settings().MaxLevel, 32767) << "a depth too big for 16 bits is the largest that fits";
  EXPECT_FALSE(doc->IsModified()) << "the dialog's depth is no change the document file keeps";
  EXPECT_EQ(d.m_mail.EMailTo, "a@b.c");
}

TEST_F(NewUrlDialogTest, OkCompletesTheUrlAndKeepsTheRecentList) {
  for (int i = 0; i < 120; ++i) recent.push_back("http://s/" + std::to_string(i));
  recent[5] = "http://example.com/x";
  CNewUrlDialog2& d = Open();
  // Refused while empty.
  EXPECT_FALSE(d.OnOK());
  EXPECT_EQ(controls.messages, (std::vector<std::string>{"Please input an URL"}));
  EXPECT_EQ(controls.focus, "Url");
  // Typed text is kept as typed, though a recent URL begins with it.
  Type("example.com/");
  controls.At("IncludeEdit").text = "http://example.com/x/";
  d.OnAddInclude();  // writes the fields back
  EXPECT_EQ(controls.At("Url").text, "example.com/");
  ASSERT_TRUE(d.OnOK());
  EXPECT_EQ(d.m_csStartUrl, "http://example.com/");
  EXPECT_EQ(controls.At("Url").text, "http://example.com/");
  EXPECT_EQ(recent.size(), 121u) << "the list in memory is not shortened";
  EXPECT_EQ(recent[0], "http://example.com/");
  EXPECT_EQ(Ini("Recent URL List", "URL0"), "http://example.com/");
  EXPECT_EQ(Ini("Recent URL List", "URL99"), recent[99]);
  EXPECT_EQ(Ini("Recent URL List", "URL100"), "") << "at most 100 are written";
  EXPECT_EQ(host.app.GetProfileInt("http://example.com/-Options", "Profile", 0), 1);

  // Choosing a recent URL moves it to the front, once.
  Open();
  controls.At("Url").value = 6;
  controls.At("Url").text = recent[6];
  dialog->OnSelchangeUrl();
  ASSERT_TRUE(dialog->OnOK());
  EXPECT_EQ(recent[0], "http://example.com/x");
  EXPECT_EQ(std::count(recent.begin(), recent.end(), "http://example.com/x"), 1);
  EXPECT_EQ(recent.size(), 121u);

  // The seven known beginnings are kept as they are.
  for (const char* url : {"http://h/", "https://h/", "ftp://h/", "file:///x", "mailto:a@b", "gopher://h/", "news:x"}) {
    Open();
    controls.At("Url").text = url;
    ASSERT_TRUE(dialog->OnOK());
    EXPECT_EQ(dialog->m_csStartUrl, url);
  }
}

TEST_F(NewUrlDialogTest, ListsAddToggleDeleteAndSave) {
  ini.Set("Options", "MakeLowerCase", "1");
  CNewUrlDialog2& d = Open();
  d.OnAddExclude();
  EXPECT_EQ(controls.messages.back(), "Please input an URL");
  EXPECT_EQ(controls.focus, "ExcludeEdit");
  for (const char* text : {"HTTP://H/Private/", "http://h/old/"}) {
    controls.At("ExcludeEdit").text = text;
    d.OnAddExclude();
  }
  std::string canonical = "HTTP://H/Private/";
  CanonicalizeUrl(canonical, true, 0);
  EXPECT_EQ(d.ExcludeLines(), (std::vector<std::string>{" \t" + canonical, " \thttp://h/old/"}));
  EXPECT_EQ(controls.At("ExcludeList").value, 1) << "the new line is selected";
  EXPECT_EQ(controls.At("ExcludeEdit").text, "");
  EXPECT_TRUE(controls.At("ExcludeInactive").enabled);
  EXPECT_EQ(d.m_bListsModified, 1);

  controls.At("ExcludeList").value = 1;
  d.OnSelchangeExclude();
  controls.At("ExcludeInactive").value = 1;
  d.OnInactiveExclude();
  EXPECT_EQ(d.ExcludeLines()[1], "!\thttp://h/old/");
  EXPECT_EQ(controls.At("ExcludeList").value, 1);
  controls.At("ExcludeList").value = 0;
  d.OnSelchangeExclude();
  EXPECT_EQ(controls.At("ExcludeInactive").value, 0);
  d.OnDeleteExclude();
  EXPECT_EQ(d.ExcludeLines(), (std::vector<std::string>{"!\thttp://h/old/"}));
  EXPECT_FALSE(controls.At("ExcludeDelete").enabled);
  controls.At("ExcludeEdit").text = "http://h/new/";
  d.OnAddExclude();

  controls.At("Url").text = "http://h/";
  ASSERT_TRUE(d.OnOK());
  EXPECT_EQ(d.m_aExclude, (std::vector<std::string>{"http://h/new/"})) << "inactive entries stay here";
  for (const std::string section : {"Exclude", "http://h/-Exclude"}) {
    EXPECT_EQ(Ini(section, "String1"), "http://h/old/");
    EXPECT_EQ(Ini(section, "Enable1"), "0");
    EXPECT_EQ(Ini(section, "String2"), "http://h/new/");
    EXPECT_EQ(Ini(section, "Enable2"), "1");
  }
}

TEST_F(NewUrlDialogTest, SavingFewerEntriesLeavesNoOldOnes) {
  // Five loaded, two saved: the other three are gone from both sections.
  SetList("Include", 5, "http://g/");
  // The URL's own section had five while the global list was what the dialog loaded.
  SetList("http://five/-Include", 5, "http://u/");
  CNewUrlDialog2& d = Open();
  for (int i = 0; i < 3; ++i) {
    controls.At("IncludeList").value = 0;
    d.OnDeleteInclude();
  }
  controls.At("Url").text = "http://five/";
  ASSERT_TRUE(d.OnOK());
  const std::vector<std::string> two = {" \thttp://g/4", " \thttp://g/5"};
  EXPECT_EQ(ReadBack("http://five/"), two);
  EXPECT_EQ(Open().IncludeLines(), two);
}

TEST_F(NewUrlDialogTest, StoredProfileIsOfferedWhileTyping) {
  const std::string url = "http://p/";
  ini.Set("HTTP://P/-Options", "Profile", "1");  // section names match without regard to case
  ini.Set((url + "-Options").c_str(), "CheckExternal", "0");
  ini.Set((url + "-Options").c_str(), "MaxLevel", "40000");
  ini.Set((url + "-Options").c_str(), "E-Mail", "1");
  ini.Set((url + "-Options").c_str(), "E-Mail-SMTP-Server", "smtp.p");
  SetList(url + "-Include", 2, "http://p/in");
  ini.Set((url + "-Exclude").c_str(), "String1", "http://p/ex");
  ini.Set("Options", "E-Mail-To", "global@x");

  CNewUrlDialog2& d = Open();
  controls.At("IncludeEdit").text = "http://mine/";
  d.OnAddInclude();
  Type("http://p");
  EXPECT_TRUE(host.boxes.empty()) << "no profile for that text";
  host.answers = {BoxAnswer::No};
  Type("http://p/");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0],
            "You have entered an URL for which Wexo has remember the settings from a previous session. Do you want "
            "to load these settings, thus losing the changes you just made ?");
  EXPECT_EQ(d.IncludeLines(), (std::vector<std::string>{" \thttp://mine/"})) << "No keeps the changes";
  host.answers = {BoxAnswer::Yes};
  Type("http://p/");
  EXPECT_EQ(host.boxes.size(), 2u) << "asked again at the next matching keystroke";
  EXPECT_EQ(d.IncludeLines(), (std::vector<std::string>{" \thttp://p/in1", " \thttp://p/in2"}));
  EXPECT_EQ(d.ExcludeLines(), (std::vector<std::string>{"!\thttp://p/ex"}));
  EXPECT_EQ(controls.At("CheckExternal").value, 0);
  EXPECT_EQ(controls.At("Url").text, "http://p/") << "the box keeps what was typed";
  EXPECT_EQ(doc->Settings().MaxLevel, 32767);
  EXPECT_EQ(d.m_mail.EMail, 1);
  EXPECT_EQ(d.m_mail.EMailSmtpServer, "smtp.p");
  EXPECT_EQ(d.m_mail.EMailTo, "") << "the global settings are no defaults here";
  EXPECT_EQ(d.m_bListsModified, 0);
  Type("http://p/");
  EXPECT_EQ(host.boxes.size(), 2u) << "nothing changed since: loaded without a question";
}

TEST_F(NewUrlDialogTest, PostLocalFileAndMail) {
  CNewUrlDialog2& d = Open();
  controls.At("Post").value = 1;
  d.OnPostClicked();
  EXPECT_TRUE(controls.At("PostQuery").shown);
  EXPECT_TRUE(controls.At("PostQueryLabel").shown);
  EXPECT_EQ(controls.focus, "PostQuery");

  // Local file: a UTF-8 path gives its file URL; the folder is the next start.
  ini.Set("Options", "BrowseDir", "/start");
  d.OnLocalFile();
  EXPECT_EQ(host.dialogTitles.back(), "Open HTML file");
  EXPECT_EQ(d.m_csStartUrl, "") << "cancelled";
  host.openPaths = {"/home/u/s\xC3\xAEte/index.html"};
  d.OnLocalFile();
  EXPECT_EQ(d.m_csStartUrl, "file:///home/u/s\xC3\xAEte/index.html");
  EXPECT_EQ(controls.At("Url").text, d.m_csStartUrl);
  EXPECT_EQ(controls.focus, "OK");
  EXPECT_EQ(Ini("Options", "BrowseDir"), "/home/u/s\xC3\xAEte");

  // E-mail: the dialog edits copies; only OK takes them.
  CEMailDlg* shown = nullptr;
  bool accept = false;
  d.m_runEMailDialog = [&](CEMailDlg& mail) {
    shown = &mail;
    mail.m_mail.EMailTo = "to@x";
    mail.m_mail.EMail = 1;
    return accept;
  };
  d.OnEmail();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(d.m_mail.EMailTo, "");
  EXPECT_EQ(d.m_bListsModified, 0);
  accept = true;
  d.OnEmail();
  EXPECT_EQ(d.m_mail.EMailTo, "to@x");
  EXPECT_EQ(d.m_mail.EMail, 1);
  EXPECT_EQ(d.m_bListsModified, 1);
  controls.At("Url").text = "";
  shown = nullptr;
  d.OnEmail();
  EXPECT_EQ(shown, nullptr);
  EXPECT_EQ(controls.messages.back(), "Please enter an URL first!");
  EXPECT_EQ(controls.focus, "Url");
}

// The e-mail dialog's values at OK go to [Options] and to the URL's profile; the profile gives
// them back to a later dialog and to a command-line check of that URL.
TEST_F(NewUrlDialogTest, MailSettingsReachTheProfileAndComeBack) {
  ini.Set("Options", "E-Mail-Subject", "old");
  const MailSettings mail{1, 1, "smtp.m", "Wexo <w@m>", "a@m; b@m", "Links"};
  CNewUrlDialog2& d = Open();
  d.m_runEMailDialog = [&](CEMailDlg& dialog) {
    EXPECT_EQ(dialog.m_mail.EMailSubject, "old");
    dialog.m_mail = mail;
    return true;
  };
  controls.At("Url").text = "m.example/";
  d.OnEmail();
  ASSERT_TRUE(d.OnOK());
  EXPECT_EQ(d.Values().mail, mail);
  for (const std::string section : {"Options", "http://m.example/-Options"}) {
    SCOPED_TRACE(section);
    EXPECT_EQ(Ini(section, "E-Mail"), "1");
    EXPECT_EQ(Ini(section, "E-MailOnlyIfBroken"), "1");
    EXPECT_EQ(Ini(section, "E-Mail-SMTP-Server"), "smtp.m");
    EXPECT_EQ(Ini(section, "E-Mail-From"), "Wexo <w@m>");
    EXPECT_EQ(Ini(section, "E-Mail-To"), "a@m; b@m");
    EXPECT_EQ(Ini(section, "E-Mail-Subject"), "Links");
  }

  ini.Set("Options", "E-Mail-To", "other@x");
  Open();
  EXPECT_EQ(dialog->m_mail.EMailTo, "other@x");
  dialog->LoadUrlProfile("http://m.example/");
  EXPECT_EQ(dialog->m_mail, mail);

  host.app.m_csUrl = "http://m.example/";
  CWexoDoc batch(host.Context());
  ScriptedView view;
  view.Attach(batch);
  ASSERT_TRUE(batch.OnNewDocument(CheckStart::CommandLine));
  EXPECT_EQ(static_cast<const MailSettings&>(batch.Settings()), mail);
}

TEST_F(NewUrlDialogTest, DialogRoadOfANewDocument) {
  ScriptedView view;
  view.Attach(*doc);
  // No dialog (the headless host's case): no document.
  EXPECT_FALSE(doc->OnNewDocument(CheckStart::StartingPointDialog));
  EXPECT_EQ(doc->GetLinkCount(), 0u);

  ini.Set("Include", "String1", "http://in/");
  ini.Set("Include", "Enable1", "1");
  ini.Set("Include", "String2", "http://off/");
  bool ok = false;
  host.startingPoint = [&](CWexoDoc& d, StartingPoint& values) {
    CNewUrlDialog2 model(d, recent);
    ControlTable table;
    model.AttachControls(&table);
    model.OnInitDialog();
    table.At("Url").text = "site.example/form.cgi";
    table.At("Post").value = 1;
    table.At("PostQuery").text = "a=1&b=2";
    table.At("CheckExternal").value = 0;
    if (!ok || !model.OnOK()) return false;
    values = model.Values();
    return true;
  };
  EXPECT_FALSE(doc->OnNewDocument(CheckStart::StartingPointDialog)) << "Cancel";
  EXPECT_EQ(doc->GetLinkCount(), 0u);
  EXPECT_EQ(Ini("Recent URL List", "URL0"), "") << "Cancel writes nothing";

  ok = true;
  ASSERT_TRUE(doc->OnNewDocument(CheckStart::StartingPointDialog));
  ASSERT_EQ(doc->GetLinkCount(), 1u);
  EXPECT_EQ(doc->GetUrl(0), "http://site.example/form.cgi");
  EXPECT_EQ(doc->GetLink(0)->m_wRequestKind, REQUEST_POST);
  EXPECT_EQ(doc->GetLink(0)->m_csPostData, "a=1&b=2");
  EXPECT_EQ(doc->GetRootUrl(), "http://site.example/");
  EXPECT_EQ(doc->GetIncludes(), (std::vector<std::string>{"http://in/"}));
  EXPECT_EQ(doc->Settings().CheckExternal, 0);
  EXPECT_FALSE(doc->IsBatch());
  EXPECT_TRUE(doc->IsRunning());
  EXPECT_EQ(view.schedulePosts, 1);
  EXPECT_EQ(host.app.GetProfileInt("http://site.example/form.cgi-Options", "Profile", 0), 1);
}

}  // namespace
