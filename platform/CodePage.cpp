#include "platform/CodePage.h"
#include "platform/AsciiText.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

// Code page -> ICU converter. Canonical ICU names, so no alias is ambiguous. 1252 and
// UTF-8 are converted by hand below and need no converter.
struct CodePageEntry {
  unsigned cp;
  const char* icuName;
};

constexpr CodePageEntry kCodePages[] = {
    {437, "ibm-437_P100-1995"},
    {850, "ibm-850_P100-1995"},
    {852, "ibm-852_P100-1995"},
    {866, "ibm-866_P100-1995"},
    {874, "windows-874-2000"},
    {932, "ibm-943_P15A-2003"},
    {936, "windows-936-2000"},
    {949, "windows-949-2000"},
    {950, "windows-950-2000"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "ibm-5346_P100-1998"},
    {1251, "ibm-5347_P100-1998"},
    {1252, nullptr},
    {1253, "ibm-5349_P100-1998"},
    {1254, "ibm-5350_P100-1998"},
    {1255, "ibm-9447_P100-2002"},
    {1256, "ibm-9448_X100-2005"},
    {1257, "ibm-9449_P100-2002"},
    {1258, "ibm-5354_P100-1998"},
    {10000, "macos-0_2-10.2"},
    {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},
    {20127, "US-ASCII"},
    {20866, "ibm-878_P100-1996"},
    {21866, "ibm-1168_P100-2002"},
    {28591, "ISO-8859-1"},
    {28592, "ibm-912_P100-1995"},
    {28593, "ibm-913_P100-2000"},
    {28594, "ibm-914_P100-1995"},
    {28595, "ibm-915_P100-1995"},
    {28596, "ibm-1089_P100-1995"},
    {28597, "ibm-9005_X110-2007"},
    {28598, "ibm-5012_P100-1999"},
    {28599, "ibm-920_P100-1995"},
    {28603, "ibm-921_P100-1995"},
    {28605, "ibm-923_P100-1998"},
    {38598, "ibm-5012_P100-1999"},  // iso-8859-8-i: the same bytes, logical order
    {50220, "ISO_2022,locale=ja,version=0"},
    {50225, "ISO_2022,locale=ko,version=0"},
    {51932, "euc-jp-2007"},
    {51949, "ibm-970_P110_P110-2006_U2"},
    {52936, "HZ"},
    {54936, "gb18030"},
    {65000, "UTF-7"},
    {65001, nullptr},
};

const CodePageEntry* FindCodePage(unsigned cp) {
  auto it = std::lower_bound(std::begin(kCodePages), std::end(kCodePages), cp,
                             [](const CodePageEntry& e, unsigned v) { return e.cp < v; });
  if (it == std::end(kCodePages) || it->cp != cp) return nullptr;
  return it;
}

// Windows-1252 bytes 0x80-0x9F; the five undefined bytes map to the C1 control of the same value.
constexpr char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int To1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int i = 0; i < 32; ++i)
    if (k1252High[i] == c) return 0x80 + i;
  return -1;
}

void Decode1252(std::string_view in, std::u16string& out) {
  out.resize(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(in[i]);
    out[i] = (b >= 0x80 && b < 0xA0) ? k1252High[b - 0x80] : char16_t(b);
  }
}

void Encode1252(std::u16string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) {
    char32_t c;
    U16_NEXT(in.data(), i, in.size(), c);
    int b = (c >= 0xD800 && c <= 0xDFFF) ? -1 : To1252(c);  // a lone surrogate is unmappable
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
  }
}

void DecodeUtf8(std::string_view in, std::u16string& out) {
  out.resize(in.size());  // UTF-8 never needs more UTF-16 units than bytes
  if (in.empty()) return;
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = 0;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, in.data(), static_cast<int32_t>(in.size()),
                       0xFFFD, nullptr, &err);
  out.resize(U_SUCCESS(err) ? len : 0);
}

void EncodeUtf8(std::u16string_view in, std::string& out) {
  out.resize(in.size() * 3);
  if (in.empty()) return;
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = 0;
  // A lone surrogate becomes U+FFFD: conversions are lenient and never lose the whole text.
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, in.data(), static_cast<int32_t>(in.size()),
                     0xFFFD, nullptr, &err);
  out.resize(U_SUCCESS(err) ? len : 0);
}

// Bad input always becomes U+FFFD; ICU's own substitution would give U+001A for single
// bytes of some code pages.
void ToUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                          UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;
  *err = U_ZERO_ERROR;
  static const UChar kReplacement = 0xFFFD;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

UConverter* OpenConverter(const char* name) {
  UErrorCode err = U_ZERO_ERROR;
  ConverterPtr cnv(ucnv_open(name, &err));
  if (U_FAILURE(err) || !cnv) return nullptr;
  ucnv_setToUCallBack(cnv.get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &err);
  if (U_FAILURE(err)) return nullptr;
  static const UChar kQuestion[] = {u'?'};
  ucnv_setSubstString(cnv.get(), kQuestion, 1, &err);
  if (U_FAILURE(err)) return nullptr;
  ucnv_setFromUCallBack(cnv.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
  if (U_FAILURE(err)) return nullptr;
  return cnv.release();
}

// Opening a converter costs far more than a short conversion, and a converter carries
// state, so each thread keeps its own, opened on first use.
class ConverterCache {
 public:
  // nullptr when the converter cannot be opened (remembered, so it is tried once).
  UConverter* Get(const CodePageEntry& entry) {
    size_t index = static_cast<size_t>(&entry - kCodePages);
    Slot& slot = slots_[index];
    if (!slot.tried) {
      slot.tried = true;
      slot.cnv.reset(OpenConverter(entry.icuName));
    }
    return slot.cnv.get();
  }

 private:
  struct Slot {
    bool tried = false;
    ConverterPtr cnv;
  };
  std::array<Slot, std::size(kCodePages)> slots_;
};

UConverter* ThreadConverter(const CodePageEntry& entry) {
  thread_local ConverterCache cache;
  return cache.Get(entry);
}

// Charset names and aliases, lower-case.
struct CharsetName {
  const char* name;
  unsigned cp;
};

constexpr CharsetName kCharsetNames[] = {
    // Unicode
    {"utf-8", 65001},
    {"utf8", 65001},
    {"unicode-1-1-utf-8", 65001},
    {"unicode-2-0-utf-8", 65001},
    {"x-unicode20utf8", 65001},
    {"utf-7", 65000},
    {"unicode-1-1-utf-7", 65000},
    {"unicode-2-0-utf-7", 65000},
    {"x-unicode20utf7", 65000},
    {"csunicode11utf7", 65000},
    {"utf-16", 1200},
    {"utf-16le", 1200},
    {"unicode", 1200},
    {"ucs-2", 1200},
    {"iso-10646-ucs-2", 1200},
    {"csunicode", 1200},
    {"utf-16be", 1201},
    {"unicodefffe", 1201},
    {"utf-32", 12000},
    {"utf-32le", 12000},
    {"utf-32be", 12001},
    // Western
    {"us-ascii", 20127},
    {"ascii", 20127},
    {"us", 20127},
    {"ansi_x3.4-1968", 20127},
    {"ansi_x3.4-1986", 20127},
    {"iso646-us", 20127},
    {"iso_646.irv:1991", 20127},
    {"iso-ir-6", 20127},
    {"ibm367", 20127},
    {"cp367", 20127},
    {"csascii", 20127},
    {"iso-8859-1", 28591},
    {"iso8859-1", 28591},
    {"iso_8859-1", 28591},
    {"iso_8859-1:1987", 28591},
    {"latin1", 28591},
    {"latin-1", 28591},
    {"l1", 28591},
    {"iso-ir-100", 28591},
    {"ibm819", 28591},
    {"cp819", 28591},
    {"csisolatin1", 28591},
    {"windows-1252", 1252},
    {"cp1252", 1252},
    {"x-cp1252", 1252},
    {"x-ansi", 1252},
    {"iso-8859-15", 28605},
    {"iso8859-15", 28605},
    {"iso_8859-15", 28605},
    {"latin9", 28605},
    {"latin-9", 28605},
    {"l9", 28605},
    {"csisolatin9", 28605},
    {"macintosh", 10000},
    {"x-mac-roman", 10000},
    {"mac", 10000},
    {"ibm437", 437},
    {"cp437", 437},
    {"437", 437},
    {"cspc8codepage437", 437},
    {"ibm850", 850},
    {"cp850", 850},
    {"850", 850},
    // Central and eastern Europe
    {"windows-1250", 1250},
    {"cp1250", 1250},
    {"x-cp1250", 1250},
    {"iso-8859-2", 28592},
    {"iso8859-2", 28592},
    {"iso_8859-2", 28592},
    {"iso_8859-2:1987", 28592},
    {"latin2", 28592},
    {"l2", 28592},
    {"iso-ir-101", 28592},
    {"csisolatin2", 28592},
    {"ibm852", 852},
    {"cp852", 852},
    {"iso-8859-3", 28593},
    {"iso_8859-3", 28593},
    {"latin3", 28593},
    {"l3", 28593},
    {"iso-ir-109", 28593},
    {"csisolatin3", 28593},
    {"iso-8859-4", 28594},
    {"iso_8859-4", 28594},
    {"latin4", 28594},
    {"l4", 28594},
    {"iso-ir-110", 28594},
    {"csisolatin4", 28594},
    {"iso-8859-13", 28603},
    {"iso_8859-13", 28603},
    {"windows-1257", 1257},
    {"cp1257", 1257},
    // Cyrillic
    {"windows-1251", 1251},
    {"cp1251", 1251},
    {"x-cp1251", 1251},
    {"iso-8859-5", 28595},
    {"iso8859-5", 28595},
    {"iso_8859-5", 28595},
    {"iso_8859-5:1988", 28595},
    {"cyrillic", 28595},
    {"iso-ir-144", 28595},
    {"csisolatincyrillic", 28595},
    {"koi8-r", 20866},
    {"koi8", 20866},
    {"koi", 20866},
    {"cskoi8r", 20866},
    {"koi8-u", 21866},
    {"koi8-ru", 21866},
    {"ibm866", 866},
    {"cp866", 866},
    {"866", 866},
    {"csibm866", 866},
    // Greek, Turkish, Hebrew, Arabic, Vietnamese, Thai
    {"windows-1253", 1253},
    {"cp1253", 1253},
    {"iso-8859-7", 28597},
    {"iso_8859-7", 28597},
    {"greek", 28597},
    {"greek8", 28597},
    {"iso-ir-126", 28597},
    {"elot_928", 28597},
    {"ecma-118", 28597},
    {"csisolatingreek", 28597},
    {"windows-1254", 1254},
    {"cp1254", 1254},
    {"iso-8859-9", 28599},
    {"iso_8859-9", 28599},
    {"latin5", 28599},
    {"l5", 28599},
    {"iso-ir-148", 28599},
    {"csisolatin5", 28599},
    {"windows-1255", 1255},
    {"cp1255", 1255},
    {"iso-8859-8", 28598},
    {"iso_8859-8", 28598},
    {"hebrew", 28598},
    {"visual", 28598},
    {"iso-ir-138", 28598},
    {"csisolatinhebrew", 28598},
    {"iso-8859-8-e", 28598},
    {"iso-8859-8-i", 38598},
    {"logical", 38598},
    {"windows-1256", 1256},
    {"cp1256", 1256},
    {"iso-8859-6", 28596},
    {"iso_8859-6", 28596},
    {"arabic", 28596},
    {"iso-ir-127", 28596},
    {"ecma-114", 28596},
    {"csisolatinarabic", 28596},
    {"windows-1258", 1258},
    {"cp1258", 1258},
    {"windows-874", 874},
    {"tis-620", 874},
    {"dos-874", 874},
    {"iso-8859-11", 874},
    // East Asian
    {"shift_jis", 932},
    {"shift-jis", 932},
    {"sjis", 932},
    {"x-sjis", 932},
    {"ms_kanji", 932},
    {"csshiftjis", 932},
    {"windows-31j", 932},
    {"cswindows31j", 932},
    {"cp932", 932},
    {"x-ms-cp932", 932},
    {"euc-jp", 51932},
    {"x-euc-jp", 51932},
    {"x-euc", 51932},
    {"cseucpkdfmtjapanese", 51932},
    {"iso-2022-jp", 50220},
    {"csiso2022jp", 50220},
    {"gb2312", 936},
    {"gbk", 936},
    {"x-gbk", 936},
    {"cp936", 936},
    {"ms936", 936},
    {"windows-936", 936},
    {"csgb2312", 936},
    {"gb_2312-80", 936},
    {"chinese", 936},
    {"iso-ir-58", 936},
    {"csiso58gb231280", 936},
    {"euc-cn", 936},
    {"x-euc-cn", 936},
    {"gb18030", 54936},
    {"hz-gb-2312", 52936},
    {"big5", 950},
    {"big-5", 950},
    {"cn-big5", 950},
    {"x-x-big5", 950},
    {"csbig5", 950},
    {"cp950", 950},
    {"big5-hkscs", 950},
    {"ks_c_5601-1987", 949},
    {"ks_c_5601", 949},
    {"ks_c_5601-1989", 949},
    {"ksc_5601", 949},
    {"ksc5601", 949},
    {"korean", 949},
    {"iso-ir-149", 949},
    {"csksc56011987", 949},
    {"cp949", 949},
    {"windows-949", 949},
    {"euc-kr", 51949},
    {"cseuckr", 51949},
    {"iso-2022-kr", 50225},
    {"csiso2022kr", 50225},
};

const std::unordered_map<std::string, unsigned>& CharsetMapTable() {
  static const std::unordered_map<std::string, unsigned> table = [] {
    std::unordered_map<std::string, unsigned> m;
    for (const CharsetName& n : kCharsetNames) m.emplace(n.name, n.cp);
    return m;
  }();
  return table;
}

struct FontEntry {
  unsigned cp;
  const char* font;
  std::uint8_t gdiCharset;
};

// GDI charsets: ANSI 0, SHIFTJIS 128, HANGUL 129, GB2312 134, CHINESEBIG5 136, GREEK 161,
// TURKISH 162, VIETNAMESE 163, HEBREW 177, ARABIC 178, BALTIC 186, RUSSIAN 204, THAI 222,
// EASTEUROPE 238.
constexpr FontEntry kFonts[] = {
    {437, "Arial", 0},          {850, "Arial", 0},        {852, "Arial", 238},        {866, "Arial", 204},
    {874, "Tahoma", 222},       {932, "MS PGothic", 128}, {936, "SimSun", 134},       {949, "Gulim", 129},
    {950, "PMingLiU", 136},     {1200, "Arial", 0},       {1201, "Arial", 0},         {1250, "Arial", 238},
    {1251, "Arial", 204},       {1252, "Arial", 0},       {1253, "Arial", 161},       {1254, "Arial", 162},
    {1255, "Arial", 177},       {1256, "Arial", 178},     {1257, "Arial", 186},       {1258, "Arial", 163},
    {10000, "Arial", 0},        {12000, "Arial", 0},      {12001, "Arial", 0},        {20127, "Arial", 0},
    {20866, "Arial", 204},      {21866, "Arial", 204},    {28591, "Arial", 0},        {28592, "Arial", 238},
    {28593, "Arial", 162},      {28594, "Arial", 186},    {28595, "Arial", 204},      {28596, "Arial", 178},
    {28597, "Arial", 161},      {28598, "Arial", 177},    {28599, "Arial", 162},      {28603, "Arial", 186},
    {28605, "Arial", 0},        {38598, "Arial", 177},    {50220, "MS PGothic", 128}, {50225, "Gulim", 129},
    {51932, "MS PGothic", 128}, {51949, "Gulim", 129},    {52936, "SimSun", 134},     {54936, "SimSun", 134},
    {65000, "Arial", 0},        {65001, "Arial", 0},
};

template <typename Lower>
int CompareLowered(std::u16string_view a, std::u16string_view b, Lower lower) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    UChar32 ca, cb;
    U16_NEXT(a.data(), i, a.size(), ca);
    U16_NEXT(b.data(), j, b.size(), cb);
    ca = lower(ca);
    cb = lower(cb);
    if (ca == cb) continue;
    // Order by the first UTF-16 unit of each, as a code-unit comparison would.
    UChar ua = U_IS_BMP(ca) ? static_cast<UChar>(ca) : U16_LEAD(ca);
    UChar ub = U_IS_BMP(cb) ? static_cast<UChar>(cb) : U16_LEAD(cb);
    if (ua != ub) return ua < ub ? -1 : 1;
    UChar ta = U_IS_BMP(ca) ? 0 : U16_TRAIL(ca);
    UChar tb = U_IS_BMP(cb) ? 0 : U16_TRAIL(cb);
    return ta < tb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

unsigned CodePageFromCharsetName(std::string_view name) {
  const auto& table = CharsetMapTable();
  auto it = table.find(AsciiLowered(name));
  return it == table.end() ? 0 : it->second;
}

bool IsSupportedCodePage(unsigned cp) {
  if (cp == kCpAcp) return true;
  const CodePageEntry* entry = FindCodePage(cp);
  if (!entry) return false;
  return !entry->icuName || ThreadConverter(*entry) != nullptr;
}

const std::vector<unsigned>& KnownCodePages() {
  static const std::vector<unsigned> list = [] {
    std::vector<unsigned> v;
    for (const CodePageEntry& e : kCodePages) v.push_back(e.cp);
    return v;
  }();
  return list;
}

bool MultiByteToWide(unsigned cp, std::string_view in, std::u16string& out) {
  out.clear();
  if (cp == kCpAcp) cp = kCpWindows1252;
  if (cp == kCpWindows1252) {
    Decode1252(in, out);
    return true;
  }
  if (cp == kCpUtf8) {
    DecodeUtf8(in, out);
    return true;
  }
  const CodePageEntry* entry = FindCodePage(cp);
  if (!entry) return false;
  UConverter* cnv = ThreadConverter(*entry);
  if (!cnv) return false;
  if (in.empty()) return true;
  // At most one surrogate pair per input byte, plus room for a replacement at the end.
  out.resize(in.size() * 2 + 2);
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = ucnv_toUChars(cnv, out.data(), static_cast<int32_t>(out.size()), in.data(),
                              static_cast<int32_t>(in.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(len);
    err = U_ZERO_ERROR;
    len = ucnv_toUChars(cnv, out.data(), static_cast<int32_t>(out.size()), in.data(), static_cast<int32_t>(in.size()),
                        &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) {
    out.clear();
    return true;
  }
  out.resize(len);
  return true;
}

bool WideToMultiByte(unsigned cp, std::u16string_view in, std::string& out) {
  out.clear();
  if (cp == kCpAcp) cp = kCpWindows1252;
  if (cp == kCpWindows1252) {
    Encode1252(in, out);
    return true;
  }
  if (cp == kCpUtf8) {
    EncodeUtf8(in, out);
    return true;
  }
  const CodePageEntry* entry = FindCodePage(cp);
  if (!entry) return false;
  UConverter* cnv = ThreadConverter(*entry);
  if (!cnv) return false;
  if (in.empty()) return true;
  out.resize(UCNV_GET_MAX_BYTES_FOR_STRING(in.size(), ucnv_getMaxCharSize(cnv)) + 8);
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), in.data(),
                                static_cast<int32_t>(in.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(len);
    err = U_ZERO_ERROR;
    len = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), in.data(), static_cast<int32_t>(in.size()),
                          &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) {
    out.clear();
    return true;
  }
  out.resize(len);
  return true;
}

std::u16string ToLowerSimple(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    UChar32 c;
    U16_NEXT(s.data(), i, s.size(), c);
    c = u_tolower(c);
    if (U_IS_BMP(c)) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(U16_LEAD(c));
      out.push_back(U16_TRAIL(c));
    }
  }
  return out;
}

int CompareNoCaseWide(std::u16string_view a, std::u16string_view b) {
  return CompareLowered(a, b, [](UChar32 c) { return u_tolower(c); });
}

bool CodePageFontInfo(unsigned cp, std::string& fontName, std::uint8_t& gdiCharset) {
  for (const FontEntry& f : kFonts) {
    if (f.cp == cp) {
      fontName = f.font;
      gdiCharset = f.gdiCharset;
      return true;
    }
  }
  fontName.clear();
  gdiCharset = 0;
  return false;
}

}  // namespace platform
