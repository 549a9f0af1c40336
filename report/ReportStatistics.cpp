// The statistics section of the report: correct internal URLs by MIME type, all records by
// result type, and pages that share a title, a description or their content.
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/TextFile.h"
#include "report/ReportWriter.h"

namespace {

struct MimeGroup {
  std::string_view type;
  int count = 0;
  std::int64_t total = 0;
  std::uint64_t smallest = std::numeric_limits<std::int64_t>::max();
  std::uint32_t smallestId = 0;
  bool hasSmallest = false;
  std::uint64_t largest = 0;
  std::uint32_t largestId = 0;
  bool hasLargest = false;
  std::int64_t seconds = 0;
  int milliseconds = 0;
};

// Percent of a part in single precision, as the table has always shown it.
std::string Percent(std::int64_t part, std::int64_t whole) {
  return FormatFixed(static_cast<float>(part) / static_cast<float>(whole) * 100.0f, 2);
}

struct DigestHash {
  std::size_t operator()(const Md5Digest& digest) const {
    std::size_t h;
    std::memcpy(&h, digest.data(), sizeof h);
    return h;
  }
};

// Records grouped by a key, each group's members in table order in one flat array; and
// whether the key was entered in the search's set and whether its group was written.
template <class Key, class Hash = std::hash<Key>>
class RecordGroups {
 public:
  enum State : std::uint8_t { kAbsent, kEntered, kWritten };
  struct Group {
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
    State state = kAbsent;
  };
  // Records are added in table order; Seal() before the first Members().
  void Add(const Key& key, std::uint32_t id) {
    Group& group = m_groups[key];
    ++group.size;
    m_added.emplace_back(&group, id);
  }
  void Seal() {
    std::uint32_t next = 0;
    for (auto& [key, group] : m_groups) {
      group.begin = next;
      next += group.size;
      group.size = 0;
    }
    m_members.resize(next);
    for (auto [group, id] : m_added) m_members[group->begin + group->size++] = id;
    m_added.clear();
    m_added.shrink_to_fit();
  }
  Group& Find(const Key& key) { return m_groups.find(key)->second; }
  std::span<const std::uint32_t> Members(const Group& group) const {
    return std::span<const std::uint32_t>(m_members).subspan(group.begin, group.size);
  }

 private:
  std::unordered_map<Key, Group, Hash> m_groups;
  std::vector<std::pair<Group*, std::uint32_t>> m_added;
  std::vector<std::uint32_t> m_members;
};

}  // namespace

void ReportWriter::WriteStatistics() {
  m_out.Write(
      "<h2><a name=\"stats\"></a>Statistics for managers</h2>\n"
      "<h3>Correct internal URLs, by MIME type:</h3>\n");
  MimeTypeStatistics();
  ResultTypeStatistics();
  DuplicateCheck();
  WriteSectionEnd();
}

void ReportWriter::MimeTypeStatistics() {
  // One pass with an accumulator per type, in the order the types first appear.
  std::vector<MimeGroup> groups;
  std::unordered_map<std::string_view, std::size_t> byType;
  int totalCount = 0;
  std::int64_t totalSize = 0;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    const std::string& url = m_table.GetUrl(i);
    if (link.m_nStatus != 200 || !m_doc.IsInternal(url) || m_doc.IsExcluded(url)) continue;
    const auto [at, added] = byType.try_emplace(link.m_csMimeType, groups.size());
    if (added) groups.push_back(MimeGroup{.type = link.m_csMimeType});
    MimeGroup& group = groups[at->second];
    ++group.count;
    ++totalCount;
    group.total += link.m_nSize;
    totalSize += link.m_nSize;
    const auto size = static_cast<std::uint64_t>(link.m_nSize);
    if (size > group.largest) {
      group.largest = size;
      group.largestId = static_cast<std::uint32_t>(i);
      group.hasLargest = true;
    }
    if (size < group.smallest) {
      group.smallest = size;
      group.smallestId = static_cast<std::uint32_t>(i);
      group.hasSmallest = true;
    }
    group.seconds += link.m_tsDuration;
    group.milliseconds += link.m_nDurationMs;
    if (group.milliseconds > 1000) {
      group.milliseconds -= 1000;
      ++group.seconds;
    }
  }

  m_out.Write(
      "<table border=1 cellpadding=5 cellspacing=1><tr><td>MIME type</td><td align=right>count</td>"
      "<td align=right>% count</td><td align=right>&#931; size</td><td>&#931; size (KB)</td>"
      "<td align=right>% size</td><td align=right>min size</td><td align=right>max size</td>"
      "<td align=right>&Oslash; size</td><td>&Oslash; size (KB)</td><td>&Oslash; time</td></tr>\n");
  for (const MimeGroup& group : groups) {
    const std::int64_t average = group.total / group.count;
    m_line = "<tr><td>";
    AppendHtmlText(m_line, group.type);
    m_line += "</td><td align=right>" + std::to_string(group.count) + " URLs</td><td align=right>" +
              Percent(group.count, totalCount) + "%</td><td align=right>" + std::to_string(group.total) +
              " Bytes</td><td>(" + std::to_string(group.total / 1024) + " KB)</td><td align=right>" +
              Percent(group.total, totalSize) + "%</td>";
    m_line += "<td align=right><a href=\"";
    if (group.hasSmallest) AppendHtmlText(m_line, m_table.GetUrl(group.smallestId), HtmlQuote::Double);
    m_line += "\">" + std::to_string(group.smallest) + " Bytes</a></td><td align=right><a href=\"";
    if (group.hasLargest) AppendHtmlText(m_line, m_table.GetUrl(group.largestId), HtmlQuote::Double);
    m_line += "\">" + std::to_string(group.largest) + " Bytes</a></td><td align=right>" + std::to_string(average) +
              " Bytes</td><td>(" + std::to_string(average / 1024) + " KB)</td>";
    if (group.type == "text/html")
      m_line +=
          "<td>" + FormatFixed(static_cast<float>(group.seconds) / static_cast<float>(group.count), 3) + "</td>\n";
    else
      m_line += "<td></td>\n";
    m_line += "</tr>\n";
    m_out.Write(m_line);
  }
  m_out.Write("<tr><td>Total</td><td align=right>" + std::to_string(totalCount) +
              " URLs</td><td align=right>100.00%</td><td align=right>" + std::to_string(totalSize) +
              " Bytes</td><td>(" + std::to_string(totalSize / 1024) +
              " KB)</td><td align=right>100.00%</td></tr>\n</table>\n");
}

void ReportWriter::ResultTypeStatistics() {
  struct ResultGroup {
    std::string text;
    int count = 0;
  };
  std::vector<ResultGroup> groups;
  std::unordered_map<std::string, std::size_t> byText;
  std::unordered_map<std::int16_t, std::size_t> byStatus;  // a status's text is looked up once
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const std::int16_t status = m_table.GetLink(i)->m_nStatus;
    auto known = byStatus.find(status);
    if (known == byStatus.end()) {
      std::string text = StatusText(status);
      const auto [at, added] = byText.try_emplace(text, groups.size());
      if (added) groups.push_back(ResultGroup{std::move(text)});
      known = byStatus.emplace(status, at->second).first;
    }
    ++groups[known->second].count;
  }

  const auto records = static_cast<std::int64_t>(m_table.GetLinkCount());
  m_out.Write("<h3>All pages, by result type:</h3>\n<table border=1 cellpadding=5 cellspacing=1>");
  for (const ResultGroup& group : groups) {
    m_line = "<tr><td>";
    AppendHtmlText(m_line, group.text);
    m_line += "</td><td align=right>" + std::to_string(group.count) + " URLs</td><td align=right>" +
              Percent(group.count, records) + "%</td></tr>\n";
    m_out.Write(m_line);
  }
  m_out.Write("<tr><td>Total</td><td align=right>" + std::to_string(records) +
              " URLs</td><td align=right>100.00%</td></tr>\n</table>");
}

void ReportWriter::DuplicateCheck() {
  // The members of every group are found beforehand, so writing a group does not walk the
  // table again.
  RecordGroups<Md5Digest, DigestHash> contents;
  RecordGroups<std::string_view> titles, descriptions;
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    if (!link.m_pDigest) continue;
    const auto id = static_cast<std::uint32_t>(i);
    contents.Add(*link.m_pDigest, id);
    if (!link.m_csTitle.empty()) titles.Add(link.m_csTitle, id);
    if (!link.m_csDescription.empty()) descriptions.Add(link.m_csDescription, id);
  }
  contents.Seal();
  titles.Seal();
  descriptions.Seal();

  bool any = false;
  const auto writeGroup = [&](std::string_view heading, std::span<const std::uint32_t> members) {
    m_out.Write(heading);
    for (std::uint32_t id : members) {
      EscapeLink(m_table.GetUrl(id), HtmlQuote::Single);
      m_out.Write("<a href='" + m_href + "'>" + m_text + "</a>\n");
    }
    m_out.Write("\n");
    any = true;
  };
  // A title or description met on a page of new content: its group is written at the
  // second such page.
  const auto meet = [&](RecordGroups<std::string_view>& groups, const std::string& text, unsigned codePage,
                        const char* kind) {
    if (text.empty()) return;
    auto& group = groups.Find(text);
    if (group.state == RecordGroups<std::string_view>::kAbsent) {
      group.state = RecordGroups<std::string_view>::kEntered;
    } else if (group.state == RecordGroups<std::string_view>::kEntered) {
      m_line = "Duplicate ";
      m_line += kind;
      m_line += " (";
      AppendHtmlText(m_line, ShownPageText(text, codePage));
      m_line += "):\n";
      writeGroup(m_line, groups.Members(group));
      group.state = RecordGroups<std::string_view>::kWritten;
    }
  };

  m_out.Write("<h3>Duplicates detected:</h3>\n<pre>");
  for (std::size_t i = 0; i < m_table.GetLinkCount(); ++i) {
    const CLinkInfo& link = *m_table.GetLink(i);
    if (!link.m_pDigest) continue;
    auto& content = contents.Find(*link.m_pDigest);
    if (content.state == RecordGroups<Md5Digest, DigestHash>::kAbsent) {
      content.state = RecordGroups<Md5Digest, DigestHash>::kEntered;
      meet(titles, link.m_csTitle, link.GetCodePage(), "title");
      meet(descriptions, link.m_csDescription, link.GetCodePage(), "description");
    } else if (content.state == RecordGroups<Md5Digest, DigestHash>::kEntered) {
      writeGroup("Duplicate content:\n", contents.Members(content));
      content.state = RecordGroups<Md5Digest, DigestHash>::kWritten;
    }
  }
  if (!any) m_out.Write("none found\n");
  m_out.Write("</pre>");
}
