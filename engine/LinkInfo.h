// One record per distinct URL of a check, its status codes and the hand-over record of a fetch.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/InetHandle.h"

class CCharsetInfo;
class LinkTable;
namespace platform {
class CArchive;
}

enum : std::uint16_t { REQUEST_POST = 0, REQUEST_GET = 1, REQUEST_HEAD = 2 };

enum : std::int16_t {
  STATUS_MAIL_HOST_OK = -6,
  STATUS_JAR_CONTENT = -5,
  STATUS_USER_SKIP = -4,
  STATUS_SKIP_TYPE = -3,
  STATUS_SKIP_EXTERNAL = -2,
  STATUS_BUSY = -1,
  STATUS_PENDING = 0,
};

// The text of a status code: the table's name, "error %hd" for any other code.
std::string StatusText(std::int16_t code);

// A link is broken when its status is above 0 and not 200.
inline bool IsBrokenStatus(std::int16_t code) { return code > 0 && code != 200; }

// The state of a running worker thread, shared by the thread and its record.
class CWorkerThread {
 public:
  static constexpr std::uint32_t kStillActive = 259;
  void SetExitCode(std::uint32_t code) { m_exitCode.store(code, std::memory_order_release); }
  // The exit code, kStillActive while the thread runs.
  std::uint32_t GetExitCode() const { return m_exitCode.load(std::memory_order_acquire); }

 private:
  std::atomic<std::uint32_t> m_exitCode{kStillActive};
};

using Md5Digest = std::array<std::uint8_t, 16>;

// One record: data that its document changes (user-interface thread). The one member a
// worker shares is the session handle, m_hInternet.
class CLinkInfo {
 public:
  CLinkInfo();
  ~CLinkInfo();
  void Serialize(platform::CArchive& ar);
  CLinkInfo(const CLinkInfo&) = delete;
  CLinkInfo& operator=(const CLinkInfo&) = delete;

  const std::string& GetUrl() const;
  std::string GetStatusText() const { return StatusText(m_nStatus); }
  std::uint32_t GetLinksOutCount() const { return m_nLinksOut; }
  std::uint32_t GetLinksInCount() const { return static_cast<std::uint32_t>(m_dwaReferrers.size()); }
  void IncrementAttempts() { ++m_wAttempts; }
  std::uint16_t GetAttempts() const { return m_wAttempts; }
  std::string GetServer() const;
  std::string GetCharsetName() const;
  unsigned GetCodePage() const;
  const CCharsetInfo* GetCharset() const { return m_pCharset; }
  void SetCharsetInfo(const CCharsetInfo* cs) { m_pCharset = cs; }
  const std::string* GetServerName() const { return m_pcsServer; }
  void SetServerName(const std::string* s) { m_pcsServer = s; }

  bool IsParsableType() const;
  // Documents, audio and video: valid targets that count as pages without being parsed.
  bool IsNonHtmlType() const;
  bool IsBroken() const { return IsBrokenStatus(m_nStatus); }

  // Takes the session handle out of the record; whoever gets a non-zero value closes it.
  // Any thread: the worker stores the handle, the stop command and the pump take it. The
  // handle is the one member a worker touches, so it can be reached through a const record.
  platform::HINTERNET TakeInternetHandle() const { return m_hInternet.exchange(0, std::memory_order_acq_rel); }

  std::vector<std::uint32_t> m_dwaReferrers;
  // The records this page links to (see CWexoDoc::GetTargets); rebuilt when a file is loaded.
  mutable std::vector<std::uint32_t> m_dwaTargets;
  mutable bool m_bTargetsInOrder = true;
  // Fetched with a body while at the depth limit, so not parsed: should its level fall below
  // the limit, it is fetched again for its links. Not stored; a loaded file gives it back
  // from what such a page looks like.
  bool m_bHeldAtDepth = false;
  std::uint32_t m_nIndex = 0;
  // The record's place in its crawl's active list (Crawl::IsActive); kNotActive when it has
  // none.
  static constexpr std::uint32_t kNotActive = 0xFFFFFFFFu;
  std::uint32_t m_nActiveSlot = kNotActive;
  std::uint16_t m_wRequestKind = REQUEST_GET;
  std::int64_t m_nSize = 0;
  std::int16_t m_nLevel = -1;
  std::string m_csMimeType;
  std::string m_csTitle;
  std::string m_csDescription;
  std::string m_csKeywords;
  std::int32_t m_bDateKnown = 0;
  std::int64_t m_tDate = 0;
  std::int64_t m_tStart = 0;
  std::int64_t m_tsDuration = 0;
  std::int16_t m_nDurationMs = 0;
  std::int16_t m_nStatus = STATUS_PENDING;
  std::string m_csStatusText;
  std::vector<std::string> m_saAnchors;
  std::vector<std::string> m_saFragments;
  mutable std::atomic<platform::HINTERNET> m_hInternet{0};
  std::uint32_t m_nLinksOut = 0;
  const LinkTable* m_pTable = nullptr;  // the table that holds the record's URL
  // Shared with the running worker, which sets its exit code; the rest of the record is
  // the user-interface thread's.
  std::shared_ptr<CWorkerThread> m_hThread;
  std::int32_t m_bInJar = 0;
  std::string m_csPostData;
  std::unique_ptr<Md5Digest> m_pDigest;
  std::uint16_t m_wAttempts = 0;

 private:
  const CCharsetInfo* m_pCharset = nullptr;
  const std::string* m_pcsServer = nullptr;
};

// Points the record at the pooled string for a Server header text.
void InternServerName(CLinkInfo* link, const std::string& text);
// The pooled string for a text (created on first use; never freed while the program runs).
const std::string* InternServerNameText(const std::string& text);
// Frees the pool at program exit.
void FreeServerNamePool();

// What a worker hands back; outcome and hasOutcome are defined in engine/Fetch.h.
struct FetchOutcome;
class PageIntake;
struct FetchResult {
  FetchResult();
  FetchResult(const FetchResult& other);
  FetchResult& operator=(const FetchResult& other);
  ~FetchResult();

  const CLinkInfo* pLink = nullptr;  // the record fetched; written only through its table
  std::string csUrl;
  std::string csRedirectTarget;
  std::uint16_t wRedirectCode = 0;
  std::string csBodyFile;
  bool bBodyIsTemp = false;
  // A body small enough to stay in memory, instead of csBodyFile. The copies of a result
  // share it; the worker fills it, the user-interface thread reads it after the hand-over.
  std::shared_ptr<std::string> body;
  bool bAuthenticated = false;
  // The redirect target resolved, and its link added to the body (PrepareRedirect).
  bool bRedirectPrepared = false;
  std::string csRedirectResolved;
  // The page as the worker took it in; nullptr when the user-interface thread reads it.
  std::shared_ptr<const PageIntake> intake;
  bool HasBody() const { return body || !csBodyFile.empty(); }
  // What the fetch learnt, applied to the record when the result is handed over.
  std::unique_ptr<FetchOutcome> outcome;
};
