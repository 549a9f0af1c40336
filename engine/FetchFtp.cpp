// The fetch worker's FTP handler: a folder is found by CWD, a file by a real RETR (a server
// may size and date a file it refuses to send), then its size and date.
#include <algorithm>
#include <ctime>
#include <memory>
#include <string>

#include "engine/SchemeHandlers.h"
#include "engine/Url.h"
#include "platform/InetFtp.h"

using namespace platform;

namespace {

constexpr std::size_t kLongMessage = 1024;
constexpr std::size_t kShortMessage = 255;

}  // namespace

bool HoldsLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

std::string LibraryMessage(const CInternetException& e, std::size_t limit) {
  const std::string message = e.GetErrorMessage();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t b = 0, end = message.size();
  while (b < end && blank(message[b])) ++b;
  while (end > b && blank(message[end - 1])) --end;
  return message.substr(b, std::min(end - b, limit));
}

void FetchFtp(FetchJob& job) {
  FetchOutcome& out = job.outcome;
  job.status = 200;
  const std::string path = DecodePercentEscapes(job.object);
  if (HoldsLineBreakOrNul(path)) {
    job.Finish(404, "Could not parse URL");
    return;
  }

  std::unique_ptr<CFtpConnection> connection;
  try {
    connection =
        job.session.GetFtpConnection(job.server, job.user, job.password, job.port, job.request.settings.PassiveFtp);
  } catch (const CInternetException& e) {
    SetDuration(out, job.start);
    job.Finish(static_cast<std::int32_t>(e.m_dwError), LibraryMessage(e, kLongMessage));
    return;
  }

  if (connection->SetCurrentDirectory(path)) {
    connection->Close();
    SetDuration(out, job.start);
    job.Finish(200, std::string());
    return;
  }

  try {
    std::unique_ptr<CFtpFile> file = connection->OpenFile(path, GENERIC_READ, FTP_TRANSFER_TYPE_BINARY);
    file->Close();
    file.reset();
    // The whole path: a shortened one would name another file.
    CFtpFileFind finder(*connection);
    if (finder.FindFile(path, INTERNET_FLAG_RELOAD)) {
      finder.FindNextFile();
      out.setSize = true;
      out.size = static_cast<std::int64_t>(finder.GetLength());
      std::time_t when = 0;
      if (finder.GetCreationTime(when) && when != 0) {
        out.setDate = true;
        out.dateKnown = 1;
        out.date = static_cast<std::int64_t>(when);
      }
      if (finder.GetLastWriteTime(when) && when != 0) {
        out.setDate = true;
        out.dateKnown = 1;
        out.date = static_cast<std::int64_t>(when);
      }
    }
    finder.Close();
  } catch (const CInternetException& e) {
    job.status = static_cast<std::int32_t>(e.m_dwError);
    job.text = e.GetErrorMessage().substr(0, kShortMessage);
  }

  connection->Close();
  SetDuration(out, job.start);
}
