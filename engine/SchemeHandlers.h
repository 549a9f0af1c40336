// The fetch worker's scheme handlers and what they share: the attempt's start stamp, the job
// one worker carries from start to hand-over, and the gzip decoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/Fetch.h"
#include "engine/TempFiles.h"
#include "platform/Inet.h"

// When an attempt started: whole seconds and milliseconds of a monotonic clock.
struct FetchStamp {
  std::int64_t seconds = 0;
  std::int16_t ms = 0;
};

FetchStamp TakeFetchStamp();
// Stores the time since start in the outcome's duration (seconds, milliseconds).
void SetDuration(FetchOutcome& outcome, const FetchStamp& start);

// Everything one worker keeps while it fetches its URL.
struct FetchJob {
  FetchJob(const FetchRequest& req, FetchResult& res, platform::CInternetSession& s, FetchStamp st)
      : request(req), result(res), outcome(*res.outcome), session(s), start(st) {}

  const FetchRequest& request;
  FetchResult& result;
  FetchOutcome& outcome;
  platform::CInternetSession& session;
  FetchStamp start;

  std::int32_t status = 0;
  std::string text;
  bool isJar = false;

  unsigned service = 0;
  std::string server;
  std::string object;
  std::uint16_t port = 0;
  std::string user;
  std::string password;

  // True once the user-interface thread took the session handle to abort the fetch.
  bool Aborted() const;
  // The record's MIME type as the fetch has left it so far.
  const std::string& MimeType() const { return outcome.setMimeType ? outcome.mimeType : request.mimeType; }
  void Finish(std::int32_t code, std::string message) {
    status = code;
    text = std::move(message);
  }
};

// The status of a failed file operation: its file-exception cause, never 0 (which would
// read as "not checked yet").
inline std::int32_t FileErrorStatus(int err) {
  const int cause = FileExceptionCauseOf(err);
  return cause == FILE_CAUSE_NONE ? FILE_CAUSE_GENERIC : cause;
}

// The record's parsable-type rule applied to a MIME type.
bool IsParsableMimeType(const std::string& type);

// The scheme handlers: each leaves its status and text in the job.
void FetchHttp(FetchJob& job);
// Certificates accepted in a dialog are remembered per server for the rest of the run;
// this forgets them.
void ForgetAcceptedCertificates();
void FetchLocalFile(FetchJob& job);
void FetchFtp(FetchJob& job);
void FetchGopher(FetchJob& job);
void FetchMailto(FetchJob& job);
// True when a decoded FTP path or gopher selector holds CR, LF or NUL: sent on, it would put
// lines of a page's choosing on the wire.
bool HoldsLineBreakOrNul(const std::string& text);
// The internet library's message of e, blanks trimmed at both ends, cut to limit bytes.
std::string LibraryMessage(const platform::CInternetException& e, std::size_t limit);
// -3 for the skipped schemes of the table, else 404.
std::int32_t SkippedSchemeStatus(std::string_view url);

// Decodes the gzip file into outPath; 0 with size and digest of the decoded bytes, or -1
// with the reason in message (no output file left behind, size 0). Decoding stops after limit
// bytes; cut (when given) tells that the body went on past them. Messages name no file.
int GunzipFile(const std::string& gzipPath, const std::string& outPath, std::int64_t& size, std::uint8_t digest[16],
               std::string& message, std::int64_t limit = INT64_MAX, bool* cut = nullptr);
