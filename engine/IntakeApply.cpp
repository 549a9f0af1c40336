// The document's side of a page's intake: what needs the link table, on the user-interface
// thread, in the order the scan found it.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Charset.h"
#include "engine/Host.h"
#include "engine/PageIntake.h"
#include "engine/ReadLine.h"
#include "engine/WexoDoc.h"

namespace {

void AppendAll(std::vector<std::string>& to, std::vector<std::string>& from) {
  if (to.empty())
    to.swap(from);
  else
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  from.clear();
}

}  // namespace

// Applies a page's intake to the table: given at once by a scan on this thread, or replayed.
class CWexoDoc::TableSink final : public IntakeSink {
 public:
  TableSink(CWexoDoc& doc, const CLinkInfo* page) : m_doc(doc), m_page(page) {}

  void Link(const std::string& url, const PreparedLink& prepared) override {
    m_last = m_doc.AddPreparedLink(m_page, url, prepared);
  }
  void TagLink(bool inArchive, bool jarContent) override {
    m_tag = m_last;
    if (m_tag->m_bInJar != std::int32_t{inArchive})
      m_doc.UpdateLink(*m_tag, [inArchive](CLinkInfo& r) { r.m_bInJar = inArchive; });
    if (jarContent && m_tag->m_nStatus == STATUS_PENDING) m_doc.SetStatus(m_tag, STATUS_JAR_CONTENT, std::string());
  }
  void AltTitle(const std::string& alt) override {
    if (m_tag->m_csTitle.empty()) m_doc.UpdateLink(*m_tag, [&alt](CLinkInfo& r) { r.m_csTitle = alt; });
  }
  std::optional<bool> WantsAnchorText() override { return m_tag->m_csTitle.empty(); }
  void AnchorText(const std::string& text) override {
    // Recorded texts come for every anchor; only a record without a title takes one.
    if (m_tag->m_csTitle.empty()) m_doc.UpdateLink(*m_tag, [&text](CLinkInfo& r) { r.m_csTitle = text; });
  }
  void JarMember(std::int64_t size, std::int64_t date) override {
    m_doc.UpdateLink(*m_last, [size, date](CLinkInfo& m) {
      m.m_bInJar = 1;
      m.m_nSize = size;
      m.m_bDateKnown = 1;
      m.m_tDate = date;
    });
    m_doc.SetStatus(m_last, 200, std::string());
  }
  void PageTitle(const std::string& title) override {
    m_doc.UpdateLink(*m_page, [&title](CLinkInfo& page) { page.m_csTitle = title; });
  }
  void PageTitleAgain() override { m_doc.RecordChanged(m_page); }
  void TitleTooLong() override {
    m_doc.UpdateLink(*m_page, [](CLinkInfo& page) { page.m_csTitle = "!!! Title too long !!!"; });
  }
  void Charset(const std::string& name) override {
    m_doc.UpdateLink(*m_page, [&name](CLinkInfo& page) { SetCharset(&page, name); });
  }
  void Description(const std::string& text) override {
    m_doc.UpdateLink(*m_page, [&text](CLinkInfo& page) { page.m_csDescription = text; });
  }
  void Keywords(const std::string& text) override {
    m_doc.UpdateLink(*m_page, [&text](CLinkInfo& page) { page.m_csKeywords = text; });
  }
  void ReadFailed(const std::string& question) override { AskAfterReadFailure(question, m_doc.Host()); }
  void Names(std::vector<std::string>& anchors, std::vector<std::string>& fragments) override {
    m_doc.UpdateLink(*m_page, [&](CLinkInfo& page) {
      AppendAll(page.m_saAnchors, anchors);
      AppendAll(page.m_saFragments, fragments);
    });
  }

 private:
  CWexoDoc& m_doc;
  const CLinkInfo* m_page;
  const CLinkInfo* m_last = nullptr;  // the record of the last link
  const CLinkInfo* m_tag = nullptr;   // the record of the last tag link
};

void CWexoDoc::ScanHtml(const FetchResult& result, platform::LineReader& file) {
  if (!result.pLink) return;
  const std::shared_ptr<const LinkRules> rules = CurrentRules();
  TableSink sink(*this, result.pLink);
  ScanHtmlPage(IntakePage{result.csUrl, result.pLink->GetCharset(), *rules}, file, sink);
}

void CWexoDoc::ParseCss(const FetchResult& result, std::string& text, unsigned codePage) {
  const std::shared_ptr<const LinkRules> rules = CurrentRules();
  TableSink sink(*this, result.pLink);
  ScanCssText(IntakePage{result.csUrl, result.pLink ? result.pLink->GetCharset() : nullptr, *rules}, text, codePage,
              sink);
}

bool CWexoDoc::ListJar(const FetchResult& result) {
  const std::shared_ptr<const LinkRules> rules = CurrentRules();
  TableSink sink(*this, result.pLink);
  return ListJarMembers(IntakePage{result.csUrl, result.pLink->GetCharset(), *rules}, result.csBodyFile, sink);
}

std::string CWexoDoc::ReadCss(platform::LineReader& file, const CLinkInfo* page) {
  TableSink sink(*this, page);
  return ReadAllLines(file, sink);
}

bool CWexoDoc::ApplyIntake(const FetchResult& result) {
  const PageIntake* intake = result.intake.get();
  const CLinkInfo* link = result.pLink;
  // What the worker assumed must still hold, or the page is read here.
  if (!intake || !intake->rules || *intake->rules != *CurrentRules() || intake->charset != link->GetCharset() ||
      intake->mimeType != link->m_csMimeType)
    return false;
  TableSink sink(*this, link);
  intake->Replay(sink);
  if (intake->jar) {
    // The archive's count of links out changed.
    if (intake->jarListed) RecordChanged(link);
  } else if (intake->note) {
    m_table.SetStatusText(*m_table.Mutable(*link), intake->note);
  } else {
    RecordChanged(link);
  }
  return true;
}
