#include "ui/WxText.h"

#include "platform/CodePage.h"

wxString FromUtf8(const std::string& text) {
  const wxString quick = wxString::FromUTF8(text.data(), text.size());
  if (!quick.empty() || text.empty()) return quick;
  std::u16string wide;
  platform::MultiByteToWide(platform::kCpUtf8, text, wide);
  std::string valid;
  platform::WideToMultiByte(platform::kCpUtf8, wide, valid);
  return wxString::FromUTF8Unchecked(valid.data(), valid.size());
}
