#include "engine/Charset.h"

#include <map>
#include <memory>
#include <mutex>
#include <strings.h>

#include "engine/LinkInfo.h"
#include "platform/CodePage.h"

namespace {

std::mutex charsetMapLock;

std::map<std::string, std::unique_ptr<const CCharsetInfo>, std::less<>>& CharsetMap() {
  static auto* map = new std::map<std::string, std::unique_ptr<const CCharsetInfo>, std::less<>>;
  return *map;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

int NarrowCompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return ca - cb;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace

CCharsetInfo::CCharsetInfo(const std::string& name) : m_csName(name) {
  if (name.empty()) return;
  m_nCodePage = platform::CodePageFromCharsetName(name);
  if (m_nCodePage == 0) return;
  std::string font;
  std::uint8_t gdi = 0;
  if (platform::CodePageFontInfo(m_nCodePage, font, gdi)) {
    if (font.size() > 32) font.resize(32);
    m_csFontName = font;
    m_nGdiCharset = gdi;
  }
}

const CCharsetInfo* InternCharset(std::string_view name) {
  const std::string key = AsciiLower(name);
  std::lock_guard<std::mutex> lock(charsetMapLock);
  auto& map = CharsetMap();
  auto it = map.find(key);
  if (it == map.end()) it = map.emplace(key, std::make_unique<const CCharsetInfo>(key)).first;
  return it->second.get();
}

void SetCharset(CLinkInfo* link, std::string_view name) { link->SetCharsetInfo(InternCharset(name)); }

void FreeCharsetMap() {
  std::lock_guard<std::mutex> lock(charsetMapLock);
  CharsetMap().clear();
}

int CompareInCodePages(std::string_view a, unsigned cpA, std::string_view b, unsigned cpB) {
  std::u16string wa, wb;
  if (!platform::MultiByteToWide(cpA, a, wa) || !platform::MultiByteToWide(cpB, b, wb))
    return NarrowCompareNoCase(a, b);
  return platform::CompareNoCaseWide(wa, wb);
}
