#include "engine/Charset.h"

#include <strings.h>
#include <map>
#include <memory>
#include <mutex>

#include "engine/LinkInfo.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"

namespace {

std::mutex charsetMapLock;

std::map<std::string, std::unique_ptr<const CCharsetInfo>, std::less<>>& CharsetMap() {
  static auto* map = new std::map<std::string, std::unique_ptr<const CCharsetInfo>, std::less<>>;
  return *map;
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
  const std::string key = platform::AsciiLowered(name);
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
    return platform::AsciiCompareNoCase(a, b);
  return platform::CompareNoCaseWide(wa, wb);
}
