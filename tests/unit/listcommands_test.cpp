// The list view's context menu as entries, the outside services' addresses, the search over
// the rows, and a verb's command turned into an argument vector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/WexoDoc.h"
#include "platform/ShellLaunch.h"
#include "ui/Commands.h"
#include "ui/ContextMenu.h"
#include "ui/ListFind.h"
#include "ui/ShellVerbs.h"
#include "unit/support/ScriptedHost.h"

namespace {

class ListCommandsTest : public ::testing::Test {
 protected:
  ListCommandsTest() {
    doc = std::make_unique<CWexoDoc>(host.Context());
    doc->SetRootUrl("http://www.example.com/");
    view.Attach(*doc);
  }
  const CLinkInfo* Add(const std::string& url, std::int16_t status, const std::string& type = "",
                       const std::string& title = "") {
    const CLinkInfo* link = doc->NewLink(url, nullptr, REQUEST_GET);
    doc->UpdateLink(*link, [&](CLinkInfo& r) {
      r.m_csMimeType = type;
      r.m_csTitle = title;
    });
    doc->SetStatus(link, status);
    return link;
  }
  std::vector<int> Ids(const CLinkInfo& link, const ShellVerbSource& verbs = nullptr) {
    std::vector<int> ids;
    for (const MenuEntry& e : BuildContextMenu(*doc, link, verbs).entries) ids.push_back(e.id);
    return ids;
  }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  std::unique_ptr<CWexoDoc> doc;
};

constexpr int kSep = 0;
const std::vector<int> kServices = {ID_OPEN_IN_CACHE, ID_OPEN_IN_ARCHIVE, ID_OPEN_IN_RANKING, ID_SHOW_INDICES,
                                    ID_SHOW_BACKLINKS};

std::vector<int> Concat(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(ListCommandsTest, MenuEntriesFollowTheRecord) {
  const std::vector<int> head = {ID_EDIT_COPY, kSep, ID_OPEN_IN_BROWSER};
  const std::vector<int> tail = {kSep, ID_URL_PROPERTIES};
  const std::vector<int> reset = {kSep, ID_RESET_ENTRY};
  const std::vector<int> validate = {kSep, ID_VALIDATE_URL};
  struct Case {
    const char* url;
    std::int16_t status;
    const char* type;
    std::vector<int> ids;
  } cases[] = {
      // A fetched internal page of a parsable type may be validated; a style sheet is parsable too.
      {"http://www.example.com/", 200, "text/html", Concat({head, kServices, validate, tail})},
      {"https://www.example.com/a.css", 200, "text/css", Concat({head, kServices, tail})},
      // Not for an external page, a picture, a pending page or a broken one.
      {"http://other.example.org/", 200, "text/html", Concat({head, kServices, tail})},
      {"http://www.example.com/p.png", 200, "image/png", Concat({head, kServices, tail})},
      {"http://www.example.com/wait.html", STATUS_PENDING, "text/html", Concat({head, kServices, tail})},
      {"http://www.example.com/gone.html", 404, "text/html", Concat({head, kServices, reset, tail})},
      // The archive's own pages get no service entries; other schemes none either.
      {"https://web.archive.org/web/2020/http://x/", 200, "text/html", Concat({head, tail})},
      {"http://web.archive.org/", 12007, "", Concat({head, reset, tail})},
      {"ftp://ftp.example.com/f", 200, "", Concat({head, tail})},
      {"mailto:a@example.com", STATUS_MAIL_HOST_OK, "", Concat({head, tail})},
  };
  for (const Case& c : cases) EXPECT_EQ(Ids(*Add(c.url, c.status, c.type)), c.ids) << c.url;

  const ContextMenu menu = BuildContextMenu(*doc, *doc->GetLink(5), nullptr);
  const std::vector<MenuEntry> texts = {{ID_EDIT_COPY, "Copy URL"},
                                        {kSep, ""},
                                        {ID_OPEN_IN_BROWSER, "Open in Browser"},
                                        {ID_OPEN_IN_CACHE, "Open in Google cache"},
                                        {ID_OPEN_IN_ARCHIVE, "Open in Wayback Machine"},
                                        {ID_OPEN_IN_RANKING, "Open in Alexa"},
                                        {ID_SHOW_INDICES, "Show Indices"},
                                        {ID_SHOW_BACKLINKS, "Show Backlinks"},
                                        {kSep, ""},
                                        {ID_RESET_ENTRY, "Reset entry\tAlt+R"},
                                        {kSep, ""},
                                        {ID_URL_PROPERTIES, "URL p&roperties"}};
  EXPECT_EQ(menu.entries, texts);
}

TEST_F(ListCommandsTest, CategoryEntriesFromTheDirectorysReferrers) {
  const CLinkInfo* target = Add("http://www.example.com/t.html", 404);
  const std::string longCategory = "Computers/" + std::string(90, 'x');
  const std::vector<std::string> referrers = {
      "http://www.dmoz.org/Arts/",           "http://www.example.com/",    "http://www.dmoz.org/Science/Math/",
      "http://www.dmoz.org/" + longCategory, "http://www.dmoz.org/Games/", "http://www.dmoz.org/Home/",
      "http://www.dmoz.org/News/",           "http://www.dmoz.org/Sports/"};
  for (const std::string& r : referrers) doc->AddReferrer(target, Add(r, 200));
  // Seven category pages give five entries, in referrer order, a separator before the first.
  const ContextMenu menu = BuildContextMenu(*doc, *target, nullptr);
  std::vector<MenuEntry> categories;
  for (std::size_t i = 0; i < menu.entries.size(); ++i)
    if (menu.entries[i].id >= ID_DIRECTORY_CATEGORY && menu.entries[i].id < ID_DIRECTORY_CATEGORY + 5) {
      if (categories.empty()) EXPECT_EQ(menu.entries[i - 1].id, kSep);
      categories.push_back(menu.entries[i]);
    }
  const std::vector<MenuEntry> expected = {
      {ID_DIRECTORY_CATEGORY, "Edit in ODP Category Arts/"},
      {ID_DIRECTORY_CATEGORY + 1, "Edit in ODP Category Science/Math/"},
      {ID_DIRECTORY_CATEGORY + 2, "Edit in ODP Category ...." + longCategory.substr(longCategory.size() - 80)},
      {ID_DIRECTORY_CATEGORY + 3, "Edit in ODP Category Games/"},
      {ID_DIRECTORY_CATEGORY + 4, "Edit in ODP Category Home/"},
  };
  EXPECT_EQ(categories, expected);
  EXPECT_EQ(DirectoryEditAddress("http://www.example.com/t.html", DirectoryCategories(*doc, *target)[1]),
            "http://editors.dmoz.org/editors/editurl.cgi?url=http://www.example.com/t.html&cat=Science/Math/");

  // The directory's own pages get no category entries.
  const CLinkInfo* own = Add("http://www.dmoz.org/Arts/Music/", 200);
  doc->AddReferrer(own, doc->FindLink("http://www.dmoz.org/Arts/"));
  EXPECT_TRUE(DirectoryCategories(*doc, *own).empty());
}

TEST_F(ListCommandsTest, ShellVerbsOfALocalFile) {
  std::vector<std::string> asked;
  const ShellVerbSource verbs = [&asked](const std::string& ext) -> std::vector<std::string> {
    asked.push_back(ext);
    if (ext == ".pdf") return {"open", "New", "print", "PrintTo", "edit"};
    if (ext == ".many") {
      std::vector<std::string> all;
      for (int i = 0; i < 12; ++i) all.push_back("v" + std::to_string(i));
      return all;
    }
    return {};
  };
  const ContextMenu pdf = BuildContextMenu(*doc, *Add("file:///home/u/a.b/doc.pdf", 200), verbs);
  EXPECT_EQ(pdf.shellVerbs, (std::vector<std::string>{"open", "print", "edit"}));
  const std::vector<MenuEntry> tail(pdf.entries.end() - 6, pdf.entries.end());
  EXPECT_EQ(tail, (std::vector<MenuEntry>{{kSep, ""},
                                          {ID_SHELL_VERB, "open"},
                                          {ID_SHELL_VERB + 1, "print"},
                                          {ID_SHELL_VERB + 2, "edit"},
                                          {kSep, ""},
                                          {ID_URL_PROPERTIES, "URL p&roperties"}}));
  EXPECT_EQ(BuildContextMenu(*doc, *Add("file:///home/u/x.many", 200), verbs).shellVerbs.size(), 10u);
  // An unknown type gives no verbs and no separator; web addresses are never asked about.
  EXPECT_EQ(Ids(*Add("file:///home/u/x.unknown", 200), verbs),
            (std::vector<int>{ID_EDIT_COPY, kSep, ID_OPEN_IN_BROWSER, kSep, ID_URL_PROPERTIES}));
  Ids(*Add("http://www.example.com/x.pdf", 200), verbs);
  EXPECT_EQ(asked, (std::vector<std::string>{".pdf", ".many", ".unknown"}));
}

TEST_F(ListCommandsTest, ServiceAddressesTakeTheUrl) {
  const std::string url = "https://www.example.com/a/b.html";
  const std::vector<std::string> backlinks = ServiceAddresses(ID_SHOW_BACKLINKS, url);
  ASSERT_EQ(backlinks.size(), 3u);
  EXPECT_NE(backlinks[0].find("=www.example.com%252Fa%252Fb.html"), std::string::npos) << backlinks[0];
  EXPECT_TRUE(backlinks[1].ends_with("=" + url)) << backlinks[1];
  EXPECT_TRUE(backlinks[2].ends_with("=www.example.com%252Fa%252Fb.html")) << backlinks[2];
  const std::vector<std::string> indices = ServiceAddresses(ID_SHOW_INDICES, url);
  EXPECT_EQ(indices, (std::vector<std::string>{"https://www.google.com/search?q=info:" + url,
                                               "https://www.bing.com/search?q=url:" + url}));
  EXPECT_EQ(ServiceAddresses(ID_OPEN_IN_ARCHIVE, url),
            std::vector<std::string>{"https://web.archive.org/web/*/" + url});
  EXPECT_EQ(ServiceAddresses(ID_VALIDATE_URL, url),
            std::vector<std::string>{"https://validator.w3.org/check?uri=" + url});
  for (int id : {ID_OPEN_IN_CACHE, ID_OPEN_IN_RANKING}) EXPECT_EQ(ServiceAddresses(id, url).size(), 1u);
  EXPECT_TRUE(ServiceAddresses(ID_EDIT_COPY, url).empty());
}

TEST_F(ListCommandsTest, FindNextSearchesUrlTabTitleWithoutWrapping) {
  Add("http://www.example.com/Alpha", 200, "text/html", "First Page");
  Add("http://www.example.com/beta", 200, "text/html", "second");
  Add("http://www.example.com/gamma", 200, "text/html", "Alpha again");
  const long count = 3;
  const RowRecord rows = [this](long r) {
    return r >= 0 && r < 3 ? doc->GetLink(static_cast<std::size_t>(r)) : nullptr;
  };
  struct Case {
    const char* text;
    bool down;
    bool matchCase;
    long selected;
    long found;
  } cases[] = {
      {"alpha", true, false, -1, 0},   // no selection, downwards: from the first row
      {"alpha", false, false, -1, 2},  // no selection, upwards: from the last row
      {"alpha", true, false, 0, 2},    // the row below the selection
      {"alpha", false, false, 2, 0},   // the row above it
      {"alpha", true, false, 2, -1},   // nothing below the last row: no wrap-around
      {"alpha", false, false, 0, -1},  // nothing above the first row
      {"alpha", true, true, -1, -1},   // match case: "Alpha" only
      {"Alpha", true, true, 0, 2},      {"beta\tsec", true, false, -1, 1},  // URL and title meet at the tab only
      {"betasec", true, false, -1, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindRow(*doc, count, rows, c.selected, FindQuery{c.text, c.down, c.matchCase}), c.found)
        << c.text << " down " << c.down << " case " << c.matchCase << " from " << c.selected;
  EXPECT_EQ(FindRow(*doc, 0, rows, -1, FindQuery{"alpha", false, false}), -1);

  EXPECT_EQ(FindNext(host, *doc, count, rows, -1, FindQuery{"zeta", true, false}), -1);
  EXPECT_EQ(host.boxes, std::vector<std::string>{"Search String Not Found!"});
  EXPECT_EQ(FindNext(host, *doc, count, rows, -1, FindQuery{"gamma", true, false}), 2);
  EXPECT_EQ(host.boxes.size(), 1u);
}

TEST(ShellVerbCommand, PathIsOneArgumentAndNothingIsExpanded) {
  const std::string mark = "WexoShellVerbPath7f3a";
  const std::string path = "/tmp/a b/it's $HOME;rm -rf `x`.pdf";
  struct Case {
    std::string command;
    std::vector<std::string> argv;
  } cases[] = {
      {"viewer \"" + mark + "\"", {"viewer", path}},
      {"viewer --file=" + mark + " -x", {"viewer", "--file=" + path, "-x"}},
      {"viewer < '" + mark + "'", {"viewer", path}},
      {"viewer", {"viewer", path}},
      {"'my viewer' --title \"a \\\"b\\\" $c\" " + mark, {"my viewer", "--title", "a \"b\" $c", path}},
      {"sh -c 'echo \\x' *", {"sh", "-c", "echo \\x", "*", path}},
  };
  for (const Case& c : cases) EXPECT_EQ(ShellVerbArguments(c.command, path), c.argv) << c.command;
  EXPECT_EQ(platform::SplitCommandLine("  a\\ b  'c d'\"e\"\t f"), (std::vector<std::string>{"a b", "c de", "f"}));
  EXPECT_EQ(platform::SplitCommandLine("x 'open"), (std::vector<std::string>{"x", "open"}));
  EXPECT_TRUE(platform::SplitCommandLine("   ").empty());
}

}  // namespace
