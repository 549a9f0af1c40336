// Escaping of texts written into markup: the HTML report, the XML sitemap and the generated
// folder listings. Every output keeps its own rules, given as one HtmlEscapeRules each; one
// escaper applies them.
#pragma once

#include <array>
#include <string>
#include <string_view>

// What becomes of the bytes of a text. '&', '<', '>' and '"' always become "&amp;", "&lt;",
// "&gt;" and "&quot;"; inserted text is never escaped again.
class HtmlEscapeRules {
 public:
  enum class Apostrophe : unsigned char {
    Kept,     // '\''
    Named,    // "&apos;"
    Numeric,  // "&#39;"
  };
  enum class HighBytes : unsigned char {
    Kept,       // as they are
    Percent,    // each a percent escape ("%E9"), so the result is ASCII
    ValidUtf8,  // valid UTF-8 sequences as they are, every other byte a percent escape
  };
  enum class Controls : unsigned char {
    Kept,             // as they are
    Percent,          // C0 controls and DEL (with ValidUtf8, the C1 controls too) percent escapes
    PercentAndBlank,  // as Percent, and the blank as well
  };

  constexpr HtmlEscapeRules(Apostrophe apostrophe, HighBytes high, Controls controls)
      : m_action(Actions(apostrophe, high, controls)), m_escapeC1(controls != Controls::Kept) {}

  // What the escaper does with one byte; Utf8 asks for the sequence that starts with it.
  enum class Action : unsigned char { Keep, Amp, Lt, Gt, Quot, Apos, Num39, Percent, Utf8 };
  constexpr Action ActionOf(unsigned char c) const { return m_action[c]; }
  // Whether a valid UTF-8 sequence of a C1 control (U+0080 to U+009F) is escaped.
  constexpr bool EscapesC1() const { return m_escapeC1; }

 private:
  static constexpr std::array<Action, 256> Actions(Apostrophe apostrophe, HighBytes high, Controls controls) {
    std::array<Action, 256> action{};
    for (unsigned c = 0; c < 256; ++c) {
      Action a = Action::Keep;
      if (c == '&')
        a = Action::Amp;
      else if (c == '<')
        a = Action::Lt;
      else if (c == '>')
        a = Action::Gt;
      else if (c == '"')
        a = Action::Quot;
      else if (c == '\'')
        a = apostrophe == Apostrophe::Named ? Action::Apos : apostrophe == Apostrophe::Numeric ? Action::Num39 : a;
      else if (c >= 0x80)
        a = high == HighBytes::Percent ? Action::Percent : high == HighBytes::ValidUtf8 ? Action::Utf8 : a;
      else if (c < 0x20 || c == 0x7F)
        a = controls != Controls::Kept ? Action::Percent : a;
      else if (c == ' ')
        a = controls == Controls::PercentAndBlank ? Action::Percent : a;
      action[c] = a;
    }
    return action;
  }

  std::array<Action, 256> m_action;
  bool m_escapeC1;
};

// The rules of each output.
// Link texts of the report's broken-link sections (EscapeHtml); control bytes, which no
// HTML page may hold, as percent escapes like the bytes of 0x80 and above.
inline constexpr HtmlEscapeRules kEscapeHtmlRules{
    HtmlEscapeRules::Apostrophe::Named, HtmlEscapeRules::HighBytes::Percent, HtmlEscapeRules::Controls::Percent};
// The sitemap's <loc>: as EscapeHtml, and control bytes and blanks, which a URL may not hold
// and which would make the XML unreadable, as percent escapes.
inline constexpr HtmlEscapeRules kSitemapLocRules{HtmlEscapeRules::Apostrophe::Named,
                                                  HtmlEscapeRules::HighBytes::Percent,
                                                  HtmlEscapeRules::Controls::PercentAndBlank};
// The rest of the report (AppendHtmlText): element content or a '"'-quoted attribute value,
// and a '\''-quoted attribute value.
inline constexpr HtmlEscapeRules kHtmlTextRules{
    HtmlEscapeRules::Apostrophe::Kept, HtmlEscapeRules::HighBytes::ValidUtf8, HtmlEscapeRules::Controls::Percent};
inline constexpr HtmlEscapeRules kHtmlSingleQuotedRules{
    HtmlEscapeRules::Apostrophe::Numeric, HtmlEscapeRules::HighBytes::ValidUtf8, HtmlEscapeRules::Controls::Percent};
// The markup characters only, every other byte as it is: names and paths in a generated
// folder listing (the folder's bytes), and a redirect's target in the link that the page
// parser reads (decoded once there, so it comes back whole).
inline constexpr HtmlEscapeRules kMarkupOnlyRules{HtmlEscapeRules::Apostrophe::Kept, HtmlEscapeRules::HighBytes::Kept,
                                                  HtmlEscapeRules::Controls::Kept};
inline constexpr const HtmlEscapeRules& kFolderListingRules = kMarkupOnlyRules;

// The length of the valid UTF-8 sequence of more than one byte at text[i] (no overlong forms,
// surrogates or code points beyond U+10FFFF), or 0 when none starts there (ASCII included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i);

// Appends text escaped by rules.
void AppendHtmlEscaped(std::string& out, std::string_view text, const HtmlEscapeRules& rules);

// In place: '"', '&', '\'', '<' and '>' become their entities, bytes of 0x80 and above and
// control bytes (C0 and DEL) a percent escape ("%E9"), so the result is printable ASCII
// (kEscapeHtmlRules). Text without anything to escape is not copied.
void EscapeHtml(std::string& text);

// Where a text goes in the markup: element content, or an attribute value quoted with '"'
// or '\''.
enum class HtmlQuote { None, Double, Single };

// Appends text as markup that shows exactly that text: '&', '<', '>' and '"' become
// entities ('\'' becomes "&#39;" in a single-quoted value); UTF-8 stays as it is, while
// bytes that are no valid UTF-8, control characters (C0, DEL and C1) become percent escapes,
// so the page stays valid UTF-8 and nothing in it can open a tag or leave an attribute.
void AppendHtmlText(std::string& out, std::string_view text, HtmlQuote quote = HtmlQuote::None);
