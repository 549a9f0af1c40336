#include "engine/Fetch.h"

#include <atomic>

#include "engine/WexoDoc.h"

namespace {

std::atomic<std::size_t> g_bodyBytes{0};

struct GiveBackOnDelete {
  std::size_t bytes;
  void operator()(std::string* text) const {
    delete text;
    GiveBackBodyBytes(bytes);
  }
};

}  // namespace

bool TakeBodyBytes(std::size_t bytes) {
  std::size_t now = g_bodyBytes.load(std::memory_order_relaxed);
  do {
    if (bytes > kMemoryBodiesLimit - now) return false;
  } while (!g_bodyBytes.compare_exchange_weak(now, now + bytes, std::memory_order_relaxed));
  return true;
}

void GiveBackBodyBytes(std::size_t bytes) { g_bodyBytes.fetch_sub(bytes, std::memory_order_relaxed); }

std::size_t BodyBytesInMemory() { return g_bodyBytes.load(std::memory_order_relaxed); }

std::shared_ptr<std::string> CountedBody(std::string text, std::size_t takenBytes) {
  try {
    return std::shared_ptr<std::string>(new std::string(std::move(text)), GiveBackOnDelete{takenBytes});
  } catch (...) {
    GiveBackBodyBytes(takenBytes);
    throw;
  }
}

FetchResult::FetchResult() = default;
FetchResult::~FetchResult() = default;

FetchResult::FetchResult(const FetchResult& other)
    : pLink(other.pLink),
      csUrl(other.csUrl),
      csRedirectTarget(other.csRedirectTarget),
      wRedirectCode(other.wRedirectCode),
      csBodyFile(other.csBodyFile),
      bBodyIsTemp(other.bBodyIsTemp),
      body(other.body),
      bAuthenticated(other.bAuthenticated),
      bRedirectPrepared(other.bRedirectPrepared),
      csRedirectResolved(other.csRedirectResolved),
      intake(other.intake),
      outcome(other.outcome ? std::make_unique<FetchOutcome>(*other.outcome) : nullptr) {}

FetchResult& FetchResult::operator=(const FetchResult& other) {
  if (this != &other) {
    FetchResult copy(other);
    pLink = copy.pLink;
    csUrl = std::move(copy.csUrl);
    csRedirectTarget = std::move(copy.csRedirectTarget);
    wRedirectCode = copy.wRedirectCode;
    csBodyFile = std::move(copy.csBodyFile);
    bBodyIsTemp = copy.bBodyIsTemp;
    body = std::move(copy.body);
    bAuthenticated = copy.bAuthenticated;
    bRedirectPrepared = copy.bRedirectPrepared;
    csRedirectResolved = std::move(copy.csRedirectResolved);
    intake = std::move(copy.intake);
    outcome = std::move(copy.outcome);
  }
  return *this;
}

void ApplyFetchOutcome(CWexoDoc& doc, CLinkInfo* link, const FetchOutcome& o) {
  if (o.setMimeType) link->m_csMimeType = o.mimeType;
  if (o.setSize) link->m_nSize = o.size;
  if (o.setDate) {
    link->m_bDateKnown = o.dateKnown;
    link->m_tDate = o.date;
  }
  if (o.server) link->SetServerName(o.server);
  if (o.setCharset) link->SetCharsetInfo(o.charset);
  if (o.setDigest) link->m_pDigest = o.digest ? std::make_unique<Md5Digest>(*o.digest) : nullptr;
  if (o.setDuration) {
    link->m_tsDuration = o.durationSeconds;
    link->m_nDurationMs = o.durationMs;
  }
  doc.SetStatus(link, o.status, o.statusText);
}
