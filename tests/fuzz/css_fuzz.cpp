// The style sheet parser over a fuzzed sheet in a code page the first byte chooses. Every URL
// it adds is a record, and the sheet counts at least as many links as it added records.
#include "engine/Fetch.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Engine engine;
  const std::string sheet = "http://www.example.com/css/site.css";
  fuzz::Input in(data, size);
  const unsigned codePage = fuzz::CodePage(in.Byte());
  std::string text(in.Rest());

  auto doc = engine.NewDoc();
  doc->SetRootUrl("http://www.example.com/");
  FetchResult result;
  result.pLink = doc->NewLink(sheet, nullptr, REQUEST_GET);
  result.csUrl = sheet;
  doc->ParseCss(result, text, codePage);
  FUZZ_CHECK(result.pLink->GetLinksOutCount() >= doc->GetLinkCount() - 1);
  for (std::size_t i = 1; i < doc->GetLinkCount(); ++i) FUZZ_CHECK(doc->FindLink(doc->GetLink(i)->GetUrl()));
  return 0;
}
