// The options sheet's models without a display: where OK applies the values (a new job, a
// view's document, no document; all jobs or one; only the pages shown), the ranges, and the
// slider's "Current:" value.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "ui/OptionSheet.h"
#include "unit/support/ControlTable.h"
#include "unit/support/ScriptedHost.h"

namespace {

enum class Opening { NewJob, View, NoDocument };

class OptionSheetTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }

  // A fresh settings file and two fresh documents.
  void Reset() {
    given.reset();
    other.reset();
    ini.reset();
    ini = std::make_unique<TempIni>();
    ini->Set("Options", "Threads", "20");
    ini->Set("Options", "MaxRetry", "2");
    given = std::make_unique<CWexoDoc>(host.Context());
    other = std::make_unique<CWexoDoc>(host.Context());
    // The given document's own copies differ from [Options].
    ChangeSettings(*given, [](CheckSettings& s) {
      s.Threads = 12;
      s.MaxRetry = 4;
    });
  }

  // The sheet as each opening builds it; a new job's document is not among the open ones yet.
  std::unique_ptr<COptionSheet> Open(Opening opening) {
    CWexoDoc* doc = opening == Opening::NoDocument ? nullptr : given.get();
    return std::make_unique<COptionSheet>(app, doc, [this, opening] {
      std::vector<CWexoDoc*> open{other.get()};
      if (opening == Opening::View) open.insert(open.begin(), given.get());
      return open;
    });
  }

  int Ini(const char* key) const { return app.GetProfileInt("Options", key, -1); }

  std::unique_ptr<TempIni> ini;
  ScriptedHost host;
  CWexoApp app;
  std::unique_ptr<CWexoDoc> given;
  std::unique_ptr<CWexoDoc> other;
};

TEST_F(OptionSheetTest, PagesOpenWithTheDocumentsCopiesOrTheSettingsFile) {
  for (Opening opening : {Opening::View, Opening::NoDocument}) {
    const bool withDoc = opening == Opening::View;
    auto sheet = Open(opening);
    ControlTable page1, page2;
    sheet->PageShown(0, page1);
    EXPECT_EQ(page1.At("Threads").value, withDoc ? 12 : 20);
    EXPECT_EQ(page1.At("ThreadsCurrent").text, withDoc ? "12" : "20");
    EXPECT_EQ(page1.At("ThreadsMin").text, "1");
    EXPECT_EQ(page1.At("ThreadsMax").text, "100");
    EXPECT_EQ(page1.At("MaxLevel").text, "9999");
    EXPECT_EQ(page1.At("AskPassword").value, 1);
    EXPECT_EQ(page1.At("RedirectIsError").value, 0);
    EXPECT_EQ(page1.At("AllJobs").value, 1);
    EXPECT_EQ(page1.At("AllJobs").enabled, withDoc);
    EXPECT_FALSE(sheet->WasShown(1));
    sheet->PageShown(1, page2);
    EXPECT_EQ(page2.At("MaxRetry").text, withDoc ? "4" : "2");
    EXPECT_EQ(page2.At("FailSimilarHosts").value, 1);
    EXPECT_EQ(page2.At("AllowCookies").value, 0);
    EXPECT_EQ(page2.At("AllJobs").value, 1);
    EXPECT_EQ(page2.At("AllJobs").enabled, withDoc);
  }
}

TEST_F(OptionSheetTest, OkAppliesShownPagesToOneDocumentOrToAllAndTheSettingsFile) {
  for (Opening opening : {Opening::NewJob, Opening::View, Opening::NoDocument}) {
    for (int allJobs : {1, 0}) {
      for (bool advancedShown : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "opening " << static_cast<int>(opening) << " all jobs " << allJobs
                                          << " advanced shown " << advancedShown);
        Reset();
        auto sheet = Open(opening);
        ControlTable page1, page2;
        sheet->PageShown(0, page1);
        page1.At("Threads").value = 55;
        page1.At("ReportValid").value = 0;
        page1.At("MaxLevel").text = "7";
        page1.At("AllJobs").value = allJobs;
        int front = 0;
        if (advancedShown) {
          ASSERT_TRUE(sheet->CanLeavePage(0));
          sheet->PageShown(1, page2);
          page2.At("AllowCookies").value = 1;
          page2.At("MaxRetry").text = "9";
          page2.At("AllJobs").value = allJobs;
          front = 1;
        }
        ASSERT_TRUE(sheet->OnOK(front));

        const bool toAll = allJobs == 1 || opening == Opening::NoDocument;
        const bool givenChanges = opening != Opening::NoDocument;
        struct Expect {
          const CWexoDoc* doc;
          bool changes;
        };
        for (const Expect& e : {Expect{given.get(), givenChanges}, Expect{other.get(), toAll}}) {
          const CheckSettings& s = e.doc->Settings();
          EXPECT_EQ(e.doc->IsModified(), e.changes);
          EXPECT_EQ(s.Threads, e.changes ? 55 : (e.doc == given.get() ? 12 : 20));
          EXPECT_EQ(s.ReportValid, e.changes ? 0 : 1);
          EXPECT_EQ(s.MaxLevel, e.changes ? 7 : 9999);
          EXPECT_EQ(s.AllowCookies, e.changes && advancedShown ? 1 : 0);
          EXPECT_EQ(s.MaxRetry, e.changes && advancedShown ? 9 : (e.doc == given.get() ? 4 : 2));
        }
        EXPECT_EQ(Ini("Threads"), toAll ? 55 : 20);
        EXPECT_EQ(Ini("ReportValid"), toAll ? 0 : -1);
        EXPECT_EQ(Ini("MaxLevel"), toAll ? 7 : -1);
        EXPECT_EQ(Ini("AllowCookies"), toAll && advancedShown ? 1 : -1);
        EXPECT_EQ(Ini("MaxRetry"), toAll && advancedShown ? 9 : 2);
      }
    }
  }
}

// Without a document the pages show what a check would use: a count out of range in the
// settings file as its nearest bound, which OK then accepts.
TEST_F(OptionSheetTest, OutOfRangeCountsInTheSettingsFileShowAsTheirNearestBound) {
  ini->Set("Options", "Threads", "500");
  ini->Set("Options", "MaxRetry", "-1");
  auto sheet = Open(Opening::NoDocument);
  ControlTable page1, page2;
  sheet->PageShown(0, page1);
  EXPECT_EQ(page1.At("Threads").value, 100);
  ASSERT_TRUE(sheet->CanLeavePage(0));
  sheet->PageShown(1, page2);
  EXPECT_EQ(page2.At("MaxRetry").text, "0");
  ASSERT_TRUE(sheet->OnOK(1));
  EXPECT_TRUE(page2.messages.empty());
  EXPECT_EQ(Ini("Threads"), 100);
  EXPECT_EQ(Ini("MaxRetry"), 0);
}

TEST_F(OptionSheetTest, CancelAndUnshownPagesApplyNothing) {
  auto sheet = Open(Opening::View);
  ControlTable page1;
  sheet->PageShown(0, page1);
  page1.At("Threads").value = 77;
  // Cancel: OK is never run.
  sheet.reset();
  EXPECT_EQ(given->Settings().Threads, 12);
  EXPECT_FALSE(given->IsModified());
  EXPECT_EQ(Ini("Threads"), 20);
}

TEST_F(OptionSheetTest, RangesAtTheirBoundsAndOnePast) {
  const struct {
    int page;
    const char* field;
    const char* text;
    const char* message;  // empty: accepted
  } cases[] = {
      {0, "MaxLevel", "0", ""},
      {0, "MaxLevel", "9999", ""},
      {0, "MaxLevel", "-1", "Please enter a number between 0 and 9999."},
      {0, "MaxLevel", "10000", "Please enter a number between 0 and 9999."},
      {0, "MaxLevel", "", "Please enter an integer."},
      {0, "MaxLevel", "12x", "Please enter an integer."},
      {1, "MaxRetry", "0", ""},
      {1, "MaxRetry", "10", ""},
      {1, "MaxRetry", "-1", "Please enter a number between 0 and 10."},
      {1, "MaxRetry", "11", "Please enter a number between 0 and 10."},
      {1, "MaxRetry", "40000", "Please enter an integer."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + "=" + c.text);
    Reset();
    auto sheet = Open(Opening::View);
    ControlTable pages[2];
    sheet->PageShown(0, pages[0]);
    if (c.page == 1) {
      ASSERT_TRUE(sheet->CanLeavePage(0));
      sheet->PageShown(1, pages[1]);
    }
    pages[c.page].At(c.field).text = c.text;
    const bool accepted = *c.message == '\0';
    // The page in front is checked when another is to come to the front, and at OK.
    EXPECT_EQ(sheet->CanLeavePage(c.page), accepted);
    EXPECT_EQ(sheet->OnOK(c.page), accepted);
    if (accepted) {
      EXPECT_TRUE(pages[c.page].messages.empty());
      EXPECT_EQ(Ini(c.field), std::stoi(c.text));
    } else {
      EXPECT_EQ(pages[c.page].messages, std::vector<std::string>(2, c.message));
      EXPECT_EQ(pages[c.page].focus, c.field);
      EXPECT_FALSE(given->IsModified());
      EXPECT_EQ(Ini(c.field), c.page == 1 ? 2 : -1);
    }
  }
  // The slider's range is shown by the page and kept by the control.
  EXPECT_EQ(COptionPage1(app, nullptr, nullptr).m_nRangeMin, 1);
  EXPECT_EQ(COptionPage1(app, nullptr, nullptr).m_nRangeMax, 100);
}

TEST_F(OptionSheetTest, CurrentFollowsTheSliderAndAMoveOverABadDepthWarnsOnce) {
  auto sheet = Open(Opening::View);
  ControlTable page;
  sheet->PageShown(0, page);
  COptionPage1& model = sheet->m_page1;

  page.At("Threads").value = 40;
  model.OnVScroll(false);  // a step of the keyboard
  EXPECT_EQ(page.At("ThreadsCurrent").text, "40");

  page.At("MaxLevel").text = "10000";
  for (int position : {41, 45, 60}) {
    page.At("Threads").value = position;
    model.OnVScroll(true);
    EXPECT_EQ(page.At("ThreadsCurrent").text, std::to_string(position));
  }
  EXPECT_TRUE(page.messages.empty());
  model.OnVScroll(false);  // the drag ends
  EXPECT_EQ(page.messages, std::vector<std::string>{"Please enter a number between 0 and 9999."});
  EXPECT_EQ(page.focus, "MaxLevel");
  EXPECT_EQ(page.At("ThreadsCurrent").text, "40");

  page.At("MaxLevel").text = "5";
  page.At("Threads").value = 70;
  model.OnVScroll(true);
  model.OnVScroll(false);
  EXPECT_EQ(page.At("ThreadsCurrent").text, "70");
  EXPECT_EQ(page.messages.size(), 1u);
}

}  // namespace
