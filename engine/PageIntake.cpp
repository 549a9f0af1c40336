#include "engine/PageIntake.h"

#include <cstdint>
#include <ctime>
#include <new>

#include "algorithms/Regex.h"
#include "engine/Charset.h"
#include "engine/CheckSettings.h"
#include "engine/Fetch.h"
#include "engine/HtmlEscape.h"
#include "engine/ReadLine.h"
#include "engine/SettingPatterns.h"
#include "engine/Url.h"
#include "engine/ZipFile.h"
#include "platform/AsciiText.h"
#include "platform/TextFile.h"

namespace {

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Internal links to these are only asked for their headers: their bodies are never parsed.
bool IsHeadExtension(std::string_view ext) {
  static constexpr std::string_view kHead[] = {
      "gif",  "png", "jpg", "ico", "txt", "rtf", "pdf", "doc", "docx", "docm", "xls", "xlsx", "xlsm", "ppt", "pptx",
      "pptm", "msi", "exe", "zip", "rar", "mpg", "mp3", "mp4", "avi",  "wmv",  "asx", "asf",  "swf",  "js"};
  if (ext.size() < 2 || ext.size() > 4) return false;
  for (std::string_view e : kHead)
    if (e == ext) return true;
  return false;
}

std::uint16_t RequestKindByExtension(std::string_view url) {
  const std::size_t query = url.find('?');
  if (query != std::string_view::npos && query != 0) url = url.substr(0, query);
  const std::size_t dot = url.rfind('.');
  if (dot == std::string_view::npos) return REQUEST_GET;
  const std::string ext = platform::AsciiLowered(url.substr(dot + 1));
  return IsHeadExtension(ext) ? REQUEST_HEAD : REQUEST_GET;
}

std::int64_t DosTimeToUtc(std::uint16_t date, std::uint16_t time) {
  std::tm tm{};
  tm.tm_year = ((date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = (time >> 11) & 0x1F;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

}  // namespace

std::string GetDomain(std::string_view url) {
  std::string_view key;
  if (url.starts_with("http://"))
    key = url.substr(7);
  else if (url.starts_with("https://"))
    key = url.substr(8);
  else
    return std::string();
  const std::size_t slash = key.find('/');
  if (slash != std::string_view::npos) key = key.substr(0, slash);
  const std::size_t last = key.rfind('.');
  if (last == std::string_view::npos) return std::string();
  const std::size_t before = key.substr(0, last).rfind('.');
  if (before != std::string_view::npos) key = key.substr(before + 1);
  return std::string(key);
}

bool IsInternalUrl(std::string_view url, const std::string& root, const std::vector<std::string>& includes,
                   bool domainMatch) {
  if (url.starts_with(root)) return true;
  const std::string key = domainMatch ? GetDomain(url) : std::string();
  if (domainMatch && key == GetDomain(root)) return true;
  for (const std::string& prefix : includes)
    if (url.starts_with(prefix)) return true;
  if (domainMatch)
    for (const std::string& prefix : includes)
      if (key == GetDomain(prefix)) return true;
  return false;
}

bool IsExcludedUrl(std::string_view url, const std::vector<std::string>& excludes, bool excludeMso) {
  if (excludeMso && (EndsWith(url, "filelist.xml") || EndsWith(url, "editdata.mso") || EndsWith(url, "oledata.mso")))
    return true;
  for (const std::string& prefix : excludes)
    if (url.starts_with(prefix)) return true;
  return false;
}

bool LinkRules::IsInternal(std::string_view url) const { return IsInternalUrl(url, root, includes, domainMatch); }

bool LinkRules::IsExcluded(std::string_view url) const { return IsExcludedUrl(url, excludes, excludeMso); }

PreparedLink PrepareLink(std::string& link, unsigned codePage, const LinkRules& rules) {
  // Lower-casing and session-id rewriting apply only to internal links that are not excluded.
  // A link without capitals and without non-ASCII bytes is its own lower-case copy.
  const bool lowerAlready = !platform::HasAsciiUpperOrHighBytes(link);
  const bool internalLink =
      (lowerAlready ? rules.IsInternal(link) : rules.IsInternal(ToLowerInCodePage(link, codePage))) &&
      !rules.IsExcluded(link);
  const bool lowerCase = rules.makeLowerCase && internalLink;
  if (internalLink) {
    // A compiled pattern keeps its last match: one set per thread.
    thread_local SettingPatterns sessionIds(SessionIdPatternKeys());
    for (const std::unique_ptr<Regex>& re : sessionIds.Current()) {
      if (re && re->Match(link) && re->GroupCount() == 2) {
        std::string rewritten = re->Substitute("\\1\\2");
        link.swap(rewritten);
      }
    }
  }
  CanonicalizeUrl(link, lowerCase, codePage);
  PreparedLink prepared;
  prepared.excluded = rules.IsExcluded(link);
  prepared.internal = rules.IsInternal(link);
  // An excluded record is never fetched; it gets the kind it would have had.
  prepared.requestKind = prepared.internal ? RequestKindByExtension(link) : std::uint16_t{REQUEST_HEAD};
  return prepared;
}

std::string ReadAllLines(platform::LineReader& file, IntakeSink& sink) {
  std::string text, line;
  while (ReadLine(file, line)) text += line;
  if (file.Failed()) sink.ReadFailed(ReadFailureQuestion(file));
  return text;
}

bool ListJarMembers(const IntakePage& page, const std::string& path, IntakeSink& sink) {
  CZipFile zip(path);
  if (zip.Open() != 0) return false;
  for (int i = 0; i < zip.GetCount(); ++i) {
    const ZipEntry* entry = zip.GetEntry(i);
    if (!entry || entry->name.ends_with('/')) continue;
    std::string text = page.url + "/" + entry->name;
    const unsigned codePage = page.charset ? page.charset->m_nCodePage : 0;
    const PreparedLink prepared = PrepareLink(text, codePage, page.rules);
    sink.Link(text, prepared);
    sink.JarMember(entry->uncompressedSize, DosTimeToUtc(entry->modDate, entry->modTime));
  }
  return true;
}

// Keeps what the scan tells, to be replayed.
class IntakeRecorder final : public IntakeSink {
 public:
  explicit IntakeRecorder(PageIntake& intake) : m_intake(intake) {}

  void Link(const std::string& url, const PreparedLink& prepared) override {
    PageIntake::Step& step = Add(PageIntake::Op::Link, url);
    step.internal = prepared.internal;
    step.excluded = prepared.excluded;
    step.requestKind = prepared.requestKind;
  }
  void TagLink(bool inArchive, bool jarContent) override {
    // The common case rides on its link's step.
    if (!inArchive && !jarContent && !m_intake.m_steps.empty() && m_intake.m_steps.back().op == PageIntake::Op::Link) {
      m_intake.m_steps.back().plainTag = true;
      return;
    }
    PageIntake::Step& step = Add(PageIntake::Op::TagLink, {});
    step.internal = inArchive;
    step.excluded = jarContent;
  }
  void AltTitle(const std::string& alt) override { Add(PageIntake::Op::AltTitle, alt); }
  std::optional<bool> WantsAnchorText() override { return std::nullopt; }
  void AnchorText(const std::string& text) override { Add(PageIntake::Op::AnchorText, text); }
  void JarMember(std::int64_t size, std::int64_t date) override {
    Add(PageIntake::Op::JarMember, {});
    m_intake.m_jarData.push_back(size);
    m_intake.m_jarData.push_back(date);
  }
  void PageTitle(const std::string& title) override { Add(PageIntake::Op::PageTitle, title); }
  void PageTitleAgain() override { Add(PageIntake::Op::PageTitleAgain, {}); }
  void TitleTooLong() override { Add(PageIntake::Op::TitleTooLong, {}); }
  void Charset(const std::string& name) override { Add(PageIntake::Op::Charset, name); }
  void Description(const std::string& text) override { Add(PageIntake::Op::Description, text); }
  void Keywords(const std::string& text) override { Add(PageIntake::Op::Keywords, text); }
  void ReadFailed(const std::string& question) override { Add(PageIntake::Op::ReadFailed, question); }
  void Names(std::vector<std::string>& anchors, std::vector<std::string>& fragments) override {
    m_intake.m_anchors.swap(anchors);
    m_intake.m_fragments.swap(fragments);
  }

 private:
  PageIntake::Step& Add(PageIntake::Op op, std::string_view text) {
    // Pages are far smaller; one whose texts would not fit is read by the owner.
    if (m_intake.m_texts.size() + text.size() > UINT32_MAX) throw IntakeLeftToOwner();
    PageIntake::Step& step = m_intake.m_steps.emplace_back();
    step.op = op;
    step.offset = static_cast<std::uint32_t>(m_intake.m_texts.size());
    step.length = static_cast<std::uint32_t>(text.size());
    m_intake.m_texts.append(text);
    return step;
  }

  PageIntake& m_intake;
};

PageIntake::~PageIntake() {
  if (m_counted) GiveBackBodyBytes(m_counted);
}

bool PageIntake::Count() {
  m_texts.shrink_to_fit();
  m_steps.shrink_to_fit();
  std::size_t bytes = sizeof(*this) + m_texts.capacity() + m_steps.capacity() * sizeof(Step) +
                      m_jarData.capacity() * sizeof(std::int64_t);
  for (const std::vector<std::string>* names : {&m_anchors, &m_fragments})
    for (const std::string& name : *names) bytes += sizeof(std::string) + name.capacity();
  if (!TakeBodyBytes(bytes)) return false;
  m_counted = bytes;
  return true;
}

void PageIntake::Replay(IntakeSink& sink) const {
  std::string text;
  std::size_t jar = 0;
  for (const Step& step : m_steps) {
    text.assign(m_texts, step.offset, step.length);
    switch (step.op) {
      case Op::Link: {
        PreparedLink prepared;
        prepared.internal = step.internal;
        prepared.excluded = step.excluded;
        prepared.requestKind = step.requestKind;
        sink.Link(text, prepared);
        if (step.plainTag) sink.TagLink(false, false);
        break;
      }
      case Op::TagLink: sink.TagLink(step.internal, step.excluded); break;
      case Op::AltTitle: sink.AltTitle(text); break;
      case Op::AnchorText: sink.AnchorText(text); break;
      case Op::JarMember:
        sink.JarMember(m_jarData[jar], m_jarData[jar + 1]);
        jar += 2;
        break;
      case Op::PageTitle: sink.PageTitle(text); break;
      case Op::PageTitleAgain: sink.PageTitleAgain(); break;
      case Op::TitleTooLong: sink.TitleTooLong(); break;
      case Op::Charset: sink.Charset(text); break;
      case Op::Description: sink.Description(text); break;
      case Op::Keywords: sink.Keywords(text); break;
      case Op::ReadFailed: sink.ReadFailed(text); break;
    }
  }
  if (!m_anchors.empty() || !m_fragments.empty()) {
    std::vector<std::string> anchors = m_anchors, fragments = m_fragments;
    sink.Names(anchors, fragments);
  }
}

void PrepareRedirect(FetchResult& result, unsigned codePage) {
  std::string target = result.csRedirectTarget;
  ResolveLink(result.csUrl, target, codePage);
  // The target as markup that reads back whole: a '"' or '>' in it would end the link.
  std::string redirect = "\n<a href=\"";
  AppendHtmlEscaped(redirect, target, kMarkupOnlyRules);
  redirect += "\">redir</a>";
  if (result.csBodyFile.empty()) {
    // As the file would hold it: every line break as CR LF.
    if (!result.body) result.body = std::make_shared<std::string>();
    for (const char c : redirect) {
      if (c == '\n') *result.body += '\r';
      *result.body += c;
    }
  } else {
    platform::TextFileWriter out;
    if (out.Open(result.csBodyFile, platform::TextFileWriter::Mode::Append)) {
      out.Write(redirect);
      out.Close();
    }
  }
  result.csRedirectResolved = std::move(target);
  result.bRedirectPrepared = true;
}

std::shared_ptr<const PageIntake> TakeInPage(const PageIntakeInput& input, const FetchResult& result) {
  if (!input.rules || !result.HasBody()) return nullptr;
  auto intake = std::make_shared<PageIntake>();
  intake->rules = input.rules;
  intake->charset = input.charset;
  intake->mimeType = input.mimeType;
  const std::string& url = result.csUrl;
  intake->jar = url.size() >= 4 && url.compare(url.size() - 4, 4, ".jar") == 0;
  IntakeRecorder recorder(*intake);
  const IntakePage page{url, input.charset, *input.rules};
  try {
    if (intake->jar) {
      intake->jarListed = ListJarMembers(page, result.csBodyFile, recorder);
      return intake->Count() ? intake : nullptr;
    }
    platform::LineReader file;
    if (result.body)
      file.OpenText(result.body, result.csUrl);
    else if (!file.Open(result.csBodyFile))
      return nullptr;  // the owner says why
    file.SetLimits(kLinePieceLimit, static_cast<std::uint64_t>(kPageLimit));
    try {
      if (input.mimeType == "text/css") {
        std::string text = ReadAllLines(file, recorder);
        ScanCssText(page, text, input.charset ? input.charset->m_nCodePage : 0, recorder);
      } else {
        ScanHtmlPage(page, file, recorder);
      }
      if (file.WasCut()) intake->note = kPageCutText;
    } catch (const std::bad_alloc&) {
      // One page that does not fit ends its own scan, with the links found so far.
      intake->note = "out of memory while parsing the page";
    }
  } catch (const IntakeLeftToOwner&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!intake->Count()) return nullptr;
  return intake;
}

void TakeInFetchedPage(const FetchRequest& request, FetchResult& result) {
  if (!request.linkRules || !result.outcome || result.outcome->status != 200) return;
  try {
    // The record as the hand-over will leave it.
    const FetchOutcome& outcome = *result.outcome;
    PageIntakeInput input;
    input.rules = request.linkRules;
    input.charset = outcome.setCharset ? outcome.charset : request.charset;
    input.mimeType = outcome.setMimeType ? outcome.mimeType : request.mimeType;
    if (!result.csRedirectTarget.empty()) PrepareRedirect(result, input.charset ? input.charset->m_nCodePage : 0);
    if (request.level >= request.settings.MaxLevel) return;
    result.intake = TakeInPage(input, result);
  } catch (...) {
    // The user-interface thread reads the page as it is.
    result.intake.reset();
  }
}
