// The URL-properties window: its lists and labels for a checked page, emptied when its
// document closes, controls following a resize by their anchors, and its placement kept
// for the next window.
#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/WexoDoc.h"
#include "gui/support/GuiApp.h"
#include "platform/Profile.h"
#include "ui/Commands.h"
#include "ui/LPropDlg.h"
#include "ui/MainFrame.h"
#include "ui/WexoView.h"

namespace {

using namespace wexo_gui;

class UrlPropertiesTest : public GuiTest {
 protected:
  // A page that links to one page three times and to a missing one, checked to its end.
  CWexoDoc& CheckSite() {
    Write(dir / "site/index.html",
          "<html><head><title>Home &amp; more</title></head><body><a href=\"a.html\">1</a>"
          "<a href=\"a.html\">2</a><a href=\"a.html\">3</a><a href=\"missing%20page.html\">4</a></body></html>");
    Write(dir / "site/a.html", "<html><head><title>A</title></head><body></body></html>");
    Write(dir / "list.txt", "file://" + (dir / "site/index.html").string() + "\n");
    EXPECT_TRUE(CheckUrlList(dir / "list.txt")) << "no end question";
    return Documents()[0]->Engine();
  }
  const CLinkInfo* Find(CWexoDoc& doc, const std::string& tail) {
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i)
      if (doc.GetLink(i)->GetUrl().ends_with(tail)) return doc.GetLink(i);
    ADD_FAILURE() << "no record " << tail;
    return nullptr;
  }
  CLPropDlg* Dialog() { return app->Frame()->m_pUrlPropertiesDlg; }
  std::string Text(const char* name) {
    wxWindow* w = Dialog()->FindWindow(name);
    if (auto* text = wxDynamicCast(w, wxTextCtrl)) return text->GetValue().utf8_string();
    return w->GetLabel().utf8_string();
  }
  std::vector<std::string> Lines(const char* name) {
    auto* box = static_cast<wxListBox*>(Dialog()->FindWindow(name));
    std::vector<std::string> lines;
    for (unsigned i = 0; i < box->GetCount(); ++i) lines.push_back(box->GetString(i).utf8_string());
    return lines;
  }
  wxRect Rect(const char* name) { return Dialog()->FindWindow(name)->GetRect(); }
  void Click(wxWindow* button) {
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
  }
};

TEST_F(UrlPropertiesTest, ShowsTheListsAndLabelsOfARecordAndOfTheNextOne) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  const std::string site = "file://" + (dir / "site/").string();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "index.html"));
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_TRUE(Dialog()->IsShown());
  EXPECT_EQ(Dialog()->GetTitle(), "URL Properties");
  EXPECT_EQ(Text("url"), site + "index.html");
  EXPECT_EQ(Text("title"), "Home & more");
  // Three links to a.html count three times, but the page is one referrer of it.
  EXPECT_EQ(Text("linksLabel"), "4 links on this page:");
  EXPECT_EQ(Lines("links"), (std::vector<std::string>{site + "a.html", site + "missing%20page.html"}));
  // A URL of the list is a starting point: no page links to it.
  EXPECT_EQ(Text("referrersLabel"), "No pages linking to this one");
  EXPECT_TRUE(Lines("referrers").empty());
  Screenshot("url-properties");

  // The same window, refilled for another record.
  CLPropDlg* first = Dialog();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "missing%20page.html"));
  EXPECT_EQ(Dialog(), first);
  EXPECT_EQ(Text("url"), site + "missing page.html");
  EXPECT_EQ(Text("title"), "4") << "the link text";
  EXPECT_EQ(Text("linksLabel"), "No links on this page");
  EXPECT_EQ(Text("referrersLabel"), "1 page linking to this one:");
  EXPECT_TRUE(Lines("links").empty());
  EXPECT_EQ(Lines("referrers"), (std::vector<std::string>{site + "index.html"}));

  app->Frame()->ShowUrlProperties(doc, nullptr);
  EXPECT_EQ(Dialog(), first);
}

TEST_F(UrlPropertiesTest, IsEmptiedWhenItsDocumentCloses) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "index.html"));
  ASSERT_FALSE(Lines("links").empty());
  answer = [](const std::string&, BoxKind) { return BoxAnswer::No; };
  Command(wxID_CLOSE);
  ASSERT_TRUE(PumpUntil([this] { return Documents().empty(); }, 5));
  ASSERT_NE(Dialog(), nullptr) << "the window stays, empty";
  EXPECT_EQ(Text("url"), "");
  EXPECT_EQ(Text("title"), "");
  EXPECT_TRUE(Lines("links").empty());
  EXPECT_TRUE(Lines("referrers").empty());
  EXPECT_FALSE(Dialog()->ShowsDocument(&doc));
  // Closing it destroys it and the frame forgets it.
  Click(Dialog()->FindWindow("close"));
  EXPECT_EQ(Dialog(), nullptr);
}

TEST_F(UrlPropertiesTest, ControlsFollowTheWindowByTheirAnchors) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "index.html"));
  PumpUntil([] { return false; }, 0.3);
  const wxSize initial = Dialog()->GetClientSize();
  const wxRect close = Rect("close"), url = Rect("url"), links = Rect("links"), refs = Rect("referrers"),
               label = Rect("referrersLabel");
  Dialog()->SetClientSize(initial + wxSize(100, 100));
  ASSERT_TRUE(PumpUntil([&] { return Dialog()->GetClientSize() == initial + wxSize(100, 100); }, 5));
  PumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(Rect("close"), wxRect(close.x + 100, close.y, close.width, close.height));
  EXPECT_EQ(Rect("url"), wxRect(url.x, url.y, url.width + 100, url.height));
  EXPECT_EQ(Rect("links"), wxRect(links.x, links.y, links.width + 100, links.height + 50));
  EXPECT_EQ(Rect("referrers"), wxRect(refs.x, refs.y + 50, refs.width + 100, refs.height + 50));
  EXPECT_EQ(Rect("referrersLabel"), wxRect(label.x, label.y + 50, label.width, label.height));
  Screenshot("url-properties-grown");

  // Not below the first size; back at it, every control is back where it started.
  Dialog()->SetClientSize(initial - wxSize(150, 150));
  PumpUntil([] { return false; }, 0.5);
  EXPECT_GE(Dialog()->GetClientSize().x, initial.x);
  EXPECT_GE(Dialog()->GetClientSize().y, initial.y);
  Dialog()->SetClientSize(initial);
  ASSERT_TRUE(PumpUntil([&] { return Dialog()->GetClientSize() == initial; }, 5));
  PumpUntil([] { return false; }, 0.3);
  EXPECT_EQ(Rect("close"), close);
  EXPECT_EQ(Rect("referrers"), refs);
}

TEST_F(UrlPropertiesTest, ItsPlacementIsKeptForTheNextWindow) {
  ASSERT_TRUE(Start());
  CWexoDoc& doc = CheckSite();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "index.html"));
  PumpUntil([] { return false; }, 0.3);
  const wxRect placed(70, 90, Dialog()->GetSize().x + 60, Dialog()->GetSize().y + 40);
  Dialog()->SetSize(placed);
  ASSERT_TRUE(PumpUntil([&] { return Dialog()->GetRect() == placed; }, 5)) << Dialog()->GetRect().x;
  // Enter saves the placement and leaves the window open.
  wxKeyEvent enter(wxEVT_CHAR_HOOK);
  enter.m_keyCode = WXK_RETURN;
  Dialog()->ProcessWindowEvent(enter);
  ASSERT_NE(Dialog(), nullptr);
  const std::string state = ReadAll(platform::StateIniPath((dir / "wexo.ini").string()));
  EXPECT_NE(state.find("[URL properties]"), std::string::npos) << state;
  EXPECT_NE(state.find("WindowPlacement=2C000000"), std::string::npos) << state;

  // Closed elsewhere, then opened anew from the saved value alone: where it was.
  Dialog()->SetSize(wxRect(10, 10, placed.width - 30, placed.height - 20));
  PumpUntil([] { return false; }, 0.3);
  app->Frame()->DestroyUrlPropertiesDialog();
  app->Frame()->ShowUrlProperties(doc, Find(doc, "index.html"));
  EXPECT_TRUE(PumpUntil([&] { return Dialog()->GetRect() == placed; }, 5))
      << Dialog()->GetRect().x << "," << Dialog()->GetRect().y;
  EXPECT_FALSE(Dialog()->IsIconized());
}

}  // namespace
