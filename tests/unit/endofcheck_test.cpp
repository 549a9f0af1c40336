// The end of a check: the .jar records never found, the batch outputs, the mail, the quit with
// its exit code, or the interactive end with the report question.
#include <gtest/gtest.h>

#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "unit/support/FakeOutputs.h"
#include "unit/support/ScriptedHost.h"

namespace {

class EndOfCheckTest : public ::testing::Test {
 protected:
  // A running check whose end goes to outputs (nullptr: it has none).
  std::unique_ptr<CWexoDoc> NewDoc(ICheckOutputs* outputs) {
    EngineContext context = host.Context();
    context.outputs = outputs;
    auto doc = std::make_unique<CWexoDoc>(context);
    view.Attach(*doc);
    doc->Continue();
    return doc;
  }

  // The output switches of the command line: the names of those given.
  void GiveOutputs(const std::string& given) {
    const auto named = [&](const char* name, const char* path) {
      return given.find(name) != std::string::npos ? path : "";
    };
    host.app.m_csExport = named("export", "all.txt");
    host.app.m_csMap = named("map", "map.txt");
    host.app.m_csReport = named("report", "report.html");
    host.app.m_csSave = named("save", "check.wxo");
    host.app.m_csGoogle = named("google", "sitemap.xml");
  }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
};

const std::vector<std::string> kQuestion{"Link tolvak finished. Do you want a report?"};

// Each output's and the mail's result decides the exit code, with the quit or, after a failed
// mail, for whenever the program ends (the report question then follows).
TEST_F(EndOfCheckTest, ExitCodeFollowsTheOutputsResults) {
  const struct {
    const char* name;
    bool batch;
    const char* outputs;  // the switches given
    int eMail;
    int onlyIfBroken;
    std::int16_t status;  // of the one record
    const char* failing;
    const char* calls;
    std::vector<int> quit;
    std::vector<int> raised;
  } cases[] = {
      {"all written", true, "export map report save google", 0, 0, 200, "", "export map report save google", {0}, {}},
      {"a failed output, the others still written",
       true,
       "export map report save google",
       0,
       0,
       200,
       "map",
       "export map report save google",
       {1},
       {}},
      {"the last output failed", true, "export google", 0, 0, 200, "google", "export google", {1}, {}},
      {"no output: the question", true, "", 0, 0, 200, "", "", {}, {}},
      {"mailed", true, "", 1, 0, 404, "", "mail", {0}, {}},
      {"mailed, an output failed", true, "export", 1, 0, 404, "export", "export mail", {1}, {}},
      {"mail failed: the question", true, "report", 1, 0, 404, "mail", "report mail", {}, {1}},
      {"nothing broken: no mail", true, "save", 1, 1, 200, "save", "save", {1}, {}},
      {"broken, mail failed", true, "", 1, 1, 404, "mail", "mail", {}, {1}},
      {"not a batch run: no output", false, "export", 0, 0, 200, "", "", {}, {}},
      {"not a batch run, mailed: no output", false, "export", 1, 0, 404, "", "mail", {0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeOutputs outputs;
    outputs.failing = c.failing;
    GiveOutputs(c.outputs);
    host.quitCodes.clear();
    host.raisedExitCodes.clear();
    host.boxes.clear();
    auto doc = NewDoc(&outputs);
    doc->SetBatch(c.batch);
    ChangeSettings(*doc, [&](CheckSettings& s) {
      s.EMail = c.eMail;
      s.EMailOnlyIfBroken = c.onlyIfBroken;
    });
    doc->SetStatus(doc->NewLink("http://h/", nullptr, REQUEST_GET), c.status);
    doc->EndOfCheck();
    EXPECT_TRUE(doc->IsFinished());
    EXPECT_FALSE(doc->IsRunning());
    EXPECT_EQ(outputs.calls, c.calls);
    EXPECT_EQ(host.quitCodes, c.quit);
    EXPECT_EQ(host.raisedExitCodes, c.raised);
    // Without a quit the check ends with the question, which the script answers No.
    EXPECT_EQ(host.boxes, c.quit.empty() ? kQuestion : std::vector<std::string>{});
  }
}

// A run whose program gives no outputs writes and mails nothing, and ends with the question.
TEST_F(EndOfCheckTest, WithoutOutputsTheCheckEndsWithTheQuestion) {
  GiveOutputs("export save");
  for (const int eMail : {0, 1}) {
    SCOPED_TRACE(eMail);
    host.boxes.clear();
    auto doc = NewDoc(nullptr);
    doc->SetBatch(true);
    ChangeSettings(*doc, [&](CheckSettings& s) { s.EMail = eMail; });
    doc->SetStatus(doc->NewLink("http://h/", nullptr, REQUEST_GET), 404);
    host.answers.push_back(BoxAnswer::Yes);
    doc->EndOfCheck();
    EXPECT_TRUE(host.quitCodes.empty());
    EXPECT_TRUE(host.raisedExitCodes.empty());
    EXPECT_EQ(host.boxes, kQuestion);
  }
}

// A .jar member still pending was not in its archive: it fails before any output sees the
// table. The interactive end then counts every record finished, redraws the list and asks.
TEST_F(EndOfCheckTest, JarRecordsFailAndTheInteractiveEndAsks) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes);
    FakeOutputs outputs;
    auto doc = NewDoc(&outputs);
    const CLinkInfo* page = doc->NewLink("http://h/", nullptr, REQUEST_GET);
    doc->SetStatus(page, 200);
    const CLinkInfo* missing = doc->NewLink("http://h/a.jar/Missing.class", page, REQUEST_GET);
    const CLinkInfo* found = doc->NewLink("http://h/a.jar/Found.class", page, REQUEST_GET);
    const CLinkInfo* waiting = doc->NewLink("http://h/next.html", page, REQUEST_GET);
    for (const CLinkInfo* member : {missing, found}) doc->UpdateLink(*member, [](CLinkInfo& l) { l.m_bInJar = 1; });
    doc->SetStatus(found, 200);
    std::string seenAtLaunch;
    outputs.onCall = [&](const std::string&, const CWexoDoc& d) {
      seenAtLaunch = d.GetLink(missing->m_nIndex)->m_csStatusText;
    };
    view.statusTexts.clear();
    view.rowsRedrawn = 0;
    host.boxes.clear();
    host.beeps = 0;
    if (yes) host.answers.push_back(BoxAnswer::Yes);
    doc->EndOfCheck();
    EXPECT_EQ(missing->m_nStatus, 404);
    EXPECT_EQ(missing->m_csStatusText, "class not found in .jar archive");
    EXPECT_EQ(found->m_nStatus, 200);
    EXPECT_EQ(waiting->m_nStatus, 0) << "only .jar members fail";
    EXPECT_EQ(doc->GetFinishedCount(), 4);
    EXPECT_EQ(doc->GetPendingCount(), 0);
    EXPECT_EQ(view.statusTexts, std::vector<std::string>{"Threads: 0  "});
    EXPECT_EQ(view.rowsRedrawn, 1);
    EXPECT_EQ(host.beeps, 1);
    EXPECT_EQ(host.boxes, kQuestion);
    EXPECT_EQ(outputs.calls, yes ? "launch" : "");
    EXPECT_EQ(seenAtLaunch, yes ? "class not found in .jar archive" : "");
    EXPECT_TRUE(host.quitCodes.empty());
  }
}

}  // namespace
