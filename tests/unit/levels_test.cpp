// A record's level is its shortest distance from the root, whichever fetch ends first: one
// small site crawled with the workers' results handed over in different orders.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "engine/Fetch.h"
#include "engine/LinkTable.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/Report.h"
#include "report/TabExport.h"
#include "unit/support/FakeWorkers.h"
#include "unit/support/ScriptedHost.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The site: each page's links. Two ways lead to x: a long one (a, c) and a short one (b); a
// and b name c and e in opposite orders. z answers with a redirect to w.
const std::map<std::string, std::vector<std::string>> kSite = {
    {"index.html", {"a.html", "b.html"}},
    {"a.html", {"c.html", "e.html"}},
    {"c.html", {"x.html"}},
    {"b.html", {"x.html", "e.html", "c.html"}},
    {"e.html", {}},
    {"x.html", {"y.html"}},
    {"y.html", {"z.html", "x.html"}},
    {"z.html", {}},
    {"w.html", {"v.html"}},
    {"v.html", {}},
};
const std::string kRoot = "http://h/";

// What one check gave: levels by URL, the page map's rows sorted, the site map as written.
struct Outcome {
  std::map<std::string, int> levels;
  std::multiset<std::string> pageMap;
  std::string siteMap;
  std::map<std::string, int> fetches;
  std::size_t redirects = 0;
};

class LevelsTest : public ::testing::Test {
 protected:
  LevelsTest() {
    dir = std::filesystem::temp_directory_path() / ("wexo-levels-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~LevelsTest() override { std::filesystem::remove_all(dir); }

  FetchResult Answer(const FetchRequest& r) {
    FetchResult result = FakeWorkers::Result(r, 200);
    const std::string name = r.url.substr(kRoot.size());
    result.outcome->setMimeType = true;
    result.outcome->mimeType = "text/html";
    if (name == "z.html") {
      // As the worker gives a followed redirect: no body of its own.
      result.csRedirectTarget = "w.html";
      result.wRedirectCode = 302;
      return result;
    }
    std::string body = "<html><head><title>" + name + "</title></head><body>\n";
    for (const std::string& link : kSite.at(name)) body += "<a href=\"" + link + "\">" + link + "</a>\n";
    result.body = std::make_shared<std::string>(body + "</body></html>\n");
    return result;
  }

  // Crawls the site with up to ten workers. Each step hands over one running fetch: the one
  // pick chooses among them, but a late page only when nothing else runs.
  Outcome Check(int maxLevel, const std::set<std::string>& late, bool newestFirst) {
    FakeWorkers workers;
    auto doc = std::make_unique<CWexoDoc>(host.Context(workers.Launcher(), [] { return std::int64_t{1000}; }));
    ScriptedView view;
    view.Attach(*doc);
    ChangeSettings(*doc, [&](CheckSettings& s) {
      s.Threads = 10;
      s.MaxLevel = static_cast<std::int16_t>(maxLevel);
    });
    doc->SetRootUrl(kRoot);
    doc->NewLink(kRoot + "index.html", nullptr, REQUEST_GET);
    doc->MarkRunning();
    Outcome outcome;
    std::vector<FetchRequest> running;
    for (int step = 0; step < 1000; ++step) {
      doc->ScheduleFetches();
      for (FetchRequest& r : workers.started) running.push_back(std::move(r));
      workers.started.clear();
      if (running.empty()) break;
      auto next = running.end();
      for (auto it = running.begin(); it != running.end(); ++it) {
        if (late.contains(it->url.substr(kRoot.size())) && running.size() > 1) continue;
        if (next == running.end() || newestFirst) next = it;
      }
      if (next == running.end()) next = running.begin();
      const FetchRequest r = std::move(*next);
      running.erase(next);
      ++outcome.fetches[r.url.substr(kRoot.size())];
      doc->OnUrlDone(Answer(r));
      while (doc->WaitingResultCount() != 0) doc->ProcessFinishedFetches();
    }
    doc->ScheduleFetches();
    EXPECT_TRUE(doc->IsFinished());

    for (std::size_t i = 0; i < doc->GetLinkCount(); ++i)
      outcome.levels[doc->GetUrl(i).substr(kRoot.size())] = doc->GetLink(i)->m_nLevel;
    const std::filesystem::path map = dir / "map.txt";
    EXPECT_TRUE(ExportPageMap(*doc, map.string()));
    std::istringstream rows(ReadAll(map));
    for (std::string row; std::getline(rows, row);) outcome.pageMap.insert(row);
    const std::filesystem::path site = dir / "site.htm";
    platform::TextFileWriter out;
    EXPECT_TRUE(out.Open(site.string()));
    auto box = host.CreateAbortBox("Creating sitemap...");
    WriteSiteMap(*doc, *doc->GetLink(0), out, 1, *box, std::chrono::milliseconds(0));
    EXPECT_TRUE(out.Close());
    outcome.siteMap = ReadAll(site);
    outcome.redirects = doc->GetRedirectSources().size();
    return outcome;
  }

  TempIni ini;
  ScriptedHost host;
  std::filesystem::path dir;
};

TEST_F(LevelsTest, ShortestDistanceWhicheverFetchEndsFirst) {
  // The levels of both limits; w only with the higher: z at the limit is not parsed.
  const std::map<std::string, int> levels = {{"index.html", 0}, {"a.html", 1}, {"b.html", 1}, {"c.html", 2},
                                             {"e.html", 2},     {"x.html", 2}, {"y.html", 3}, {"z.html", 4}};
  const struct {
    int maxLevel;
    std::map<std::string, int> deeper;
  } limits[] = {{4, {}}, {5, {{"w.html", 5}}}};

  const struct {
    std::set<std::string> late;
    bool newestFirst;
  } orders[] = {
      {{}, false},
      {{}, true},
      // The short way comes last: x, y and z are found deeper first and lowered later; the
      // page held at the limit is fetched again once it lies within it.
      {{"b.html"}, false},
      {{"b.html"}, true},
      {{"a.html"}, true},
  };
  for (const auto& limit : limits) {
    std::vector<Outcome> outcomes;
    for (const auto& order : orders) {
      outcomes.push_back(Check(limit.maxLevel, order.late, order.newestFirst));
      const Outcome& o = outcomes.back();
      const std::string what = "limit " + std::to_string(limit.maxLevel) + ", order " + std::to_string(outcomes.size());
      std::map<std::string, int> expected = levels;
      expected.insert(limit.deeper.begin(), limit.deeper.end());
      EXPECT_EQ(o.levels, expected) << what;
      EXPECT_EQ(o.pageMap, outcomes.front().pageMap) << what;
      EXPECT_EQ(o.siteMap, outcomes.front().siteMap) << what;
      EXPECT_EQ(o.redirects, 1u) << what << ": a page fetched again keeps its one redirect";
      // Only a page held at the limit is fetched again, once, and only when the long way came
      // first; a page already parsed never is.
      for (const auto& [page, count] : o.fetches)
        EXPECT_EQ(count, page == (limit.maxLevel == 4 ? "y.html" : "z.html") && !order.late.empty() &&
                                 order.late.contains("b.html")
                             ? 2
                             : 1)
            << what << " " << page;
    }
    EXPECT_NE(outcomes.front().siteMap.find("<li><a href=\"http://h/y.html\">y.html</a>"), std::string::npos)
        << outcomes.front().siteMap;
  }
}

// The lowering spreads along the links of parsed pages only, once per record and spread.
TEST(LinkTableLevels, LoweringSpreadsOnceAlongParsedLinks) {
  LinkTable table;
  std::vector<std::uint32_t> told;
  table.SetLevelListener([&told](CLinkInfo& link) { told.push_back(link.m_nIndex); });
  CLinkInfo* root = table.Add("http://h/", nullptr, REQUEST_GET);
  // A long chain 0 -> 1 -> 2 -> 3 -> 4, a diamond 2 -> {5, 6} -> 7, a cycle 4 -> 2.
  CLinkInfo* p1 = table.Add("http://h/1", root, REQUEST_GET);
  CLinkInfo* p2 = table.Add("http://h/2", p1, REQUEST_GET);
  CLinkInfo* p3 = table.Add("http://h/3", p2, REQUEST_GET);
  CLinkInfo* p4 = table.Add("http://h/4", p3, REQUEST_GET);
  CLinkInfo* p5 = table.Add("http://h/5", p2, REQUEST_GET);
  CLinkInfo* p6 = table.Add("http://h/6", p2, REQUEST_GET);
  CLinkInfo* p7 = table.Add("http://h/7", p5, REQUEST_GET);
  table.AddReferrer(*p7, *p6);
  table.AddReferrer(*p2, *p4);
  EXPECT_TRUE(told.empty()) << "no shorter way yet";
  const std::vector<int> before = {0, 1, 2, 3, 4, 3, 3, 4};
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(table.GetLink(i)->m_nLevel, before[i]) << i;

  table.AddReferrer(*p2, *root);
  const std::vector<int> after = {0, 1, 1, 2, 3, 2, 2, 3};
  for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(table.GetLink(i)->m_nLevel, after[i]) << i;
  std::vector<std::uint32_t> sorted = told;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::uint32_t>{2, 3, 4, 5, 6, 7})) << "each lowered record told once";
  told.clear();
  table.AddReferrer(*p3, *p1);
  EXPECT_EQ(told, (std::vector<std::uint32_t>{})) << "3 is at 2 already: nothing lower";
  table.AddReferrer(*p4, *root);
  EXPECT_EQ(told, (std::vector<std::uint32_t>{4})) << "4 leads to 2, which lies higher";
  EXPECT_EQ(p4->m_nLevel, 1);
}

}  // namespace
