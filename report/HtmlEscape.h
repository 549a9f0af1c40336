// Escaping of texts written into the report and the XML exports.
#pragma once

#include <string>
#include <string_view>

// In place: '"', '&', '\'', '<' and '>' become their entities, bytes of 0x80 and above a
// percent escape ("%E9"), so the result is ASCII. Inserted text is never escaped again.
void EscapeHtml(std::string& text);

// Where a text goes in the markup: element content, or an attribute value quoted with '"'
// or '\''.
enum class HtmlQuote { None, Double, Single };

// Appends text as markup that shows exactly that text: '&', '<', '>' and '"' become
// entities ('\'' becomes "&#39;" in a single-quoted value); UTF-8 stays as it is, while
// bytes that are no valid UTF-8, control characters (C0, DEL and C1) become percent escapes,
// so the page stays valid UTF-8 and nothing in it can open a tag or leave an attribute.
void AppendHtmlText(std::string& out, std::string_view text, HtmlQuote quote = HtmlQuote::None);
