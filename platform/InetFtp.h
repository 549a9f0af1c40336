// FTP connection, file and finder over libcurl: what the fetch worker's FTP handler asks of
// a server, as classes.
//
//   auto conn = session.GetFtpConnection(server, user, password, port, passive);  // logs in
//   if (conn->SetCurrentDirectory("/pub")) ...                 // CWD /pub
//   auto file = conn->OpenFile("/pub/a.txt");                  // RETR, up to its first bytes
//   file->Close();                                             // abandons the rest
//   platform::CFtpFileFind finder(*conn);
//   if (finder.FindFile("/pub/a.txt")) {                       // SIZE and MDTM
//       finder.FindNextFile();
//       finder.GetLength(); finder.GetLastWriteTime(t);
//   }
//   std::string home;
//   conn->GetCurrentDirectory(home);                           // PWD
//   for (const platform::FtpListEntry& e : conn->ListDirectory("/pub/")) ...  // MLSD or LIST
//   conn->Close();
//
// Paths are sent as given (decoded, absolute paths stay absolute): CWD and RETR carry the
// whole path. A path holding CR, LF or NUL is refused (12005) before anything is sent.
// An absolute path reaches curl as "%2F" and the rest ("ftp://host:port/%2Fpub/"), so the
// server gets exactly "/pub"; a relative path is relative to the login folder, since curl
// goes back there before a command on a reused connection.
//
// Failures: a refused login throws 12013 (the user name), 12014 (the password) or 12015
// (any other refusal); a command the server refuses throws 12003 with the server's last
// reply as the message; connection errors are numbered as for HTTP. Cancelling the session
// fails the running command with 12017.
//
// Threads and connections as in Inet.h: one connection is one pooled transfer (key
// "ftp://user@host:port"), kept logged in between the calls and returned to the pool at
// Close when its last command ended cleanly; otherwise its control connection is cut
// without waiting for an answer to QUIT.
#pragma once

#include "platform/FtpListing.h"
#include "platform/Inet.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline constexpr std::uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
inline constexpr std::uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr std::uint32_t ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;

inline constexpr std::uint16_t INTERNET_DEFAULT_FTP_PORT = 21;

inline constexpr std::uint32_t GENERIC_READ = 0x80000000;
inline constexpr std::uint32_t FTP_TRANSFER_TYPE_ASCII = 0x00000001;
inline constexpr std::uint32_t FTP_TRANSFER_TYPE_BINARY = 0x00000002;

namespace inet_detail {
struct FtpState;
}

class CFtpConnection;

// A file opened for reading on an FTP connection. While it is open, the connection runs no
// other command (12110).
class CFtpFile {
 public:
  CFtpFile(const CFtpFile&) = delete;
  CFtpFile& operator=(const CFtpFile&) = delete;
  ~CFtpFile();

  // Up to count bytes of the file; 0 at its end. Throws CInternetException.
  std::size_t Read(void* buffer, std::size_t count);
  // Ends the transfer; a file not read to its end is abandoned (its control connection
  // goes, the next command logs in again). Safe to call twice.
  void Close();

 private:
  friend class CFtpConnection;
  explicit CFtpFile(std::shared_ptr<inet_detail::FtpState> state) : m_state(std::move(state)) {}
  std::shared_ptr<inet_detail::FtpState> m_state;
  bool m_open = true;
};

// A logged-in FTP connection (CInternetSession::GetFtpConnection).
class CFtpConnection {
 public:
  CFtpConnection(const CFtpConnection&) = delete;
  CFtpConnection& operator=(const CFtpConnection&) = delete;
  ~CFtpConnection();

  // CWD to path; false when the server refuses it or the command fails (the reason is
  // InternetGetLastError and GetLastResponse).
  bool SetCurrentDirectory(const std::string& path);

  // RETR of path, run until its first bytes arrived or the file ended. access must be
  // GENERIC_READ. Throws CInternetException.
  std::unique_ptr<CFtpFile> OpenFile(const std::string& path, std::uint32_t access = GENERIC_READ,
                                     std::uint32_t flags = FTP_TRANSFER_TYPE_BINARY);

  // PWD, asked once curl is back in the login folder: the folder the server puts this
  // user in. False when the server refuses it or names none (InternetGetLastError).
  bool GetCurrentDirectory(std::string& dir);

  // The entries of a folder, "." and ".." left out: MLSD when the server names MLST among
  // its features (FEAT, asked once per connection), else LIST in the Unix or DOS form.
  // Throws CInternetException: 12003 with the server's reply when it refuses the CWD into
  // the folder or the listing.
  std::vector<FtpListEntry> ListDirectory(const std::string& path);

  // The server's last reply (its lines joined by blanks).
  std::string GetLastResponse() const;

  // Returns the connection to the pool when its last command ended cleanly. Safe to call
  // twice; later calls fail with 12019.
  void Close();

  const std::string& GetServerName() const;

 private:
  friend class CInternetSession;
  friend class CFtpFileFind;
  explicit CFtpConnection(std::shared_ptr<inet_detail::FtpState> state) : m_state(std::move(state)) {}
  std::shared_ptr<inet_detail::FtpState> m_state;
};

// The size and modification time of one file (SIZE and MDTM).
class CFtpFileFind {
 public:
  explicit CFtpFileFind(CFtpConnection& connection) : m_state(connection.m_state) {}

  // Asks for the file's size and date; true when the server gave its size.
  bool FindFile(const std::string& path, std::uint32_t flags = INTERNET_FLAG_RELOAD);
  // Steps to the found entry; false, as it is the only one.
  bool FindNextFile();
  std::uint64_t GetLength() const { return m_length; }
  // The server keeps no creation time: false.
  bool GetCreationTime(std::time_t& time) const;
  // UTC seconds of the last change; false when the server did not tell it.
  bool GetLastWriteTime(std::time_t& time) const;
  void Close() { m_found = false; }

 private:
  std::shared_ptr<inet_detail::FtpState> m_state;
  bool m_found = false;
  std::uint64_t m_length = 0;
  std::time_t m_modified = -1;
};

}  // namespace platform
