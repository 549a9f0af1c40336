// The mail encoders over fuzzed bytes: quoted-printable, header words, dot-stuffing and Base64
// each decode back to their input. A quoted-printable line holds at most 78 characters of
// text before its soft break (the break is looked for once a line passes 76). Header values
// go as encoded words that decode back and fold only at white space.
#include <algorithm>
#include <string>
#include <vector>

#include "algorithms/Base64.h"
#include "fuzz/FuzzSupport.h"
#include "mail/MailEncoders.h"

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "=XX" escapes (upper-case digits only) decoded; with softBreaks "=\r\n" vanishes, with
// underscores '_' is a blank.
std::string Unescape(std::string_view text, bool softBreaks, bool underscores) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && softBreaks && text.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else if (text[i] == '=') {
      FUZZ_CHECK(i + 2 < text.size() && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0);
      out.push_back(static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(underscores && text[i] == '_' ? ' ' : text[i]);
    }
  }
  return out;
}

void CheckQuotedPrintable(std::string_view bytes) {
  const std::string encoded = EncodeQuotedPrintable(bytes);
  // CR and LF each end a line, as the encoder sees them.
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i <= encoded.size(); ++i) {
    if (i < encoded.size() && encoded[i] != '\r' && encoded[i] != '\n') continue;
    FUZZ_CHECK_ABOUT(i - lineStart <= 79, encoded);
    lineStart = i + 1;
  }
  FUZZ_CHECK(Unescape(encoded, true, false) == bytes);
}

void CheckHeaderWord(std::string_view chunk) {
  const std::string word = EncodeHeaderWord(chunk, "utf-8");
  const std::string_view prefix = "=?utf-8?q?";
  if (std::none_of(chunk.begin(), chunk.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    FUZZ_CHECK(word == chunk);
    return;
  }
  FUZZ_CHECK(word.starts_with(prefix) && word.ends_with("?=") && word.size() >= prefix.size() + 2);
  const std::string_view text = std::string_view(word).substr(prefix.size(), word.size() - prefix.size() - 2);
  FUZZ_CHECK_ABOUT(std::none_of(text.begin(), text.end(),
                                [](char c) { return c == '?' || static_cast<unsigned char>(c) <= ' ' || c == 0x7F; }),
                   word);
  FUZZ_CHECK(Unescape(text, false, true) == chunk);
}

// The words of a header value: UTF-8 words of at most 75 characters holding whole
// characters that decode to the text; a folded line whose every break is a CR LF before
// white space, unfolding to the same text but for blanks.
void CheckHeaderValue(std::string_view text, bool utf8Words) {
  const std::vector<HeaderWord> words = EncodeHeaderWords(text, "iso-8859-1", utf8Words);
  std::string joined, decoded;
  bool allUtf8 = !words.empty();
  for (std::size_t i = 0; i < words.size(); ++i) {
    const HeaderWord& w = words[i];
    joined += w.text;
    // An encoded word touches neither text nor another word: a separator stands between two.
    if (w.separator) {
      FUZZ_CHECK(w.text == " " && i > 0 && i + 1 < words.size() && words[i - 1].encoded && words[i + 1].encoded);
      continue;
    }
    if (i > 0) FUZZ_CHECK(words[i - 1].separator || (!w.encoded && !words[i - 1].encoded));
    const bool q = w.encoded && w.text.starts_with("=?UTF-8?q?");
    const bool b = w.encoded && w.text.starts_with("=?UTF-8?B?");
    allUtf8 = allUtf8 && (q || b);
    // Plain text never looks like an encoded word, which a reader would decode.
    if (!w.encoded) FUZZ_CHECK_ABOUT(w.text.find("=?") == std::string::npos, w.text);
    if (!q && !b) continue;
    FUZZ_CHECK_ABOUT(w.text.size() <= 75 && w.text.ends_with("?="), w.text);
    const std::string_view body = std::string_view(w.text).substr(10, w.text.size() - 12);
    std::string bytes;
    if (q) {
      FUZZ_CHECK_ABOUT(body.find_first_of(" \t?\"(),.:;<>@[\\]") == std::string_view::npos, w.text);
      bytes = Unescape(body, false, true);
    } else {
      CBase64Coder coder;
      coder.Decode(body.data(), body.size());
      bytes.assign(reinterpret_cast<const char*>(coder.DecodedData()), static_cast<std::size_t>(coder.DecodedLength()));
    }
    FUZZ_CHECK_ABOUT(ConvertToUtf8(bytes) == bytes, w.text);  // whole characters
    decoded += bytes;
  }
  if (allUtf8) FUZZ_CHECK(decoded == ConvertToUtf8(text));
  if (!utf8Words) FUZZ_CHECK(joined == EncodeHeaderValue(text, "iso-8859-1"));

  HeaderFolder folder("Subject: ");
  folder.Words(words, true);
  const std::string line = folder.Line();
  auto withoutBreaks = [](std::string_view t) {
    std::string out;
    for (char c : t)
      if (c != '\r' && c != '\n' && c != ' ' && c != '\t') out += c;
    return out;
  };
  FUZZ_CHECK(withoutBreaks(line) == withoutBreaks("Subject: " + joined));
  for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at + 2))
    FUZZ_CHECK_ABOUT(at + 2 < line.size() && (line[at + 2] == ' ' || line[at + 2] == '\t'), line);
  if (folder.Fits()) FUZZ_CHECK(LongestLine(line) <= HeaderFolder::kMaxLine);
  if (joined.size() + 9 <= HeaderFolder::kMaxLine) FUZZ_CHECK(line == "Subject: " + joined);
}

void CheckStuffedDots(std::string_view text) {
  const std::string stuffed = StuffDots(text);
  std::string unstuffed;
  for (std::size_t i = 0; i < stuffed.size(); ++i) {
    if ((i == 0 || stuffed[i - 1] == '\n') && stuffed[i] == '.') {
      FUZZ_CHECK(i + 1 < stuffed.size() && stuffed[i + 1] == '.');
      ++i;
    }
    unstuffed.push_back(stuffed[i]);
  }
  FUZZ_CHECK(unstuffed == text);
}

void CheckBase64(std::string_view bytes) {
  CBase64Coder encoder;
  encoder.Encode(bytes.data(), bytes.size());
  FUZZ_CHECK(encoder.EncodedLength() == static_cast<int>((bytes.size() + 2) / 3 * 4));
  CBase64Coder decoder;
  decoder.Decode(encoder.EncodedText(), static_cast<std::size_t>(encoder.EncodedLength()));
  FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(decoder.DecodedData()),
                              static_cast<std::size_t>(decoder.DecodedLength())) == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The text encoders take their input up to its first NUL.
  const std::string_view text = bytes.substr(0, bytes.find('\0'));
  CheckQuotedPrintable(text);
  CheckHeaderWord(text);
  // Text from the settings has no line breaks: the connection refuses those.
  const std::string_view oneLine = text.substr(0, text.find_first_of("\r\n"));
  CheckHeaderValue(oneLine, false);
  CheckHeaderValue(oneLine, true);
  CheckStuffedDots(text);
  CheckBase64(bytes);
  // Arbitrary text through the Base64 decoder: no fault, whatever it makes of it.
  CBase64Coder decoder;
  decoder.Decode(bytes.data(), bytes.size());
  return 0;
}
