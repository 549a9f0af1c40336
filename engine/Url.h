// URL cracking, the canonical form of link-table keys, link resolution, and the text
// helpers around them: character references, percent escapes, code pages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Url.h"

using platform::AFX_INET_SERVICE_AFS;
using platform::AFX_INET_SERVICE_CID;
using platform::AFX_INET_SERVICE_FILE;
using platform::AFX_INET_SERVICE_FTP;
using platform::AFX_INET_SERVICE_GOPHER;
using platform::AFX_INET_SERVICE_HTTP;
using platform::AFX_INET_SERVICE_HTTPS;
using platform::AFX_INET_SERVICE_MAILTO;
using platform::AFX_INET_SERVICE_MID;
using platform::AFX_INET_SERVICE_NEWS;
using platform::AFX_INET_SERVICE_NNTP;
using platform::AFX_INET_SERVICE_PROSPERO;
using platform::AFX_INET_SERVICE_TELNET;
using platform::AFX_INET_SERVICE_UNK;
using platform::AFX_INET_SERVICE_WAIS;

struct HtmlEntity {
  const char* name;
  const char* text;  // one Windows-1252 byte ("nbsp" is a plain space)
};

// 123 named entities, ended by an entry whose name is empty.
extern const HtmlEntity HtmlEntityTable[124];

// Splits a URL into its parts. The object of an http, https or ftp URL keeps its escapes,
// with bytes of 0x80 and above, below 0x21 and 0x7F escaped; the object of a file URL is the
// local path (escapes decoded once, UTF-8 unescaped). False when the URL cannot be split
// (a "javascript:" URL always can: service type AFX_INET_SERVICE_UNK).
bool CrackUrl(std::string url, unsigned& serviceType, std::string& hostName, std::string& object, std::uint16_t& port,
              std::string& userName, std::string& password);

// Brings a URL in the given code page into the canonical form of the link table (UTF-8,
// non-ASCII bytes of non-file URLs escaped), lower-cased first when asked.
void CanonicalizeUrl(std::string& url, bool lowerCase, unsigned codePage);
// CanonicalizeUrl's general case, without its shortcut for plain http and https URLs.
void CanonicalizeUrlFully(std::string& url, bool lowerCase, unsigned codePage);
// An http or https URL with a plain host, perhaps a port other than the default, and a path
// of printable ASCII without escapes or dot segments: its canonical form is itself.
bool IsCanonicalHttpUrl(std::string_view url);

// Resolves a link text found on a page against the page's canonical URL. True when the link
// is usable: an absolute URL (in link), or a page-local "#..." reference (unchanged).
bool ResolveLink(const std::string& base, std::string& link, unsigned codePage);

// Numeric, then named character references; each named entity gives its character in the
// code page.
void DecodeEntities(std::string& text, unsigned codePage);
// The same for UTF-16 text shown to the user; the text never grows.
void DecodeEntitiesW(std::u16string& text);
void DecodeNumericCharRefs(std::string& text, unsigned codePage);
// The character as text in the code page; "?" for a value that is no character or that the
// code page cannot convert, "" for 0.
std::string CodePointToCodePage(std::uint32_t codePoint, unsigned codePage);

// Every '%' with two hexadecimal digits becomes its byte, in one pass.
std::string DecodePercentEscapes(std::string text);

// The text converted between code pages; unchanged when they are equal or a conversion fails.
std::string ConvertCodePage(const std::string& text, unsigned from, unsigned to);

// Lower-cased as characters of the code page (code page 0 is 1252), never by the process locale.
std::string ToLowerInCodePage(const std::string& text, unsigned codePage);

// The mail domain of a mailto URL: cut at the first '?', then at the first ',' or ';', then
// the text after the last '@' ("" when there is none).
std::string MailtoDomain(std::string_view url);
