// Text transformations a mail message applies before its text goes on the wire: charsets,
// quoted-printable bodies, "Q"-encoded header words (RFC 2047) and SMTP dot-stuffing.
// Byte strings in, byte strings out; each input is taken up to its first NUL. Stateless and
// thread-safe.
#pragma once

#include <string>
#include <string_view>

// '0'..'9', 'A'..'F' for 0..15.
char HexDigit(unsigned value);

// UTF-8 text made valid: every byte that does not belong to a UTF-8 character becomes
// U+FFFD. (Text from settings and the user interface is UTF-8 here.)
std::string ConvertToUtf8(std::string_view text);

// UTF-16 to UTF-8 (RFC 3629); an unpaired surrogate is written as the three bytes of its
// own value.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 text as bytes of charset, so that the bytes are what the label says: valid UTF-8
// for "UTF-8" (any case), else the charset's code page with '?' for what it lacks
// ("iso-8859-1": Latin-1). A charset without a code page leaves the text as it is.
std::string TextForCharset(std::string_view text, std::string_view charset);

// Quoted-printable (RFC 2045): bytes outside '!'..'~', and '=', become "=XX"; TAB, CR, LF and
// blanks are kept, except blanks and TABs right before a line end or the end of the text,
// which are escaped so that decoders do not drop them. Lines longer than 76 characters are
// broken with "=\r\n", after white space or an escape where one is near, and never inside an
// escape.
std::string EncodeQuotedPrintable(std::string_view bytes);

// A chunk with a byte of 0x80 or above as one encoded word "=?charset?q?...?=" (blank '_',
// '=' '?' '_' and 8-bit bytes "=XX"); any other chunk unchanged.
std::string EncodeHeaderWord(std::string_view chunk, std::string_view charset);

// A header value in charset (TextForCharset), cut into chunks of 70 bytes, each through
// EncodeHeaderWord, joined with nothing between them.
std::string EncodeHeaderValue(std::string_view value, std::string_view charset);

// A second '.' before every '.' that starts the text or follows an LF.
std::string StuffDots(std::string_view text);
