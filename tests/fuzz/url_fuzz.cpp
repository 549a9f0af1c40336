// The URL functions over a fuzzed URL or link: crack, canonical form, resolution and the
// entity and escape decoders. The first byte chooses the code page, the lower-case flag and
// the base of the resolution.
#include "engine/Url.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The canonical form is stable: a key brought into it again stays the same key, and the
// shortcut for plain http URLs gives what the general case gives.
void CheckCanonicalForm(const std::string& url, bool lowerCase, unsigned codePage) {
  std::string once = url, fully = url;
  CanonicalizeUrl(once, lowerCase, codePage);
  CanonicalizeUrlFully(fully, lowerCase, codePage);
  FUZZ_CHECK_ABOUT(once == fully, once + " / " + fully);
  std::string twice = once;
  CanonicalizeUrl(twice, lowerCase, codePage);
  FUZZ_CHECK_ABOUT(twice == once, once + " -> " + twice);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Engine engine;  // the settings file that ResolveLink reads
  static const std::string kBases[] = {"http://www.example.com/dir/page.html", "https://u:p@h.test:8443/a/b/?q=1",
                                       "ftp://ftp.example.com/pub/", "file:///home/user/site/index.html"};
  fuzz::Input in(data, size);
  const std::uint8_t choice = in.Byte();
  const unsigned codePage = fuzz::CodePage(choice);
  const bool lowerCase = choice & 0x08;
  const std::string& base = kBases[(choice >> 4) % 4];
  const std::string text(in.Rest());

  unsigned service = 0;
  std::string host, object, user, password;
  std::uint16_t port = 0;
  CrackUrl(text, service, host, object, port, user, password);
  CheckCanonicalForm(text, lowerCase, codePage);

  std::string link = text;
  if (ResolveLink(base, link, codePage) && !link.starts_with('#')) {
    FUZZ_CHECK(platform::SchemeLength(link) > 0);
    CheckCanonicalForm(link, lowerCase, codePage);
  }

  std::string decoded = text;
  DecodeEntities(decoded, codePage);
  FUZZ_CHECK(DecodePercentEscapes(text).size() <= text.size());
  std::u16string wide(text.begin(), text.end());
  const std::size_t wideSize = wide.size();
  DecodeEntitiesW(wide);
  FUZZ_CHECK(wide.size() <= wideSize);
  return 0;
}
