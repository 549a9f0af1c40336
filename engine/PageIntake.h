// The page intake: what a fetched page gives the link table, found without the table. The tag
// scan, the style sheets, a .jar's listing and the resolution of every link to its canonical
// URL depend only on the body and on a copy of the check's link rules, so they can run on the
// worker that fetched the page. What needs the table (lookup, new records, referrers, titles
// of other records, counts) is its owner's: the intake tells it to an IntakeSink, in the order
// found, either at once (the document's own sink) or recorded and replayed later.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/LinkInfo.h"

class CCharsetInfo;
struct FetchResult;
namespace platform {
class LineReader;
}

// What deciding about a link takes from a check's settings: a copy, immutable once made, so
// any thread may read it.
struct LinkRules {
  std::string root;
  std::vector<std::string> includes;
  std::vector<std::string> excludes;
  bool makeLowerCase = false;
  bool domainMatch = false;
  bool excludeMso = false;

  bool IsInternal(std::string_view url) const;
  bool IsExcluded(std::string_view url) const;
  bool operator==(const LinkRules&) const = default;
};

// The key that DomainMatch compares: the last two labels of an http or https host.
std::string GetDomain(std::string_view url);

// The tests behind LinkRules, for whoever holds the same settings apart.
bool IsInternalUrl(std::string_view url, const std::string& root, const std::vector<std::string>& includes,
                   bool domainMatch);
bool IsExcludedUrl(std::string_view url, const std::vector<std::string>& excludes, bool excludeMso);

// A link made ready for the table, and what a new record of it would be.
struct PreparedLink {
  bool internal = false;  // of the canonical URL
  bool excluded = false;  // of the canonical URL
  std::uint16_t requestKind = REQUEST_GET;
};

// Lower-casing and session ids (internal links only), then the canonical form; link is
// rewritten in place. Any thread.
PreparedLink PrepareLink(std::string& link, unsigned codePage, const LinkRules& rules);

// Thrown by a scan for a sink that cannot tell whether an anchor's text is wanted, when the
// answer would change what the scan finds.
struct IntakeLeftToOwner {};

// Told what a page holds, in the order the scan finds it.
class IntakeSink {
 public:
  virtual ~IntakeSink() = default;
  // A link of the page, canonical; its record is the one later calls speak of.
  virtual void Link(const std::string& url, const PreparedLink& prepared) = 0;
  // The link just given is a tag's own: its record's in-archive flag, and whether it is a
  // class inside an archive that is outside or one of several (pending records then are not
  // fetched).
  virtual void TagLink(bool inArchive, bool jarContent) = 0;
  // For the record of the last tag link: an image's ALT text, its title when it has none.
  virtual void AltTitle(const std::string& alt) = 0;
  // Whether the last tag link's record has no title, so an anchor's text is wanted; none when
  // the sink cannot tell yet: the scan then looks the text up without moving on and gives it
  // to AnchorText, for the sink to take only when the record has no title.
  virtual std::optional<bool> WantsAnchorText() = 0;
  virtual void AnchorText(const std::string& text) = 0;
  // The record of the last link lies in the .jar being listed.
  virtual void JarMember(std::int64_t size, std::int64_t date) = 0;
  // The page's own title: the first title element, a later one (nothing changes), a title
  // element too long to read.
  virtual void PageTitle(const std::string& title) = 0;
  virtual void PageTitleAgain() = 0;
  virtual void TitleTooLong() = 0;
  virtual void Charset(const std::string& name) = 0;
  virtual void Description(const std::string& text) = 0;
  virtual void Keywords(const std::string& text) = 0;
  // Reading the body failed: the question to ask (the body counts as ended).
  virtual void ReadFailed(const std::string& question) = 0;
  // The page's anchor names and fragments, at the end of its scan (also when it stops early).
  virtual void Names(std::vector<std::string>& anchors, std::vector<std::string>& fragments) = 0;
};

// The page a scan reads: its fetched URL (the base, and what self-links are), its charset
// when the scan starts, and the rules for its links.
struct IntakePage {
  const std::string& url;
  const CCharsetInfo* charset;
  const LinkRules& rules;
};

// The HTML tag scan of a page, line by line.
void ScanHtmlPage(const IntakePage& page, platform::LineReader& file, IntakeSink& sink);
// The links of a style sheet (consumed); references resolve against the page's URL.
void ScanCssText(const IntakePage& page, std::string& text, unsigned codePage, IntakeSink& sink);
// Every line of a body, each ending in its blank, joined; a read failure is told to sink.
std::string ReadAllLines(platform::LineReader& file, IntakeSink& sink);
// The members of a .jar body (folders left out) as links with their sizes and dates; false
// when it is no zip archive.
bool ListJarMembers(const IntakePage& page, const std::string& path, IntakeSink& sink);
// The question a failed read asks.
std::string ReadFailureQuestion(const platform::LineReader& file);

// A page's intake, recorded to be replayed on the user-interface thread. Texts live in one
// buffer, so a page of a million links costs little more than its URLs.
class PageIntake {
 public:
  PageIntake() = default;
  ~PageIntake();
  PageIntake(const PageIntake&) = delete;
  PageIntake& operator=(const PageIntake&) = delete;

  // What the intake assumed of its record; the owner takes it only when these still hold.
  std::shared_ptr<const LinkRules> rules;
  const CCharsetInfo* charset = nullptr;
  std::string mimeType;
  bool jar = false;
  // A .jar that opened as an archive (its links out changed).
  bool jarListed = false;
  // Why the scan ended early (a cut page, memory); nullptr when it did not.
  const char* note = nullptr;

  void Replay(IntakeSink& sink) const;
  // For the tests: the number of recorded steps.
  std::size_t Size() const { return m_steps.size(); }
  // Takes the memory the intake holds from the bound on bodies in memory (a result that waits
  // for the pump holds both); false, with nothing taken, when it does not fit.
  bool Count();

 private:
  std::size_t m_counted = 0;
  friend class IntakeRecorder;
  enum class Op : std::uint8_t {
    Link,
    TagLink,
    AltTitle,
    AnchorText,
    JarMember,
    PageTitle,
    PageTitleAgain,
    TitleTooLong,
    Charset,
    Description,
    Keywords,
    ReadFailed,
  };
  struct Step {
    Op op;
    bool internal = false;  // Link; TagLink: inArchive
    bool excluded = false;  // Link; TagLink: jarContent
    bool plainTag = false;  // Link: a TagLink without either flag follows
    std::uint16_t requestKind = 0;
    std::uint32_t length = 0;
    std::uint32_t offset = 0;
  };
  std::vector<Step> m_steps;
  std::string m_texts;
  std::vector<std::int64_t> m_jarData;  // size and date of each JarMember, in order
  std::vector<std::string> m_anchors;
  std::vector<std::string> m_fragments;
};

// Resolves a result's redirect target against its URL (csRedirectResolved) and adds it to the
// body as a link of the page, so it reaches the table when the page is read.
void PrepareRedirect(FetchResult& result, unsigned codePage);

// What the worker knows of its record when the fetch ends.
struct PageIntakeInput {
  std::shared_ptr<const LinkRules> rules;
  const CCharsetInfo* charset = nullptr;
  std::string mimeType;
};

// The intake of a fetched body, recorded and counted (PageIntake::Count); nullptr when the
// owner must read the page itself (the body does not open, the intake does not fit in memory,
// or the page is one whose scan depends on the table: see HtmlTagScan.cpp). Any thread.
std::shared_ptr<const PageIntake> TakeInPage(const PageIntakeInput& input, const FetchResult& result);
