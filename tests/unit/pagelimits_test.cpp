// The bounds on one page: a body is parsed to kPageLimit bytes, and a page whose parse runs
// out of memory ends alone, keeping the links found so far.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/Fetch.h"
#include "engine/WexoDoc.h"
#include "unit/support/ScriptedHost.h"

namespace {

// Allocations of this size or more fail while a test asks for it.
std::atomic<std::size_t> g_failFrom{SIZE_MAX};

}  // namespace

void* operator new(std::size_t size) {
  if (size >= g_failFrom.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

const std::string kPage = "http://www.example.com/dir/page.html";
const std::string kDir = "http://www.example.com/dir/";

class PageLimitsTest : public ::testing::Test {
 protected:
  PageLimitsTest() {
    char name[] = "/tmp/wexo-limits-XXXXXX";
    const int fd = mkstemp(name);
    ::close(fd);
    m_path = name;
    doc.SetRootUrl("http://www.example.com/");
    view.Attach(doc);
  }
  ~PageLimitsTest() override { ::unlink(m_path.c_str()); }

  // Writes each text at its offset into a file of size bytes (the rest reads as zeros).
  void WriteBody(std::uint64_t size, const std::vector<std::pair<std::uint64_t, std::string>>& texts) {
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    for (const auto& [offset, text] : texts)
      ASSERT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }

  // Parses the body file as the fetched page kPage, as the pump does.
  const CLinkInfo* Parse() {
    const CLinkInfo* page = doc.NewLink(kPage + "?" + std::to_string(++m_pages), nullptr, REQUEST_GET);
    doc.UpdateLink(*page, [](CLinkInfo& r) { r.m_csMimeType = "text/html"; });
    doc.SetStatus(page, 200);
    FetchResult result;
    result.pLink = page;
    result.csUrl = page->GetUrl();
    result.csBodyFile = m_path;
    result.bBodyIsTemp = false;
    doc.ParseFetchedPage(result);
    return page;
  }

  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
  CWexoDoc doc{host.Context()};
  std::string m_path;
  int m_pages = 0;
};

TEST_F(PageLimitsTest, ABodyIsParsedToTheLimit) {
  const std::uint64_t limit = static_cast<std::uint64_t>(kPageLimit);
  const std::string late = "<a href=\"late.html\">";
  // Exactly the limit: all of it is read.
  WriteBody(limit, {{0, "<a href=\"first.html\">"}, {limit - late.size(), late}});
  const CLinkInfo* page = Parse();
  EXPECT_EQ(page->m_nStatus, 200);
  EXPECT_EQ(page->m_csStatusText, "");
  EXPECT_NE(doc.FindLink(kDir + "first.html"), nullptr);
  EXPECT_NE(doc.FindLink(kDir + "late.html"), nullptr);

  // One byte more: the link beyond the limit is not seen, and the page says so.
  WriteBody(limit + 100, {{0, "<a href=\"second.html\">"}, {limit + 10, "<a href=\"beyond.html\">"}});
  page = Parse();
  EXPECT_EQ(page->m_nStatus, 200);
  EXPECT_EQ(page->m_csStatusText, "page larger than 64 MiB: only its first 64 MiB were checked");
  EXPECT_NE(doc.FindLink(kDir + "second.html"), nullptr);
  EXPECT_EQ(doc.FindLink(kDir + "beyond.html"), nullptr);
}

TEST_F(PageLimitsTest, RunningOutOfMemoryEndsOnlyThatPage) {
  // A title that never closes takes its whole (one-line) page into memory.
  const std::string body =
      "<a name=kept href=\"found.html\">found</a><title>" + std::string(20 << 20, 't') + "<a href=\"after.html\">";
  WriteBody(body.size(), {{0, body}});
  g_failFrom = std::size_t{8} << 20;
  const CLinkInfo* page = Parse();
  g_failFrom = SIZE_MAX;
  EXPECT_EQ(page->m_nStatus, 200);
  EXPECT_EQ(page->m_csStatusText, "out of memory while parsing the page");
  EXPECT_NE(doc.FindLink(kDir + "found.html"), nullptr);
  EXPECT_EQ(page->m_saAnchors, std::vector<std::string>{"kept"}) << "what the scan found is kept";
  EXPECT_EQ(doc.FindLink(kDir + "after.html"), nullptr);

  // With the memory back, the same page parses to its end.
  page = Parse();
  EXPECT_EQ(page->m_csStatusText, "");
  EXPECT_NE(doc.FindLink(kDir + "after.html"), nullptr);
}

}  // namespace
