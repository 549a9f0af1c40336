#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/Application.h"
#include "engine/Charset.h"
#include "engine/Clock.h"
#include "engine/DocumentFile.h"
#include "engine/Fetch.h"
#include "engine/FetchWorker.h"
#include "engine/WexoDoc.h"
#include "platform/Archive.h"
#include "unit/support/FakeWorkers.h"
#include "unit/support/ScriptedHost.h"

namespace {

namespace fs = std::filesystem;

// Little-endian bytes written by hand, independently of the archive code.
struct Bytes {
  std::string s;
  Bytes& b(std::uint8_t v) {
    s.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& w(std::uint16_t v) { return b(v & 0xFF).b(v >> 8); }
  Bytes& d(std::uint32_t v) { return w(v & 0xFFFF).w(v >> 16); }
  Bytes& q(std::uint64_t v) { return d(static_cast<std::uint32_t>(v)).d(static_cast<std::uint32_t>(v >> 32)); }
  Bytes& raw(std::string_view v) {
    s.append(v);
    return *this;
  }
  // Strings below 255 bytes: a one-byte prefix.
  Bytes& str(std::string_view v) {
    EXPECT_LT(v.size(), 255u);
    return b(static_cast<std::uint8_t>(v.size())).raw(v);
  }
  Bytes& strs(const std::vector<std::string>& a) {
    w(static_cast<std::uint16_t>(a.size()));
    for (const auto& v : a) str(v);
    return *this;
  }
  Bytes& time(std::int64_t t) { return d(0x8000000A).q(static_cast<std::uint64_t>(t)); }
};

// One record as a file of a given record schema holds it.
struct Rec {
  std::vector<std::uint32_t> referrers;
  int referrerCount = -1;  // -1: the number of referrers
  std::uint32_t index = 0;
  std::uint16_t kind = REQUEST_GET;
  std::int64_t size = 0;
  std::string mime;
  std::int32_t dateKnown = 0;
  std::int64_t date = 0;
  bool oldTime = false;  // a bare 32-bit time
  std::int16_t status = 200;
  std::uint32_t linksOut = 0;
  std::string server, title;
  std::int16_t level = 0;
  std::string statusText;
  std::int32_t duration = 0;
  std::int16_t ms = 0;
  std::string charset, description;
  std::int32_t inJar = 0;
  std::string keywords;
  int digestFlag = 0;
  std::vector<std::string> anchors, fragments;
};

void PutRecord(Bytes& o, const Rec& r, unsigned schema) {
  o.w(static_cast<std::uint16_t>(r.referrerCount < 0 ? r.referrers.size() : r.referrerCount));
  for (auto v : r.referrers) schema > 8 ? o.d(v) : o.w(static_cast<std::uint16_t>(v));
  schema > 4 ? o.d(r.index) : o.w(static_cast<std::uint16_t>(r.index));
  o.w(r.kind);
  schema > 12 ? o.q(static_cast<std::uint64_t>(r.size)) : o.d(static_cast<std::uint32_t>(r.size));
  o.str(r.mime).d(static_cast<std::uint32_t>(r.dateKnown));
  r.oldTime ? o.d(static_cast<std::uint32_t>(r.date)) : o.time(r.date);
  o.w(static_cast<std::uint16_t>(r.status));
  schema > 4 ? o.d(r.linksOut) : o.w(static_cast<std::uint16_t>(r.linksOut));
  if (schema > 1) o.str(r.server);
  if (schema > 2) o.str(r.title);
  if (schema > 3) o.w(static_cast<std::uint16_t>(r.level));
  if (schema > 5) o.str(r.statusText);
  if (schema > 6) o.d(static_cast<std::uint32_t>(r.duration));
  if (schema > 13) o.w(static_cast<std::uint16_t>(r.ms));
  if (schema > 9) o.str(r.charset);
  if (schema > 11) o.str(r.description);
  if (schema > 14) o.d(static_cast<std::uint32_t>(r.inJar));
  if (schema > 15) o.str(r.keywords);
  if (schema > 16) {
    o.b(static_cast<std::uint8_t>(r.digestFlag));
    if (r.digestFlag == 1)
      for (int i = 0; i < 16; ++i) o.b(static_cast<std::uint8_t>(0xA0 + i));
  }
  if (schema > 7) o.strs(r.anchors).strs(r.fragments);
}

// A whole file, with knobs for the faults a hostile file may hold.
struct FileSpec {
  std::vector<std::string> urls;
  std::vector<Rec> recs;
  int recordCount = -1;  // -1: the number of records
  unsigned schema = 17;
  std::string className = "CLinkInfo";
  int laterTag = 0x8001;
  std::int16_t threadsItem = -30;  // item 8
  std::uint16_t version = 10;
  // The settings as numbered values, so any change of order shows.
  std::int32_t base = 100;
  std::vector<std::string> sources, targets;
  std::vector<std::uint16_t> codes;
  std::vector<std::string> include, exclude;
  std::string trailing;
};

std::string Build(const FileSpec& f) {
  Bytes o;
  o.strs(f.urls);
  o.w(static_cast<std::uint16_t>(f.recordCount < 0 ? f.recs.size() : f.recordCount));
  for (std::size_t i = 0; i < f.recs.size(); ++i) {
    if (i == 0)
      o.w(0xFFFF)
          .w(static_cast<std::uint16_t>(f.schema))
          .w(static_cast<std::uint16_t>(f.className.size()))
          .raw(f.className);
    else
      o.w(static_cast<std::uint16_t>(f.laterTag));
    PutRecord(o, f.recs[i], f.schema);
  }
  const std::int32_t v = f.base;
  o.d(v + 1).d(v + 2).d(0).d(1);  // CheckExternal, ShowBrokenOnly, then again
  o.w(3);                         // running workers
  o.w(static_cast<std::uint16_t>(f.threadsItem)).str("http://x/");
  const unsigned version = f.threadsItem < 0 ? f.version : 0;
  if (f.threadsItem < 0) o.w(f.version);
  if (version > 0) {
    for (int i = 0; i < 7; ++i) o.d(v + 10 + i);
    o.w(static_cast<std::uint16_t>(v + 17));
  }
  if (version > 2) o.d(1).d(v + 19).str("smtp").str("from").str("to").str("subject");
  if (version > 3) o.d(v + 20);
  if (version > 4) o.d(v + 21);
  if (version > 6) o.d(v + 22).d(v + 23);
  if (version > 7) o.str("Some Product 1.0");
  if (version > 8) o.d(90);
  if (version > 9) {
    for (int i = 0; i < 6; ++i) o.d(v + 30 + i);
    o.w(static_cast<std::uint16_t>(v + 36));
  }
  if (version > 10) o.d(v + 37);
  o.strs(f.sources).strs(f.targets);
  if (version > 5) {
    o.w(static_cast<std::uint16_t>(f.codes.size()));
    for (auto c : f.codes) o.w(c);
  }
  if (version >= 2) o.strs(f.include).strs(f.exclude);
  o.raw(f.trailing);
  return o.s;
}

// Two records, the second referred to by the first, every field set.
FileSpec SmallSpec() {
  FileSpec f;
  f.urls = {"http://x/", "http://x/a.html"};
  Rec root;
  root.index = 0;
  root.size = 1234;
  root.mime = "text/html";
  root.dateKnown = 1;
  root.date = 1700000000;
  root.linksOut = 1;
  root.server = "Apache";
  root.title = "Home";
  root.statusText = "fine";
  root.duration = 2;
  root.ms = 340;
  root.charset = "iso-8859-1";
  root.description = "desc";
  root.keywords = "kw";
  root.digestFlag = 1;
  root.anchors = {"top"};
  root.fragments = {"frag"};
  Rec child;
  child.referrers = {0};
  child.index = 1;
  child.status = 404;
  child.level = 1;
  f.recs = {root, child};
  f.sources = {"http://x/old"};
  f.targets = {"http://x/new"};
  f.codes = {301};
  f.include = {"http://inc/"};
  f.exclude = {"http://x/ex/"};
  return f;
}

class DocumentFileTest : public ::testing::Test {
 protected:
  DocumentFileTest() {
    char templ[] = "/tmp/wexo-docfile-XXXXXX";
    dir = mkdtemp(templ);
  }
  ~DocumentFileTest() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  std::unique_ptr<CWexoDoc> NewDoc(ScriptedView& v) {
    auto doc = std::make_unique<CWexoDoc>(host.Context());
    v.Attach(*doc);
    return doc;
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Read(const std::string& path) {
    std::string data, error;
    EXPECT_TRUE(platform::ReadWholeFile(path, data, error)) << error;
    return data;
  }

  // Loads bytes from memory into doc; the archive's message, or "" on success.
  static std::string Load(CWexoDoc& doc, std::string_view bytes) {
    try {
      platform::CArchive ar(bytes);
      doc.Serialize(ar);
      return std::string();
    } catch (const platform::CArchiveException& e) {
      return e.what();
    }
  }

  std::string dir;
  TempIni ini;
  ScriptedHost host;
  ScriptedView view;
};

// Files this process writes stop at a size for as long as it lives; a write past it fails
// (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::size_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_saved);
    m_savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_savedSignal);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_saved{};
  void (*m_savedSignal)(int) = SIG_DFL;
};

// --- the golden file ---

TEST_F(DocumentFileTest, GoldenBytesAndLoadBack) {
  const std::string title(254, 't'), description(255, 'd'), keywords(65533, 'k'), statusText(65534, 's');
  {
    std::int64_t now = 1000;
    FakeWorkers workers;
    CWexoDoc doc{host.Context(workers.Launcher(), [&now] { return now; })};
    view.Attach(doc);
    const CLinkInfo* root = doc.NewLink("http://example.com/", nullptr, REQUEST_GET);
    // Ninety seconds of checking: the root's fetch.
    doc.MarkRunning();
    doc.ScheduleFetches();
    ASSERT_EQ(workers.started.size(), 1u);
    now += 90;
    FakeWorkers::Finish(doc, workers.started[0], 200);
    ASSERT_EQ(doc.GetElapsedSeconds(), 90);
    const CLinkInfo* page = doc.NewLink("http://example.com/a.html", root, REQUEST_HEAD);
    doc.UpdateLink(*root, [](CLinkInfo& r) {
      r.m_nSize = 0x123456789;
      r.m_csMimeType = "text/html";
      r.m_bDateKnown = 1;
      r.m_tDate = 1700000000;
    });
    doc.SetStatus(root, 200);
    doc.UpdateLink(*root, [&](CLinkInfo& r) {
      r.m_nLinksOut = 1;
      InternServerName(&r, "Apache");
      r.m_csTitle = title;
      r.m_tsDuration = 3;
      r.m_nDurationMs = 250;
      SetCharset(&r, "UTF-8");
      r.m_csDescription = description;
      r.m_csKeywords = keywords;
      r.m_pDigest = std::make_unique<Md5Digest>();
      for (int i = 0; i < 16; ++i) (*r.m_pDigest)[i] = static_cast<std::uint8_t>(i);
      r.m_saAnchors = {"top"};
    });
    doc.SetStatus(page, STATUS_BUSY, statusText);
    doc.UpdateLink(*page, [](CLinkInfo& r) {
      r.m_bInJar = 1;
      r.m_saAnchors.assign(65534, std::string());
      r.m_saFragments.assign(65535, std::string());
    });

    ChangeSettings(doc, [](CheckSettings& s) {
      s.CheckExternal = 0;
      s.ShowBrokenOnly = 0;
      s.Threads = 5;
      s.AskPassword = 2;
      s.ReportBroken1 = 3;
      s.ReportBroken2 = 4;
      s.ReportFtpGopher = 5;
      s.ReportRedir = 6;
      s.ReportValid = 7;
      s.SiteMap = 8;
      s.MaxLevel = 9;
      s.EMail = 1;
      s.EMailOnlyIfBroken = 10;
      s.EMailSmtpServer = "smtp.example.com";
      s.EMailFrom = "a@example.com";
      s.EMailTo = "b@example.com";
      s.EMailSubject = "Links";
      s.RedirectIsError = 11;
      s.ReportBrokenLocal = 12;
      s.ReportStatistics = 13;
      s.ReportOrphans = 14;
      s.AllowCookies = 15;
      s.FailSimilarHosts = 16;
      s.ExcludeMSO = 17;
      s.AllowLocalFilesInRemoteCheck = 18;
      s.ListLocalDirectories = 19;
      s.MakeLowerCase = 20;
      s.MaxRetry = 21;
      s.PassiveFtp = 1;
    });
    doc.SetRootUrl("http://example.com/");
    doc.AddRedirect("http://example.com/old", "http://example.com/new", 301);
    doc.SetIncludes({"http://cdn.example.com/"});
    doc.SetExcludes({"http://example.com/private/"});
    ASSERT_TRUE(doc.IsModified());

    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, dir + "/golden.wxo", error)) << error;
    EXPECT_FALSE(doc.IsModified());
  }

  Bytes e;
  e.w(2).str("http://example.com/").str("http://example.com/a.html");
  e.w(2);
  // First record: the class header, then its fields.
  e.w(0xFFFF).w(17).w(9).raw("CLinkInfo");
  e.w(0).d(0).w(REQUEST_GET).q(0x123456789).str("text/html").d(1).time(1700000000).w(200).d(1).str("Apache");
  e.raw("\xFE").raw(title);
  e.w(0).str("").d(3).w(250).str("utf-8");
  e.raw(std::string("\xFF\xFF\x00", 3)).raw(description);
  e.d(0);
  e.raw("\xFF\xFD\xFF").raw(keywords);
  e.b(1);
  for (int i = 0; i < 16; ++i) e.b(static_cast<std::uint8_t>(i));
  e.strs({"top"}).w(0);
  // Later record: the class index tag; saved busy, so written as pending.
  e.w(0x8001);
  e.w(1).d(0).d(1).w(REQUEST_HEAD).q(0).str("").d(0).time(0).w(0).d(0).str("").str("").w(1);
  e.raw(std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)).raw(statusText);
  e.d(0).w(0).str("").str("").d(1).str("").b(0);
  const std::size_t bulkBegin = e.s.size();
  e.w(0xFFFE).raw(std::string(65534, '\0'));
  e.raw(std::string("\xFF\xFF\xFF\xFF\x00\x00", 6)).raw(std::string(65535, '\0'));
  const std::size_t bulkEnd = e.s.size();
  // Document items 3 to 27.
  e.d(0).d(0).d(0).d(0).w(0).w(static_cast<std::uint16_t>(-5)).str("http://example.com/").w(10);
  e.d(2).d(3).d(4).d(5).d(6).d(7).d(8).w(9);
  e.d(1).d(10).str("smtp.example.com").str("a@example.com").str("b@example.com").str("Links");
  e.d(11).d(12).d(13).d(14).str("Wexo Link Tolvak 1.3.9 beta").d(90);
  e.d(15).d(16).d(17).d(18).d(19).d(20).w(21);
  e.strs({"http://example.com/old"}).strs({"http://example.com/new"}).w(1).w(301);
  e.strs({"http://cdn.example.com/"}).strs({"http://example.com/private/"});

  const std::string saved = Read(dir + "/golden.wxo");
  if (saved != e.s) {
    std::size_t at = 0;
    while (at < saved.size() && at < e.s.size() && saved[at] == e.s[at]) ++at;
    FAIL() << "sizes " << saved.size() << " and " << e.s.size() << ", first difference at byte " << at;
  }
  // Nothing but the document is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  // Cut at every offset (inside the two arrays of empty strings, where each byte is one more
  // of the same element, at every 1009th and near their ends): each load fails and leaves
  // the document as it was.
  {
    ScriptedView cutView;
    auto cutDoc = NewDoc(cutView);
    for (std::size_t cut = 0; cut < saved.size(); ++cut) {
      const bool bulk = cut > bulkBegin + 16 && cut + 16 < bulkEnd;
      if (bulk && cut % 1009 != 0) continue;
      ASSERT_NE(Load(*cutDoc, std::string_view(saved).substr(0, cut)), "") << "cut at " << cut;
    }
    EXPECT_EQ(cutDoc->GetLinkCount(), 0u);
    EXPECT_TRUE(cutDoc->GetRedirectSources().empty());
    EXPECT_TRUE(cutView.rows.empty());
    EXPECT_EQ(cutView.schedulePosts, 0);
  }

  // Back again, field by field.
  ini.Set("Options", "Threads", "7");
  ScriptedView v2;
  auto doc = NewDoc(v2);
  std::string error;
  ASSERT_TRUE(doc->OnOpenDocument(dir + "/golden.wxo")) << error;
  ASSERT_EQ(doc->GetLinkCount(), 2u);
  const CLinkInfo* root = doc->GetLink(0);
  const CLinkInfo* page = doc->GetLink(1);
  EXPECT_EQ(root->GetUrl(), "http://example.com/");
  EXPECT_EQ(page->GetUrl(), "http://example.com/a.html");
  EXPECT_EQ(doc->FindLink("http://example.com/a.html"), page);
  EXPECT_EQ(root->m_pTable, &doc->Table());
  EXPECT_EQ(page->m_pTable, &doc->Table());
  EXPECT_TRUE(root->m_dwaReferrers.empty());
  EXPECT_EQ(page->m_dwaReferrers, std::vector<std::uint32_t>{0});
  EXPECT_EQ(root->m_wRequestKind, REQUEST_GET);
  EXPECT_EQ(page->m_wRequestKind, REQUEST_HEAD);
  EXPECT_EQ(root->m_nSize, 0x123456789);
  EXPECT_EQ(root->m_csMimeType, "text/html");
  EXPECT_EQ(root->m_bDateKnown, 1);
  EXPECT_EQ(root->m_tDate, 1700000000);
  EXPECT_EQ(root->m_nStatus, 200);
  EXPECT_EQ(page->m_nStatus, STATUS_PENDING);
  EXPECT_EQ(root->m_nLinksOut, 1u);
  EXPECT_EQ(root->GetServer(), "Apache");
  EXPECT_EQ(root->GetServerName(), InternServerNameText("Apache"));
  EXPECT_EQ(page->GetServerName(), nullptr);
  EXPECT_EQ(root->m_csTitle, title);
  EXPECT_EQ(root->m_nLevel, 0);
  EXPECT_EQ(page->m_nLevel, 1);
  EXPECT_EQ(page->m_csStatusText, statusText);
  EXPECT_EQ(root->m_tsDuration, 3);
  EXPECT_EQ(root->m_nDurationMs, 250);
  EXPECT_EQ(root->GetCharset(), InternCharset("utf-8"));
  EXPECT_EQ(page->GetCharset(), nullptr);
  EXPECT_EQ(root->m_csDescription, description);
  EXPECT_EQ(root->m_bInJar, 0);
  EXPECT_EQ(page->m_bInJar, 1);
  EXPECT_EQ(root->m_csKeywords, keywords);
  ASSERT_TRUE(root->m_pDigest);
  EXPECT_EQ((*root->m_pDigest)[15], 15);
  EXPECT_FALSE(page->m_pDigest);
  EXPECT_EQ(root->m_saAnchors, std::vector<std::string>{"top"});
  EXPECT_EQ(page->m_saAnchors.size(), 65534u);
  EXPECT_EQ(page->m_saFragments.size(), 65535u);
  EXPECT_EQ(page->GetAttempts(), 0);

  EXPECT_EQ(doc->GetPendingCount(), 1);
  EXPECT_EQ(doc->GetFinishedCount(), 1);
  EXPECT_EQ(doc->Settings().CheckExternal, 0);
  EXPECT_EQ(doc->Settings().ShowBrokenOnly, 0);
  EXPECT_EQ(doc->GetActiveThreadCount(), 0);
  EXPECT_EQ(doc->Settings().Threads, 7) << "Threads comes from the settings, not the file";
  EXPECT_EQ(doc->GetRootUrl(), "http://example.com/");
  EXPECT_EQ(doc->Settings().AskPassword, 2);
  EXPECT_EQ(doc->Settings().ReportBroken1, 3);
  EXPECT_EQ(doc->Settings().ReportBroken2, 4);
  EXPECT_EQ(doc->Settings().ReportFtpGopher, 5);
  EXPECT_EQ(doc->Settings().ReportRedir, 6);
  EXPECT_EQ(doc->Settings().ReportValid, 7);
  EXPECT_EQ(doc->Settings().SiteMap, 8);
  EXPECT_EQ(doc->Settings().MaxLevel, 9);
  EXPECT_EQ(doc->Settings().EMail, 0) << "a reopened check never mails";
  EXPECT_EQ(doc->Settings().EMailOnlyIfBroken, 10);
  EXPECT_EQ(doc->Settings().EMailSmtpServer, "smtp.example.com");
  EXPECT_EQ(doc->Settings().EMailFrom, "a@example.com");
  EXPECT_EQ(doc->Settings().EMailTo, "b@example.com");
  EXPECT_EQ(doc->Settings().EMailSubject, "Links");
  EXPECT_EQ(doc->Settings().RedirectIsError, 11);
  EXPECT_EQ(doc->Settings().ReportBrokenLocal, 12);
  EXPECT_EQ(doc->Settings().ReportStatistics, 13);
  EXPECT_EQ(doc->Settings().ReportOrphans, 14);
  EXPECT_EQ(doc->GetElapsedSeconds(), 90);
  EXPECT_EQ(doc->Settings().AllowCookies, 15);
  EXPECT_EQ(doc->Settings().FailSimilarHosts, 16);
  EXPECT_EQ(doc->Settings().ExcludeMSO, 17);
  EXPECT_EQ(doc->Settings().AllowLocalFilesInRemoteCheck, 18);
  EXPECT_EQ(doc->Settings().ListLocalDirectories, 19);
  EXPECT_EQ(doc->Settings().MakeLowerCase, 20);
  EXPECT_EQ(doc->Settings().MaxRetry, 21);
  EXPECT_EQ(doc->Settings().PassiveFtp, 0) << "not in a version-10 file";
  EXPECT_EQ(doc->GetRedirectSources(), std::vector<std::string>{"http://example.com/old"});
  EXPECT_EQ(doc->GetRedirectTargets(), std::vector<std::string>{"http://example.com/new"});
  EXPECT_EQ(doc->GetRedirectCodes(), std::vector<std::uint16_t>{301});
  EXPECT_EQ(doc->GetIncludes(), std::vector<std::string>{"http://cdn.example.com/"});
  EXPECT_EQ(doc->GetExcludes(), std::vector<std::string>{"http://example.com/private/"});

  EXPECT_TRUE(doc->IsRunning());
  EXPECT_FALSE(doc->IsPaused());
  EXPECT_FALSE(doc->IsModified());
  EXPECT_EQ(v2.resets, 1) << "the list builds its rows from the loaded table";
  EXPECT_EQ(doc->GetTargets(*doc->GetLink(0)), std::vector<std::uint32_t>{1}) << "links out come back";
  EXPECT_TRUE(doc->GetTargets(*doc->GetLink(1)).empty());
  EXPECT_EQ(v2.schedulePosts, 1);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DocumentFileTest, EncodingsAtTheirLimits) {
  struct Case {
    std::size_t length;
    std::string prefix;
  };
  const Case strings[] = {
      {0, std::string("\x00", 1)},
      {254, "\xFE"},
      {255, std::string("\xFF\xFF\x00", 3)},
      {65533, "\xFF\xFD\xFF"},
      {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
      {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
  };
  for (const auto& c : strings) {
    platform::CArchive out;
    out.WriteString(std::string(c.length, 'x'));
    EXPECT_EQ(out.Data(), c.prefix + std::string(c.length, 'x')) << c.length;
    platform::CArchive in(out.Data());
    EXPECT_EQ(in.ReadString().size(), c.length);
    EXPECT_EQ(in.Remaining(), 0u);
  }
  const std::pair<std::uint64_t, std::string> counts[] = {
      {65534, "\xFE\xFF"},
      {65535, std::string("\xFF\xFF\xFF\xFF\x00\x00", 6)},
      {0x100000000ull, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x01\x00\x00\x00", 14)},
  };
  for (const auto& [n, bytes] : counts) {
    platform::CArchive out;
    out.WriteCount(n);
    EXPECT_EQ(out.Data(), bytes) << n;
  }
  // An older file's bare 32-bit time, and a UTF-16 string, which comes back in code page 1252.
  platform::CArchive in(
      std::string_view("\x10\x00\x00\x00"
                       "\xFF\xFE\xFF\x02\xE9\x00\xAC\x20",
                       12));
  EXPECT_EQ(in.ReadTime(), 16);
  EXPECT_EQ(in.ReadString(), "\xE9\x80");
  EXPECT_EQ(in.Remaining(), 0u);
  platform::CArchive span;
  span.WriteTimeSpan(-2);
  span.WriteTimeSpan(1ll << 40);
  EXPECT_EQ(span.Data(), std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 8));
}

// --- what a save writes and what an open restores ---

TEST_F(DocumentFileTest, InFlightRecordsComeBackPendingAndAreFetchedAgain) {
  std::int64_t now = 5000;
  std::vector<FetchRequest> started;
  const EngineContext context = host.Context(
      [&](FetchRequest&& r) {
        started.push_back(std::move(r));
        return true;
      },
      [&] { return now; });
  {
    CWexoDoc doc{context};
    ScriptedView first;
    first.Attach(doc);
    doc.MarkRunning();
    // A first run of ten seconds fetches one record.
    const CLinkInfo* done = doc.NewLink("http://h/done", nullptr, REQUEST_GET);
    doc.ScheduleFetches();
    ASSERT_EQ(started.size(), 1u);
    now += 10;
    doc.OnUrlDone(FakeWorkers::Result(started[0], 200));
    ASSERT_EQ(done->m_nStatus, 200);
    // The second has run for thirty seconds: one worker has handed over its final status,
    // but the page waits for the pump; the other still runs.
    const CLinkInfo* queued = doc.NewLink("http://h/queued", nullptr, REQUEST_GET);
    const CLinkInfo* running = doc.NewLink("http://h/running", nullptr, REQUEST_GET);
    started.clear();
    doc.ScheduleFetches();
    ASSERT_EQ(started.size(), 2u);
    ASSERT_EQ(started[0].pLink, queued);
    now += 30;
    doc.OnUrlDone(FakeWorkers::Result(started[0], 200));
    ASSERT_EQ(queued->m_nStatus, 200);
    ASSERT_TRUE(doc.IsActive(queued));
    ASSERT_EQ(running->m_nStatus, STATUS_BUSY);
    ASSERT_EQ(doc.GetElapsedSeconds(), 40);
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, dir + "/busy.wxo", error)) << error;
    EXPECT_EQ(doc.GetElapsedSeconds(), 40) << "saving leaves the running check alone";
    EXPECT_TRUE(doc.IsActive(queued));
    started.clear();
  }
  auto doc = std::make_unique<CWexoDoc>(context);
  view.Attach(*doc);
  std::string error;
  ASSERT_TRUE(OpenDocumentFile(*doc, dir + "/busy.wxo", error)) << error;
  EXPECT_EQ(doc->GetLink(0)->m_nStatus, 200);
  EXPECT_EQ(doc->GetLink(1)->m_nStatus, STATUS_PENDING);
  EXPECT_EQ(doc->GetLink(2)->m_nStatus, STATUS_PENDING);
  EXPECT_EQ(doc->GetPendingCount(), 2);
  EXPECT_EQ(doc->GetFinishedCount(), 1);
  EXPECT_EQ(doc->GetActiveThreadCount(), 0);
  EXPECT_EQ(doc->GetElapsedSeconds(), 40) << "the running stretch is included";
  EXPECT_EQ(view.schedulePosts, 1);

  // The next tick fetches exactly the two that were in flight.
  doc->ScheduleFetches();
  std::vector<std::string> urls;
  for (const auto& r : started) urls.push_back(r.url);
  std::sort(urls.begin(), urls.end());
  EXPECT_EQ(urls, (std::vector<std::string>{"http://h/queued", "http://h/running"}));
  // Drain the workers so the document can go.
  for (const auto& r : started) doc->OnUrlDone(FakeWorkers::Result(r, 404));
  while (doc->WaitingResultCount() != 0) doc->ProcessFinishedFetches();
}

// Which pages stopped at the depth limit is not stored, yet a reopened check fetches such a
// page again once a shorter way to it turns up, and only such a page.
TEST_F(DocumentFileTest, PagesHeldAtTheDepthLimitAreKnownAgainAfterOpening) {
  const std::string path = dir + "/held.wxo";
  {
    CWexoDoc doc{host.Context()};
    ChangeSettings(doc, [](CheckSettings& s) { s.MaxLevel = 2; });
    const CLinkInfo* root = doc.NewLink("http://h/", nullptr, REQUEST_GET);
    const CLinkInfo* a = doc.NewLink("http://h/a.html", root, REQUEST_GET);
    const struct {
      const char* url;
      const char* type;
      std::uint16_t kind;
    } deep[] = {
        {"http://h/held.html", "text/html", REQUEST_GET},
        {"http://h/pic.png", "image/png", REQUEST_GET},
        {"http://h/page.html", "text/html", REQUEST_HEAD},
    };
    for (const auto& d : deep) {
      const CLinkInfo* link = doc.NewLink(d.url, a, d.kind);
      doc.UpdateLink(*link, [&](CLinkInfo& r) { r.m_csMimeType = d.type; });
    }
    for (std::size_t i = 0; i < doc.GetLinkCount(); ++i) doc.SetStatus(doc.GetLink(i), 200);
    // The two pages above the limit were parsed.
    for (const CLinkInfo* parsed : {root, a})
      doc.UpdateLink(*parsed, [](CLinkInfo& r) {
        r.m_csMimeType = "text/html";
        r.m_nLinksOut = 3;
      });
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, path, error)) << error;
  }
  CWexoDoc doc{host.Context()};
  view.Attach(doc);
  std::string error;
  ASSERT_TRUE(OpenDocumentFile(doc, path, error)) << error;
  ASSERT_EQ(doc.Settings().MaxLevel, 2);
  for (std::size_t i = 2; i < doc.GetLinkCount(); ++i) {
    ASSERT_EQ(doc.GetLink(i)->m_nLevel, 2);
    doc.AddReferrer(doc.GetLink(i), doc.GetLink(0));
    EXPECT_EQ(doc.GetLink(i)->m_nLevel, 1);
    EXPECT_EQ(doc.GetLink(i)->m_nStatus, i == 2 ? STATUS_PENDING : 200) << doc.GetUrl(i);
  }
  EXPECT_EQ(doc.GetPendingCount(), 1);
}

TEST_F(DocumentFileTest, FinishedCheckAsksItsEndQuestionAgain) {
  {
    CWexoDoc doc{host.Context()};
    doc.SetStatus(doc.NewLink("http://h/", nullptr, REQUEST_GET), 200);
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, dir + "/done.wxo", error)) << error;
  }
  auto doc = NewDoc(view);
  ASSERT_TRUE(doc->OnOpenDocument(dir + "/done.wxo"));
  EXPECT_EQ(view.schedulePosts, 1);
  doc->ScheduleFetches();
  EXPECT_TRUE(doc->IsFinished());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "Link tolvak finished. Do you want a report?");
}

TEST_F(DocumentFileTest, BatchOpenRechecksOnlyBrokenLinks) {
  for (const bool batch : {false, true}) {
    for (const int brokenOnly : {0, 1}) {
      SCOPED_TRACE(std::to_string(batch) + " " + std::to_string(brokenOnly));
      {
        CWexoDoc doc{host.Context()};
        doc.SetStatus(doc.NewLink("http://h/", nullptr, REQUEST_GET), 200);
        doc.SetStatus(doc.NewLink("http://h/gone", doc.GetLink(0), REQUEST_GET), 404);
        doc.SetStatus(doc.NewLink("http://ext/", doc.GetLink(0), REQUEST_GET), STATUS_SKIP_EXTERNAL);
        doc.NewLink("http://h/wait", doc.GetLink(0), REQUEST_GET);
        ChangeSettings(doc, [&](CheckSettings& s) { s.ShowBrokenOnly = brokenOnly; });
        std::string error;
        ASSERT_TRUE(SaveDocumentFile(doc, dir + "/b.wxo", error)) << error;
      }
      ScriptedView v;
      auto doc = NewDoc(v);
      host.app.m_bBatch = batch;
      ASSERT_TRUE(doc->OnOpenDocument(dir + "/b.wxo"));
      host.app.m_bBatch = 0;
      EXPECT_EQ(doc->IsBatch(), batch);
      EXPECT_EQ(doc->GetLink(0)->m_nStatus, 200);
      EXPECT_EQ(doc->GetLink(1)->m_nStatus, batch ? 0 : 404);
      EXPECT_EQ(doc->GetLink(2)->m_nStatus, STATUS_SKIP_EXTERNAL);
      EXPECT_EQ(doc->GetLink(3)->m_nStatus, 0);
      EXPECT_EQ(doc->GetPendingCount(), batch ? 2 : 1);
      EXPECT_EQ(doc->GetFinishedCount(), batch ? 2 : 3);
      EXPECT_TRUE(doc->IsRunning());
      EXPECT_GE(v.schedulePosts, batch ? 2 : 1);
      EXPECT_EQ(doc->Settings().ShowBrokenOnly, brokenOnly);
      // The list builds its rows again from the loaded table (it filters them itself).
      EXPECT_GE(v.resets, 1);
    }
  }
}

TEST_F(DocumentFileTest, ThreadsIsClampedSoTheFileReadsBack) {
  const std::pair<int, std::uint16_t> cases[] = {{0, 0xFFFF}, {-3, 0xFFFF}, {30, 0xFFE2}, {32767, 0x8001}};
  for (const auto& [threads, item] : cases) {
    CWexoDoc doc{host.Context()};
    ChangeSettings(doc, [&](CheckSettings& s) { s.Threads = static_cast<std::int16_t>(threads); });
    const std::string path = dir + "/t.wxo";
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, path, error)) << error;
    const std::string data = Read(path);
    // Two empty arrays, four 32-bit values and the worker count come first.
    ASSERT_GT(data.size(), 24u);
    EXPECT_EQ(static_cast<std::uint8_t>(data[22]) | static_cast<std::uint8_t>(data[23]) << 8, item) << threads;
    ScriptedView v;
    auto loaded = NewDoc(v);
    ASSERT_TRUE(OpenDocumentFile(*loaded, path, error)) << error;
    EXPECT_EQ(loaded->Settings().Threads, 30);
  }
}

TEST_F(DocumentFileTest, FailedSaveKeepsThePreviousFile) {
  const std::string path = dir + "/keep.wxo";
  {
    CWexoDoc doc{host.Context()};
    doc.NewLink("http://h/", nullptr, REQUEST_GET);
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, path, error)) << error;
  }
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const std::string before = Read(path);

  CWexoDoc bigger{host.Context()};
  bigger.NewLink("http://h/", nullptr, REQUEST_GET);
  bigger.NewLink("http://h/x", nullptr, REQUEST_GET);
  std::string error;
  {
    // The writes fail half-way: the bigger document does not fit the limit.
    FileSizeLimit limit(before.size());
    EXPECT_FALSE(SaveDocumentFile(bigger, path, error));
  }
  EXPECT_NE(error.find("keep.wxo"), std::string::npos) << error;
  EXPECT_EQ(Read(path), before);
  EXPECT_FALSE(SaveDocumentFile(bigger, dir + "/missing/x.wxo", error));

  // A good save replaces the file and keeps its mode; no temporary file is left behind.
  ASSERT_TRUE(SaveDocumentFile(bigger, path, error)) << error;
  EXPECT_NE(Read(path), before);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(DocumentFileTest, SaveAndOpenSetTheAbsolutePathName) {
  CWexoDoc doc{host.Context()};
  EXPECT_EQ(doc.GetPathName(), "");
  std::string error;
  EXPECT_FALSE(SaveDocumentFile(doc, dir + "/missing/x.wxo", error));
  EXPECT_EQ(doc.GetPathName(), "");
  const std::string path = fs::absolute(dir + "/p.wxo").lexically_normal().string();
  ASSERT_TRUE(SaveDocumentFile(doc, fs::relative(dir).string() + "/./p.wxo", error)) << error;
  EXPECT_EQ(doc.GetPathName(), path);
  ScriptedView v;
  auto loaded = NewDoc(v);
  ASSERT_TRUE(OpenDocumentFile(*loaded, path, error)) << error;
  EXPECT_EQ(loaded->GetPathName(), path);
}

// The file is read in blocks as it is parsed: values that straddle a block's end, and a
// string longer than a block, read back as from memory; a file cut anywhere is refused.
TEST_F(DocumentFileTest, AFileIsReadInBlocksAsItIsParsed) {
  const std::string path = dir + "/blocks.wxo";
  {
    CWexoDoc doc{host.Context()};
    const CLinkInfo* top = doc.NewLink("http://h/", nullptr, REQUEST_GET);
    doc.SetStatus(top, 200, "OK");
    doc.UpdateLink(*top, [](CLinkInfo& r) { r.m_csTitle = std::string(300000, 'T'); });
    for (int i = 0; i < 3000; ++i) {
      const CLinkInfo* page = doc.NewLink("http://h/" + std::to_string(i), top, REQUEST_GET);
      doc.SetStatus(page, 200, "OK");
      doc.UpdateLink(*page, [i](CLinkInfo& r) {
        r.m_csTitle = std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
      });
    }
    std::string error;
    ASSERT_TRUE(SaveDocumentFile(doc, path, error)) << error;
  }
  const std::string whole = Read(path);
  ASSERT_GT(whole.size(), 3 * 65536u);
  ScriptedView fromMemory, fromFile;
  auto expected = NewDoc(fromMemory);
  ASSERT_EQ(Load(*expected, whole), "");
  auto loaded = NewDoc(fromFile);
  std::string error;
  ASSERT_TRUE(OpenDocumentFile(*loaded, path, error)) << error;
  ASSERT_EQ(loaded->GetLinkCount(), expected->GetLinkCount());
  EXPECT_EQ(loaded->GetUrls(), expected->GetUrls());
  for (std::size_t i = 0; i < loaded->GetLinkCount(); ++i)
    ASSERT_EQ(loaded->GetLink(i)->m_csTitle, expected->GetLink(i)->m_csTitle) << i;

  for (const std::size_t cut : {std::size_t{100}, std::size_t{65535}, std::size_t{65537}, whole.size() - 1}) {
    SCOPED_TRACE(cut);
    const std::string cutPath = Write("cut.wxo", whole.substr(0, cut));
    ScriptedView v;
    auto doc = NewDoc(v);
    EXPECT_FALSE(OpenDocumentFile(*doc, cutPath, error));
    EXPECT_NE(error.find("' is not a valid document file: "), std::string::npos) << error;
    EXPECT_EQ(doc->GetLinkCount(), 0u);
  }
}

// --- older files ---

TEST_F(DocumentFileTest, OlderSettingsVersions) {
  ini.Set("Options", "E-Mail", "1");
  ini.Set("Options", "MaxLevel", "5");
  ini.Set("Options", "PassiveFtp", "1");
  for (const int version : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) {
    SCOPED_TRACE(version);
    FileSpec f = SmallSpec();
    const unsigned v = version < 0 ? 0 : static_cast<unsigned>(version);
    if (version < 0)
      f.threadsItem = 4;  // an older file without the settings block
    else
      f.version = static_cast<std::uint16_t>(version);
    ScriptedView vw;
    auto doc = NewDoc(vw);
    const CWexoDoc defaults{host.Context()};
    ASSERT_EQ(Load(*doc, Build(f)), "");
    EXPECT_EQ(doc->Settings().CheckExternal, 0);
    EXPECT_EQ(doc->Settings().ShowBrokenOnly, 1);
    EXPECT_EQ(doc->GetRootUrl(), "http://x/");
    EXPECT_EQ(doc->Settings().Threads, defaults.Settings().Threads);
    EXPECT_EQ(doc->Settings().AskPassword, v > 0 ? 110 : defaults.Settings().AskPassword);
    EXPECT_EQ(doc->Settings().SiteMap, v > 0 ? 116 : defaults.Settings().SiteMap);
    EXPECT_EQ(doc->Settings().MaxLevel, v > 0 ? 117 : 5);
    EXPECT_EQ(doc->Settings().EMail, v > 2 ? 0 : 1);
    EXPECT_EQ(doc->Settings().EMailOnlyIfBroken, v > 2 ? 119 : 0);
    EXPECT_EQ(doc->Settings().EMailSubject, v > 2 ? "subject" : "");
    EXPECT_EQ(doc->Settings().RedirectIsError, v > 3 ? 120 : defaults.Settings().RedirectIsError);
    EXPECT_EQ(doc->Settings().ReportBrokenLocal, v > 4 ? 121 : defaults.Settings().ReportBrokenLocal);
    EXPECT_EQ(doc->Settings().ReportStatistics, v > 6 ? 122 : defaults.Settings().ReportStatistics);
    EXPECT_EQ(doc->Settings().ReportOrphans, v > 6 ? 123 : defaults.Settings().ReportOrphans);
    EXPECT_EQ(doc->GetElapsedSeconds(), v > 8 ? 90 : 0);
    EXPECT_EQ(doc->Settings().AllowCookies, v > 9 ? 130 : defaults.Settings().AllowCookies);
    EXPECT_EQ(doc->Settings().MakeLowerCase, v > 9 ? 135 : defaults.Settings().MakeLowerCase);
    EXPECT_EQ(doc->Settings().MaxRetry, v > 9 ? 136 : defaults.Settings().MaxRetry);
    EXPECT_EQ(doc->Settings().PassiveFtp, v > 10 ? 137 : 1);
    EXPECT_EQ(doc->GetRedirectSources(), std::vector<std::string>{"http://x/old"});
    EXPECT_EQ(doc->GetRedirectCodes(), std::vector<std::uint16_t>{static_cast<std::uint16_t>(v > 5 ? 301 : 0)});
    EXPECT_EQ(doc->GetIncludes(), v >= 2 ? std::vector<std::string>{"http://inc/"} : std::vector<std::string>{});
    EXPECT_EQ(doc->GetExcludes(), v >= 2 ? std::vector<std::string>{"http://x/ex/"} : std::vector<std::string>{});
    EXPECT_EQ(doc->GetLinkCount(), 2u);
    EXPECT_GE(vw.resets, 1) << "the list builds its rows again";
    EXPECT_EQ(vw.schedulePosts, 1);
  }
}

TEST_F(DocumentFileTest, OlderRecordSchemas) {
  for (const unsigned schema : {0u, 1u, 2u, 4u, 5u, 8u, 9u, 12u, 13u, 16u, 17u}) {
    SCOPED_TRACE(schema);
    FileSpec f = SmallSpec();
    f.schema = schema;
    f.recs[0].size = 0xFFFFFFF0;  // a 32-bit size is unsigned
    f.recs[0].oldTime = schema < 5;
    f.recs[1].status = STATUS_BUSY;  // nothing runs for a loaded record
    ScriptedView vw;
    auto doc = NewDoc(vw);
    ASSERT_EQ(Load(*doc, Build(f)), "");
    const CLinkInfo* r = doc->GetLink(0);
    const CLinkInfo* c = doc->GetLink(1);
    EXPECT_EQ(c->m_dwaReferrers, std::vector<std::uint32_t>{0});
    EXPECT_EQ(c->m_nIndex, 1u);
    EXPECT_EQ(r->m_nSize, 0xFFFFFFF0);
    EXPECT_EQ(r->m_tDate, 1700000000);
    EXPECT_EQ(r->m_nStatus, 200);
    EXPECT_EQ(c->m_nStatus, STATUS_PENDING);
    EXPECT_EQ(doc->GetPendingCount(), 1);
    EXPECT_EQ(doc->GetFinishedCount(), 1);
    EXPECT_EQ(r->m_nLinksOut, 1u);
    EXPECT_EQ(r->GetServer(), schema > 1 ? "Apache" : "");
    EXPECT_EQ(r->m_csTitle, schema > 2 ? "Home" : "");
    EXPECT_EQ(c->m_nLevel, schema > 3 ? 1 : -1);
    EXPECT_EQ(r->m_csStatusText, schema > 5 ? "fine" : "");
    EXPECT_EQ(r->m_tsDuration, schema > 6 ? 2 : 0);
    EXPECT_EQ(r->m_saAnchors, schema > 7 ? std::vector<std::string>{"top"} : std::vector<std::string>{});
    EXPECT_EQ(r->GetCharsetName(), schema > 9 ? "iso-8859-1" : "");
    EXPECT_EQ(r->m_csDescription, schema > 11 ? "desc" : "");
    EXPECT_EQ(r->m_nDurationMs, schema > 13 ? 340 : 0);
    EXPECT_EQ(r->m_csKeywords, schema > 15 ? "kw" : "");
    EXPECT_EQ(static_cast<bool>(r->m_pDigest), schema > 16);
  }
}

// --- files that must not open ---

TEST_F(DocumentFileTest, TruncatedFilesFailAndApplyNothing) {
  std::string error;
  {
    FileSpec f = SmallSpec();
    ScriptedView vw;
    auto doc = NewDoc(vw);
    ASSERT_EQ(Load(*doc, Build(f)), "");
    ASSERT_TRUE(SaveDocumentFile(*doc, dir + "/small.wxo", error)) << error;
  }
  const std::string whole = Read(dir + "/small.wxo");
  auto doc = NewDoc(view);
  doc->SetRootUrl("untouched");
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const std::string message = Load(*doc, std::string_view(whole).substr(0, cut));
    ASSERT_FALSE(message.empty()) << "cut at " << cut;
  }
  EXPECT_EQ(doc->GetLinkCount(), 0u);
  EXPECT_TRUE(doc->GetUrls().empty());
  EXPECT_EQ(doc->GetRootUrl(), "untouched");
  EXPECT_EQ(doc->Settings().CheckExternal, 1);
  EXPECT_EQ(doc->GetPendingCount(), 0);
  EXPECT_TRUE(doc->GetRedirectSources().empty());
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.schedulePosts, 0);
  EXPECT_FALSE(doc->IsRunning());

  // The same through the program's open step: a message, no document.
  const std::string path = Write("cut.wxo", whole.substr(0, whole.size() - 1));
  EXPECT_FALSE(doc->OnOpenDocument(path));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].rfind("File '" + path + "' is not a valid document file: the file ends early", 0), 0u)
      << host.boxes[0];
  EXPECT_FALSE(OpenDocumentFile(*doc, dir + "/none.wxo", error));
  EXPECT_EQ(error.rfind("File '" + dir + "/none.wxo' could not be opened: ", 0), 0u) << error;
  EXPECT_EQ(doc->GetLinkCount(), 0u);
  EXPECT_EQ(view.schedulePosts, 0);
}

TEST_F(DocumentFileTest, HostileFilesFail) {
  struct Case {
    const char* name;
    std::function<std::string()> make;
    const char* message;
  };
  auto with = [](std::function<void(FileSpec&)> change) {
    return [change] {
      FileSpec f = SmallSpec();
      change(f);
      return Build(f);
    };
  };
  // The first record with the class index tag in place of its class header.
  auto firstAsIndex = [] {
    const std::string good = Build(SmallSpec());
    const std::size_t header = 2 + 10 + 16 + 2;  // two URLs and the record count come first
    EXPECT_EQ(good.substr(header, 6), std::string("\xFF\xFF\x11\x00\x09\x00", 6));
    return good.substr(0, header) + std::string("\x01\x80", 2) + good.substr(header + 15);
  };
  const Case cases[] = {
      {"huge 64-bit URL count",
       [] { return std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x10\x00\x00\x00\x00", 14); },
       "is more than the file holds"},
      {"huge 32-bit URL count",
       [] {
         return std::string(
             "\xFF\xFF\xFE\xFF\xFF\xFF"
             "abcdefgh",
             14);
       },
       "is more than the file holds"},
      {"huge string length",
       [] {
         return std::string(
             "\x01\x00\xFF\xFF\xFF\xF0\xFF\xFF\x7F"
             "abc",
             12);
       },
       "the file ends early"},
      {"huge UTF-16 string",
       [] {
         return std::string(
             "\x01\x00\xFF\xFE\xFF\x05"
             "abcdefghi",
             15);
       },
       "the file ends early"},
      {"huge record count", with([](FileSpec& f) { f.recordCount = 0xFFFF; }), "is more than the file holds"},
      {"more records than URLs", with([](FileSpec& f) { f.urls.pop_back(); }), "1 URLs but 2 records"},
      {"more URLs than records", with([](FileSpec& f) { f.urls.push_back("http://x/b"); }), "3 URLs but 2 records"},
      {"back-reference", with([](FileSpec& f) { f.laterTag = 0x0002; }), "unexpected object tag 0x0002"},
      {"null object", with([](FileSpec& f) { f.laterTag = 0x0000; }), "unexpected object tag 0x0000"},
      {"second class", with([](FileSpec& f) { f.laterTag = 0x8002; }), "unexpected object tag 0x8002"},
      {"new class again", with([](FileSpec& f) { f.laterTag = 0xFFFF; }), "unexpected object tag 0xFFFF"},
      {"big object tag", with([](FileSpec& f) { f.laterTag = 0x7FFF; }), "unexpected object tag 0x7FFF"},
      {"first record as a class index", firstAsIndex, "unexpected object tag 0x8001"},
      {"other class", with([](FileSpec& f) { f.className = "CLinkInfX"; }), "unknown class"},
      {"shorter class name", with([](FileSpec& f) { f.className = "CObject"; }), "unknown class"},
      {"newer record schema", with([](FileSpec& f) { f.schema = 18; }), "record schema 18"},
      {"bad index", with([](FileSpec& f) { f.recs[1].index = 0; }), "record 1 gives its index as 0"},
      {"index beyond the table", with([](FileSpec& f) { f.recs[0].index = 7; }), "record 0 gives its index as 7"},
      {"referrer outside the table", with([](FileSpec& f) {
         f.recs[1].referrers = {0, 2};
       }),
       "record 1 names referrer 2"},
      {"huge referrer count", with([](FileSpec& f) { f.recs[1].referrerCount = 0xFFFE; }),
       "is more than the file holds"},
      {"digest flag 2", with([](FileSpec& f) { f.recs[0].digestFlag = 2; }), "digest flag is 2"},
      {"fewer redirect targets", with([](FileSpec& f) { f.targets.clear(); }), "redirect lists differ"},
      {"more redirect codes", with([](FileSpec& f) { f.codes.push_back(302); }), "redirect lists differ"},
      {"old file, fewer targets", with([](FileSpec& f) {
         f.targets.clear();
         f.version = 5;
       }),
       "redirect lists differ"},
      {"newer settings version", with([](FileSpec& f) { f.version = 12; }), "settings version 12"},
      {"data after the end", with([](FileSpec& f) { f.trailing = "x"; }), "unexpected data after the end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = c.make();
    const std::string path = Write("hostile.wxo", bytes);
    ScriptedView vw;
    auto doc = NewDoc(vw);
    std::string error;
    ASSERT_FALSE(OpenDocumentFile(*doc, path, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(doc->GetLinkCount(), 0u);
    EXPECT_TRUE(doc->GetUrls().empty());
    EXPECT_EQ(doc->GetPendingCount(), 0);
    EXPECT_TRUE(vw.rows.empty());
    EXPECT_EQ(vw.schedulePosts, 0);
  }
}

TEST_F(DocumentFileTest, DuplicateUrlsOpenAndTheLastRecordIsFound) {
  FileSpec f = SmallSpec();
  f.urls = {"http://x/", "http://x/"};
  auto doc = NewDoc(view);
  ASSERT_EQ(Load(*doc, Build(f)), "");
  ASSERT_EQ(doc->GetLinkCount(), 2u);
  EXPECT_EQ(doc->FindLink("http://x/"), doc->GetLink(1));
  EXPECT_EQ(doc->GetLink(0)->GetUrl(), "http://x/");
  EXPECT_EQ(doc->GetFinishedCount(), 2);
}

TEST_F(DocumentFileTest, RecordSerializeAloneRoundTrips) {
  CLinkInfo link;
  link.m_nIndex = 3;
  link.m_dwaReferrers = {1, 2};
  link.m_csTitle = "T";
  link.m_nStatus = STATUS_BUSY;
  InternServerName(&link, "nginx");
  SetCharset(&link, "windows-1250");
  platform::CArchive out;
  link.Serialize(out);
  // As the document writes it: the class header in front.
  platform::CArchive header;
  header.WriteObjectTag("CLinkInfo", 17);
  const std::string bytes = header.Data() + out.Data();
  platform::CArchive in(bytes);
  ASSERT_EQ(in.ReadObjectTag("CLinkInfo"), 17);
  CLinkInfo back;
  back.Serialize(in);
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_EQ(back.m_nIndex, 3u);
  EXPECT_EQ(back.m_dwaReferrers, link.m_dwaReferrers);
  EXPECT_EQ(back.m_csTitle, "T");
  EXPECT_EQ(back.m_nStatus, STATUS_PENDING);
  EXPECT_EQ(back.GetServerName(), InternServerNameText("nginx"));
  EXPECT_EQ(back.GetCharset(), InternCharset("windows-1250"));
}

}  // namespace
