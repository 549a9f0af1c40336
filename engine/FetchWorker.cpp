#include "engine/FetchWorker.h"

#include "engine/Host.h"

// Until the transfer roads exist every fetch ends at once as not checked.
void FetchWorker(FetchRequest request) {
  FetchResult result;
  result.pLink = request.pLink;
  result.csUrl = request.url;
  result.outcome = std::make_unique<FetchOutcome>();
  result.outcome->status = STATUS_SKIP_TYPE;
  if (request.pView) request.pView->SendUrlDone(result);
}
