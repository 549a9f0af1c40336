#include "engine/FetchWorker.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "engine/HandOver.h"
#include "engine/Host.h"
#include "engine/SchemeHandlers.h"
#include "engine/Url.h"
#include "platform/AsciiText.h"

FetchStamp TakeFetchStamp() {
  // A monotonic clock: a clock set back during a fetch must not give a negative duration.
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  FetchStamp stamp;
  stamp.seconds = ms / 1000;
  stamp.ms = static_cast<std::int16_t>(ms % 1000);
  return stamp;
}

void SetDuration(FetchOutcome& outcome, const FetchStamp& start) {
  const FetchStamp now = TakeFetchStamp();
  std::int64_t seconds = now.seconds - start.seconds;
  int ms = now.ms - start.ms;
  if (ms < 0) {
    --seconds;
    ms += 1000;
  }
  outcome.setDuration = true;
  outcome.durationSeconds = seconds;
  outcome.durationMs = static_cast<std::int16_t>(ms);
}

bool FetchJob::Aborted() const {
  if (request.pLink) return request.pLink->m_hInternet.load(std::memory_order_acquire) == 0;
  return session.IsCancelled();
}

bool IsParsableMimeType(const std::string& type) {
  CLinkInfo probe;
  probe.m_csMimeType = type;
  return probe.IsParsableType();
}

std::int32_t SkippedSchemeStatus(std::string_view url) {
  static constexpr std::string_view kExact[] = {
      "view-source:", "rtsp://", "wtai://", "callto:", "ymsgr:", "irc://", "xmpp:",
      "ldap:",        "mms:",    "tel:",    "pnm:",    "data:",  "steam:", "aim:"};
  if (platform::AsciiStartsWithNoCase(url, "javascript:")) return STATUS_SKIP_TYPE;
  for (std::string_view prefix : kExact)
    if (url.starts_with(prefix)) return STATUS_SKIP_TYPE;
  return 404;
}

namespace {

void RunFetch(const FetchRequest& request, FetchResult& result, const FetchStamp& start) {
  platform::CInternetSession session(request.settings.UserAgent);
  if (request.pLink) request.pLink->m_hInternet.store(session.GetHandle(), std::memory_order_release);
  FetchJob job(request, result, session, start);

  if (!CrackUrl(request.url, job.service, job.server, job.object, job.port, job.user, job.password)) {
    job.Finish(404, request.url.empty() ? "URL is empty" : "Could not parse URL");
  } else {
    const std::string& url = request.url;
    job.isJar = url.size() >= 4 && url.compare(url.size() - 4, 4, ".jar") == 0;
    switch (job.service) {
      case AFX_INET_SERVICE_HTTP:
      case AFX_INET_SERVICE_HTTPS: FetchHttp(job); break;
      case AFX_INET_SERVICE_FILE: FetchLocalFile(job); break;
      case AFX_INET_SERVICE_UNK: job.Finish(SkippedSchemeStatus(url), std::string()); break;
      case AFX_INET_SERVICE_MAILTO: FetchMailto(job); break;
      case AFX_INET_SERVICE_FTP: FetchFtp(job); break;
      case AFX_INET_SERVICE_GOPHER: FetchGopher(job); break;
      default: job.Finish(STATUS_SKIP_TYPE, std::string()); break;
    }
  }

  // From here on neither the stop command nor the pump's time-out can reach the session;
  // when they took the handle already, they closed it and it must not be closed again.
  if (!request.pLink || request.pLink->TakeInternetHandle() != 0) session.Close();
  result.outcome->status = static_cast<std::int16_t>(job.status);
  result.outcome->statusText = std::move(job.text);
}

}  // namespace

void FetchWorker(FetchRequest request) {
  const FetchStamp start = TakeFetchStamp();
  auto result = std::make_unique<FetchResult>();
  result->pLink = request.pLink;
  result->csUrl = request.url;
  result->bBodyIsTemp = true;
  result->outcome = std::make_unique<FetchOutcome>();
  bool failed = true;
  try {
    RunFetch(request, *result, start);
    failed = false;
  } catch (const std::exception& e) {
    result->outcome->status = static_cast<std::int16_t>(platform::ERROR_INTERNET_INTERNAL_ERROR);
    result->outcome->statusText = e.what();
  } catch (...) {
    result->outcome->status = static_cast<std::int16_t>(platform::ERROR_INTERNET_INTERNAL_ERROR);
    result->outcome->statusText = platform::InternetErrorMessage(platform::ERROR_INTERNET_INTERNAL_ERROR);
  }
  if (failed && !result->csBodyFile.empty()) {
    // A handler that failed half-way may have left a partial body behind.
    if (result->bBodyIsTemp) std::remove(result->csBodyFile.c_str());
    result->csBodyFile.clear();
  }
  // The session of a failed handler was closed by its own end; the handle still goes out of
  // the record before the hand-over.
  if (request.pLink) request.pLink->TakeInternetHandle();
  TakeInFetchedPage(request, *result);
  if (request.handOver) {
    try {
      // Queued for the user-interface thread; the thread goes on to its next fetch.
      request.handOver->PostUrlDone(std::move(result));
    } catch (...) {
      // Not queued: it is dropped below.
    }
  }
  // Nobody took the result (no view): nobody will remove its body either.
  if (result) ResultHandOver::Drop(*result);
}
