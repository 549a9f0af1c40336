// The HTML tag scan over a fuzzed page; the first byte chooses how long lines are cut into
// pieces. No record it adds holds a control byte in its key.
#include "engine/Fetch.h"
#include "fuzz/FuzzSupport.h"
#include "platform/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Engine engine;
  static const std::string path = fuzz::PathOf("page.html");
  const std::string page = "http://www.example.com/dir/page.html";
  fuzz::Input in(data, size);
  const std::size_t pieceLimit = in.Byte() % 4 == 0 ? 16 : 0;
  fuzz::WriteFile(path, in.Rest());

  auto doc = engine.NewDoc();
  doc->SetRootUrl("http://www.example.com/");
  FetchResult result;
  result.pLink = doc->NewLink(page, nullptr, REQUEST_GET);
  result.csUrl = page;
  platform::LineReader reader;
  FUZZ_CHECK(reader.Open(path));
  reader.SetLimits(pieceLimit, 0);
  doc->ScanHtml(result, reader);
  for (std::size_t i = 0; i < doc->GetLinkCount(); ++i) {
    const std::string& url = doc->GetLink(i)->GetUrl();
    for (const char c : url) FUZZ_CHECK_ABOUT(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, url);
  }
  return 0;
}
