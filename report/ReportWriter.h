// The report's writer, shared by the files that write its sections. Each section is one
// member function; Write() calls them in the report's body order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/HtmlEscape.h"
#include "report/Report.h"

class CLinkInfo;
class CWexoDoc;
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
  // "<a href=\"U\" TARGET=_blank>U</a>\n" with U the decoded URL, after lead.
  void WriteLinkLine(std::string_view lead, const std::string& url);
  // "<a href='U#N'>U#N</a>" and the rest of the line, with U the decoded page URL and N a
  // name on the page.
  void WriteLocalLink(const std::string& url, const std::string& name, std::string_view rest);
  // Appends the decoded URL to m_line, escaped for quote.
  void AppendDecodedUrl(const std::string& url, HtmlQuote quote);
  void Flush();

  const CWexoDoc& m_doc;
  const CheckSettings& m_settings;
  platform::TextFileWriter& m_out;
  const BuildStamp& m_built;
  std::string m_sponsor;
  bool m_hasFtpGopher = false;
  std::string m_line;     // the text being put together
  std::string m_decoded;  // scratch for decoded URLs
  std::string m_escaped;
};

constexpr unsigned kUtf8CodePage = 65001;

// Numbers as the "C" locale writes them, whatever the process locale is.
std::string FormatFixed(double value, int decimals);
