// The report's writer, shared by the files that write its sections. Each section is one
// member function; Write() calls them in the report's body order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HtmlEscape.h"
#include "report/Report.h"

class CLinkInfo;
class CWexoDoc;
class LinkTable;
struct CheckSettings;
namespace platform {
class TextFileWriter;
}

class ReportWriter {
 public:
  ReportWriter(const CWexoDoc& doc, platform::TextFileWriter& out, const BuildStamp& built);
  void Write();

  // One section of the body: its switch, its anchor, its line in the table of contents and
  // its writer. The writer runs when the switch is on and Applies() holds.
  struct Section {
    std::int32_t CheckSettings::*option;
    const char* anchor;
    const char* contents;
    void (ReportWriter::*write)();
  };

 private:
  // Every section in body order.
  static std::span<const Section> Sections();
  bool Applies(const Section& section) const;

  void WriteHead();
  void WritePrefixes(const std::vector<std::string>& prefixes, const std::vector<std::size_t>& counts);
  void WriteContents();
  // The closing lines of every section.
  void WriteSectionEnd();

  void WriteBrokenByLink();
  void WriteBrokenByPage();
  void WriteRedirects();
  void WriteFtpGopher();
  void WriteValid();
  void WriteSiteMapSection();
  void WriteBrokenLocal();
  void WriteOrphans();  // ReportOrphans.cpp
  void WriteStatistics();
  void MimeTypeStatistics();
  void ResultTypeStatistics();
  void DuplicateCheck();
  void WriteFooter();

  // The heading of a broken-link section with the timeouts note, and its closing lines.
  void WriteBrokenStart(const char* heading);
  void WriteBrokenEnd(std::size_t count);
  // A broken record's URL line (or "empty URL") and its escaped link text, after lead.
  void WriteBrokenRecord(std::string_view lead, const CLinkInfo& link);
  // "<a href=\"H\" TARGET=_blank>U</a>\n" after lead, with H and U the URL as href and as
  // text (EscapeLink).
  void WriteLinkLine(std::string_view lead, const std::string& url);
  // "<a href='H#N'>U#N</a>" and the rest of the line, with H and U the page URL as href and
  // as text and N a name on the page (ShownName).
  void WriteLocalLink(const std::string& url, const std::string& name, std::string_view rest);
  // m_href and m_text: a stored URL as its link's href (as stored, so the browser asks for
  // what was checked) and as its text (every escape decoded), each escaped for quote.
  void EscapeLink(const std::string& url, HtmlQuote quote);
  void Flush();

  const CWexoDoc& m_doc;
  const LinkTable& m_table;
  const CheckSettings& m_settings;
  platform::TextFileWriter& m_out;
  const BuildStamp& m_built;
  std::string m_sponsor;
  bool m_hasFtpGopher = false;
  std::string m_line;  // the text being put together
  std::string m_href;
  std::string m_text;
  std::string m_name;
};

constexpr unsigned kUtf8CodePage = 65001;

// A title or description as the page showed it, for the report: converted from the page's
// code page to UTF-8 and its character references decoded. Still to be escaped.
std::string ShownPageText(const std::string& text, unsigned codePage);
// An anchor or fragment name as the page showed it: its character references decoded (UTF-8).
std::string ShownName(const std::string& name);

// Numbers as the "C" locale writes them, whatever the process locale is.
std::string FormatFixed(double value, int decimals);
