// The fetch worker's gopher handler: the selector is asked for and its first bytes taken;
// no body is kept.
#include <memory>
#include <string>

#include "engine/SchemeHandlers.h"
#include "engine/Url.h"

using namespace platform;

void FetchGopher(FetchJob& job) {
  constexpr std::size_t kLongMessage = 1024;
  if (HoldsLineBreakOrNul(DecodePercentEscapes(job.object))) {
    job.Finish(404, "Could not parse URL");
    return;
  }
  std::int32_t status = 200;
  std::string text;
  try {
    std::unique_ptr<CInternetFile> file = job.session.OpenURL(job.request.url, INTERNET_FLAG_TRANSFER_ASCII);
    file->Close();
  } catch (const CInternetException& e) {
    status = static_cast<std::int32_t>(e.m_dwError);
    text = LibraryMessage(e, kLongMessage);
  }
  SetDuration(job.outcome, job.start);
  job.Finish(status, std::move(text));
}
