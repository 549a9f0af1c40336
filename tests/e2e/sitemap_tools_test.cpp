// The sitemap and the GraphViz file of a check read by the tools they are meant for:
// xmllint against a schema of the Sitemaps 0.9 format, and dot.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Application.h"
#include "engine/WexoDoc.h"
#include "platform/Profile.h"
#include "report/Sitemap.h"
#include "unit/support/QuietContext.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a tool (looked up in PATH) with its stdout and stderr in files of the folder.
ToolRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& argv) {
  const std::string outPath = (dir / "tool.out").string();
  const std::string errPath = (dir / "tool.err").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) ::_exit(126);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ToolRun run;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadAll(outPath);
  run.err = ReadAll(errPath);
  return run;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

const CLinkInfo* Add(CWexoDoc& doc, const std::string& url, const CLinkInfo* parent, std::int16_t status,
                     const std::string& mime = "text/html") {
  const CLinkInfo* link = doc.NewLink(url, parent, REQUEST_GET);
  doc.SetStatus(link, status);
  doc.UpdateLink(*link, [&](CLinkInfo& r) { r.m_csMimeType = mime; });
  return link;
}

class SitemapTools : public ::testing::Test {
 protected:
  SitemapTools() {
    dir = std::filesystem::temp_directory_path() / ("wexo-sitemap-tools-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    previousIni = platform::SettingsFile();
    platform::SetSettingsFile((dir / "wexo.ini").string());
  }
  ~SitemapTools() override {
    platform::SetSettingsFile(previousIni);
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;
  std::string previousIni;
};

// A table holding the URLs that are hardest to write: what the program stores is not
// always a clean URL.
struct OddSite {
  OddSite() {
    doc.SetRootUrl("http://127.0.0.1:8080/site/");
    const CLinkInfo* root = Add(doc, "http://127.0.0.1:8080/site/", nullptr, 200);
    doc.UpdateLink(*root, [&](CLinkInfo& r) {
      r.m_bDateKnown = 1;
      r.m_tDate = 1600000000;
    });
    const std::string odd[] = {
        "http://127.0.0.1:8080/site/a b.htm",
        "http://127.0.0.1:8080/site/tab\there.htm",
        "http://127.0.0.1:8080/site/line\r\nbreak.htm",
        std::string("http://127.0.0.1:8080/site/nul") + '\0' + "byte.htm",
        "http://127.0.0.1:8080/site/ctl\x01\x1F\x7F.htm",
        "http://127.0.0.1:8080/site/q?a=1&b=2&amp;c",
        "http://127.0.0.1:8080/site/<tag>.htm",
        "http://127.0.0.1:8080/site/\"quoted\".htm",
        "http://127.0.0.1:8080/site/it's.htm",
        "http://127.0.0.1:8080/site/caf\xC3\xA9.htm",
        "http://127.0.0.1:8080/site/latin\xE9.htm",
        "http://127.0.0.1:8080/site/back\\slash\\",
        "http://127.0.0.1:8080/site/doc.pdf",
    };
    const CLinkInfo* previous = root;
    for (const std::string& url : odd)
      previous = Add(doc, url, previous, 200, url.ends_with(".pdf") ? "application/pdf" : "text/html");
    // Not in the sitemap, but in the graph: a style sheet.
    Add(doc, "http://127.0.0.1:8080/site/style.css", root, 200, "text/css");
    // Neither: broken, external.
    Add(doc, "http://127.0.0.1:8080/site/gone.htm", root, 404);
    Add(doc, "http://elsewhere.example/x y", root, 200);
    edges = sizeof odd / sizeof odd[0] + 2;  // the chain, the style sheet, the external page
  }

  QuietContext context;
  CWexoDoc doc{context.Context()};
  std::size_t edges = 0;
};

TEST_F(SitemapTools, SitemapValidatesAgainstTheProtocolSchema) {
  OddSite site;
  const std::string schema = WEXO_SOURCE_DIR "/tests/fixtures/sitemap-0.9.xsd";
  const std::string path = (dir / "sitemap.xml").string();
  ASSERT_TRUE(ExportSitemap(site.doc, path));

  ToolRun run = RunTool(dir, {"xmllint", "--noout", "--schema", schema, path});
  EXPECT_EQ(run.exitCode, 0) << run.err << ReadAll(path);

  // What an XML reader gets back: the URLs with their unsafe bytes escaped, nothing else changed.
  const std::vector<std::string> expected = {
      "http://127.0.0.1:8080/site/",
      "http://127.0.0.1:8080/site/a%20b.htm",
      "http://127.0.0.1:8080/site/tab%09here.htm",
      "http://127.0.0.1:8080/site/line%0D%0Abreak.htm",
      "http://127.0.0.1:8080/site/nul%00byte.htm",
      "http://127.0.0.1:8080/site/ctl%01%1F%7F.htm",
      "http://127.0.0.1:8080/site/q?a=1&b=2&amp;c",
      "http://127.0.0.1:8080/site/<tag>.htm",
      "http://127.0.0.1:8080/site/\"quoted\".htm",
      "http://127.0.0.1:8080/site/it's.htm",
      "http://127.0.0.1:8080/site/caf%C3%A9.htm",
      "http://127.0.0.1:8080/site/latin%E9.htm",
      "http://127.0.0.1:8080/site/back\\slash\\",
      "http://127.0.0.1:8080/site/doc.pdf",
  };
  run = RunTool(dir, {"xmllint", "--xpath", "count(/*[local-name()='urlset']/*[local-name()='url'])", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(std::stoul(run.out), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    run = RunTool(dir, {"xmllint", "--xpath",
                        "string(/*[local-name()='urlset']/*[local-name()='url'][" + std::to_string(i + 1) +
                            "]/*[local-name()='loc'])",
                        path});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    if (run.out.ends_with('\n')) run.out.pop_back();
    EXPECT_EQ(run.out, expected[i]);
  }

  // The schema does catch what the escaping prevents: a blank in a loc.
  std::string broken = ReadAll(path);
  const std::size_t at = broken.find("a%20b");
  ASSERT_NE(at, std::string::npos);
  broken.replace(at, 5, "a b");
  std::ofstream(dir / "broken.xml", std::ios::binary) << broken;
  run = RunTool(dir, {"xmllint", "--noout", "--schema", schema, (dir / "broken.xml").string()});
  EXPECT_NE(run.exitCode, 0);
}

// A site of more than 50,000 URLs, one of them too long for a loc: the chosen file is an index
// that the protocol's index schema accepts, naming files beside it that its sitemap schema
// accepts and that together hold every URL but the long one.
TEST_F(SitemapTools, LargeSitesGiveAnIndexAndFilesThatValidate) {
  QuietContext context;
  CWexoDoc doc{context.Context()};
  doc.SetRootUrl("http://127.0.0.1:8080/site/");
  const CLinkInfo* root = Add(doc, "http://127.0.0.1:8080/site/", nullptr, 200);
  constexpr int kUrls = 100001;
  for (int i = 1; i < kUrls; ++i) Add(doc, "http://127.0.0.1:8080/site/p" + std::to_string(i) + ".htm", root, 200);
  Add(doc, "http://127.0.0.1:8080/site/" + std::string(2100, 'x') + ".htm", root, 200);
  const std::string path = (dir / "sitemap.xml").string();
  ASSERT_TRUE(ExportSitemap(doc, path));

  const std::string schemas = WEXO_SOURCE_DIR "/tests/fixtures/";
  ToolRun run = RunTool(dir, {"xmllint", "--noout", "--schema", schemas + "sitemap-index-0.9.xsd", path});
  EXPECT_EQ(run.exitCode, 0) << run.err << ReadAll(path);
  run = RunTool(dir, {"xmllint", "--xpath", "//*[local-name()='loc']/text()", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "http://127.0.0.1:8080/site/sitemap-1.xml\nhttp://127.0.0.1:8080/site/sitemap-2.xml\n"
            "http://127.0.0.1:8080/site/sitemap-3.xml\n");
  std::size_t urls = 0;
  for (const char* part : {"sitemap-1.xml", "sitemap-2.xml", "sitemap-3.xml"}) {
    const std::string file = (dir / part).string();
    run = RunTool(dir, {"xmllint", "--noout", "--schema", schemas + "sitemap-0.9.xsd", file});
    EXPECT_EQ(run.exitCode, 0) << part << run.err.substr(0, 2000);
    run = RunTool(dir, {"xmllint", "--xpath", "count(/*[local-name()='urlset']/*[local-name()='url'])", file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    urls += std::stoul(run.out);
  }
  EXPECT_EQ(urls, static_cast<std::size_t>(kUrls));
  EXPECT_EQ(ReadAll(dir / "sitemap-3.xml").find("xxxx"), std::string::npos);
}

TEST_F(SitemapTools, GraphIsReadByDot) {
  OddSite site;
  const std::string path = (dir / "graph.gv").string();
  ASSERT_TRUE(ExportGraphViz(site.doc, path));

  const ToolRun run = RunTool(dir, {"dot", "-Tcanon", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("rror"), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.out, " -> "), site.edges) << run.out.substr(0, 2000);
  // Names with quotes and backslashes come back as written.
  EXPECT_NE(run.out.find("\"\\\"quoted\\\".htm\""), std::string::npos);
  EXPECT_NE(run.out.find("back\\\\slash\\\\"), std::string::npos);
}

TEST_F(SitemapTools, DotReadsNamesLongerThanItsStringLimit) {
  // dot cannot read one quoted string of more than about 16K bytes.
  QuietContext context;
  CWexoDoc doc(context.Context());
  doc.SetRootUrl("http://h/");
  const CLinkInfo* root = Add(doc, "http://h/", nullptr, 200);
  const std::string name = std::string(20000, 'x') + "\"\\" + std::string(20000, 'y');
  Add(doc, "http://h/" + name, root, 200);
  const std::string path = (dir / "long.gv").string();
  ASSERT_TRUE(ExportGraphViz(doc, path));

  const ToolRun run = RunTool(dir, {"dot", "-Tcanon", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("\"http://h/\" -> \"" + std::string(20000, 'x') + "\\\"\\\\" + std::string(20000, 'y') + "\""),
            std::string::npos)
      << run.out.substr(0, 300);
}

}  // namespace
