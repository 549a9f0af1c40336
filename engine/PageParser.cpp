// Handling of one finished fetch on the user-interface thread: retries, spreading of host
// and mail-domain results, redirects, and the dispatch of the body to its link extractor.
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/Fetch.h"
#include "engine/FileRemoval.h"
#include "engine/Host.h"
#include "engine/PageIntake.h"
#include "engine/TempFiles.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/InetError.h"
#include "platform/TempDir.h"
#include "platform/TextFile.h"

namespace {

bool NeverRetried(std::int16_t status) {
  switch (status) {
    case 6:
    case 200:
    case 401:
    case 503:
    case 504:
    case platform::ERROR_INTERNET_TIMEOUT:
    case platform::ERROR_INTERNET_NAME_NOT_RESOLVED:
    case platform::ERROR_INTERNET_OPERATION_CANCELLED:
    case platform::ERROR_INTERNET_CANNOT_CONNECT:
    case platform::ERROR_INTERNET_CONNECTION_ABORTED:
    case STATUS_SKIP_TYPE: return true;
    default: return false;
  }
}

}  // namespace

bool IsInTempDir(const std::string& path) {
  const std::string temp = platform::GetTempPath();
  return !temp.empty() && path.compare(0, temp.size(), temp) == 0;
}

void CWexoDoc::ParseFetchedPage(FetchResult& result) {
  const CLinkInfo* link = result.pLink;
  if (!link) return;
  const std::int16_t status = link->m_nStatus;

  // Signed: a negative MaxRetry (a document file may hold one) means no retry.
  if (!IsPaused() && int{link->GetAttempts()} <= int{m_settings.MaxRetry} && !NeverRetried(status)) {
    ResetRecord(link);
    // A failed fetch keeps no body, but a stray temporary file must not stay behind.
    if (result.bBodyIsTemp && !result.csBodyFile.empty() && IsInTempDir(result.csBodyFile))
      ::unlink(result.csBodyFile.c_str());
    return;
  }

  RecordChanged(link);
  // Fetched again after its level fell below the depth limit: its redirect is known already.
  const bool fetchedAgain = link->m_bHeldAtDepth;
  m_table.Mutable(*link)->m_bHeldAtDepth = false;
  if (m_settings.ShowBrokenOnly && link->IsBroken() && m_pObserver) m_pObserver->RecordWantsLastRow(*link);

  if (status == 408 || status == platform::ERROR_INTERNET_TIMEOUT ||
      status == platform::ERROR_INTERNET_NAME_NOT_RESOLVED || status == platform::ERROR_INTERNET_CANNOT_CONNECT)
    FailSimilarHost(result.csUrl, status);

  if (status == STATUS_MAIL_HOST_OK && result.csUrl.starts_with("mailto:")) {
    if (const std::vector<std::uint32_t>* records = m_table.RecordsOfMailDomain(MailtoDomain(result.csUrl))) {
      for (std::uint32_t index : *records) {
        const CLinkInfo* other = m_table.GetLink(index);
        if ((other->m_nStatus == 0 || other->m_nStatus == platform::ERROR_INTERNET_NAME_NOT_RESOLVED) &&
            !IsActive(other)) {
          SetStatus(other, STATUS_MAIL_HOST_OK, std::string());
        }
      }
    }
  }

  if (status != 200) return;

  if (result.bAuthenticated) RequeueAuthRequired(result.csUrl);

  if (!result.csRedirectTarget.empty()) {
    // The worker has done this already when it took the page in.
    if (!result.bRedirectPrepared) PrepareRedirect(result, link->GetCodePage());
    if (!fetchedAgain) AddRedirect(result.csUrl, result.csRedirectResolved, result.wRedirectCode);
  }

  if (!result.HasBody()) return;

  if (link->m_nLevel >= m_settings.MaxLevel) {
    // Parsed only should a shorter path to it turn up.
    m_table.Mutable(*link)->m_bHeldAtDepth = true;
  } else if (!ApplyIntake(result)) {
    // The worker did not take the page in, or what it assumed changed since: read here.
    const std::string& url = link->GetUrl();
    if (url.size() >= 4 && url.compare(url.size() - 4, 4, ".jar") == 0) {
      // The archive's count of links out changed.
      if (ListJar(result)) RecordChanged(link);
    } else {
      platform::LineReader file;
      if (result.body) {
        file.OpenText(result.body, result.csUrl);
      } else if (!file.Open(result.csBodyFile)) {
        const bool paused = IsPaused();
        SetPaused(true);
        char buffer[4096];
        std::snprintf(buffer, sizeof buffer,
                      "Internal error: Could not open %s '%s' to read content of URL '%s', cause: %s",
                      result.bBodyIsTemp ? "temporary file" : "file", result.csBodyFile.c_str(), result.csUrl.c_str(),
                      platform::FileErrorText(file.ErrorNumber()).c_str());
        Host().MessageBox(buffer, BoxKind::Error);
        Host().RaiseExitCode(kExitFailed);
        SetPaused(paused);
        SetStatus(link, 2, buffer);
        return;
      }
      file.SetLimits(kLinePieceLimit, static_cast<std::uint64_t>(kPageLimit));
      const char* note = nullptr;  // why the scan stopped early
      try {
        if (link->m_csMimeType == "text/css") {
          std::string text = ReadCss(file, link);
          ParseCss(result, text, link->GetCodePage());
        } else {
          ScanHtml(result, file);
        }
        if (file.WasCut()) note = kPageCutText;
      } catch (const std::bad_alloc&) {
        // One page that does not fit ends its own scan, with the links found so far.
        note = "out of memory while parsing the page";
      }
      if (note)
        m_table.SetStatusText(*m_table.Mutable(*link), note);
      else
        RecordChanged(link);
      file.Close();
    }
  }

  if (result.bBodyIsTemp && !result.csBodyFile.empty()) {
    if (!IsInTempDir(result.csBodyFile)) {
      char buffer[4096];
      std::snprintf(buffer, sizeof buffer, "Internal error: Tempfile '%s' is not in %%TEMP%%",
                    result.csBodyFile.c_str());
      Host().MessageBox(buffer, BoxKind::Error);
      // Whatever named that file must not go on: the program ends in order.
      Host().Quit(kExitFailed);
      return;
    }
    RemoveFileLater(result.csBodyFile);
  }
}
