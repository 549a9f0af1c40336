// What the scheduler hands a worker and what the worker hands back. The worker reads only
// its request (a copy made on the user-interface thread) and fills only its outcome; the
// record is updated from the outcome in one step when the result is handed over.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/CheckSettings.h"
#include "engine/LinkInfo.h"

class CCharsetInfo;
struct LinkRules;
class CWexoDoc;
class ResultHandOver;
class IWexoHost;

// The settings a worker uses: its document's, copied when the fetch starts.
struct FetchSettings : CheckSettings {
  std::string language;  // the language switch's value
  bool batch = false;
};

struct FetchRequest {
  const CLinkInfo* pLink = nullptr;          // only its session handle is shared with the worker
  std::shared_ptr<ResultHandOver> handOver;  // receives the result; outlives the view
  IWexoHost* host = nullptr;                 // the credential and certificate dialogs; nullptr: none
  std::string url;
  std::string referrerUrl;  // the first referrer's URL, "" when none
  std::string postData;
  std::string rootUrl;  // the document's root prefix
  std::uint16_t requestKind = REQUEST_GET;
  std::uint16_t attempts = 0;  // this attempt included
  std::string mimeType;        // the record's type before this attempt
  std::shared_ptr<CWorkerThread> thread;
  FetchSettings settings;
  // For the intake of the page: the record's depth and charset before this attempt, and the
  // rules for its links (nullptr: the page is read on the user-interface thread).
  std::int16_t level = 0;
  const CCharsetInfo* charset = nullptr;
  std::shared_ptr<const LinkRules> linkRules;
};

// Bounds on one page, so a hostile server or file cannot exhaust memory or disk: the part of
// a body (after decoding) that is stored and parsed, and the longest piece of a line the scan
// takes at once (a longer line comes in pieces).
constexpr std::int64_t kPageLimit = std::int64_t{64} << 20;
constexpr std::size_t kLinePieceLimit = std::size_t{1} << 20;
// A body up to this size stays in memory: no file to create, write, read back and remove.
constexpr std::size_t kMemoryBodyLimit = std::size_t{1} << 20;
// The bodies in memory at once, of every fetch and every document, stay within this many
// bytes: one that does not fit goes to a temporary file, so results waiting for the parser
// cannot fill memory.
constexpr std::size_t kMemoryBodiesLimit = std::size_t{32} << 20;

// Takes bytes for a body in memory from kMemoryBodiesLimit; false (nothing taken) when they
// do not fit. Any thread.
bool TakeBodyBytes(std::size_t bytes);
void GiveBackBodyBytes(std::size_t bytes);
// The bytes taken now.
std::size_t BodyBytesInMemory();
// A finished body in memory that gives its taken bytes back when the last copy is gone.
std::shared_ptr<std::string> CountedBody(std::string text, std::size_t takenBytes);
// The status text of a page cut at kPageLimit.
inline constexpr char kPageCutText[] = "page larger than 64 MiB: only its first 64 MiB were checked";

// What a fetch learnt about its record.
struct FetchOutcome {
  std::int16_t status = 0;
  std::string statusText;
  bool setMimeType = false;
  std::string mimeType;
  bool setSize = false;
  std::int64_t size = 0;
  bool setDate = false;
  std::int32_t dateKnown = 0;
  std::int64_t date = 0;
  const std::string* server = nullptr;  // pooled; nullptr leaves the record's
  bool setCharset = false;
  const CCharsetInfo* charset = nullptr;  // pooled
  bool setDigest = false;
  std::optional<Md5Digest> digest;  // with setDigest: the new digest or none
  bool setDuration = false;
  std::int64_t durationSeconds = 0;
  std::int16_t durationMs = 0;
};

// The intake of a finished fetch's page, on the worker, when its result will be parsed: a
// good status, a body, a depth below the limit. Prepares the redirect as well.
void TakeInFetchedPage(const FetchRequest& request, FetchResult& result);

// Stores a handed-over outcome in its record, in one step (user-interface thread).
void ApplyFetchOutcome(CWexoDoc& doc, CLinkInfo* link, const FetchOutcome& outcome);
