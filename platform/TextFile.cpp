#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

}  // namespace

std::string FileErrorText(int err) {
  // strerrordesc_np is never translated, whatever locale the GUI toolkit set.
  if (const char* text = ::strerrordesc_np(err)) return text;
  return "Unknown error " + std::to_string(err);
}

// ---- TextFileWriter ----

TextFileWriter::~TextFileWriter() { Close(); }

bool TextFileWriter::Open(const std::string& path, Mode mode) {
  Close();
  path_ = path;
  errno_ = 0;
  error_.clear();
  owned_ = true;
  if (mode == Mode::AppendPrivate) return OpenPrivate(path);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : O_TRUNC);
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) return Fail(errno);
  buffer_.reserve(kBlock + 2);
  return true;
}

void TextFileWriter::Attach(int fd, const std::string& path) {
  Close();
  path_ = path;
  errno_ = 0;
  error_.clear();
  fd_ = fd;
  owned_ = false;
  buffer_.reserve(kBlock + 2);
}

bool TextFileWriter::OpenPrivate(const std::string& path) {
  // O_NONBLOCK: a FIFO put at path fails at once instead of waiting for a reader.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd_ < 0) return Fail(errno);
  struct stat st;
  int err = 0;
  if (::fstat(fd_, &st) != 0)
    err = errno;
  else if (!S_ISREG(st.st_mode))
    err = EINVAL;
  else if ((st.st_mode & 0777) != 0600 && ::fchmod(fd_, 0600) != 0)  // a umask may have left less
    err = errno;
  if (err != 0) {
    ::close(fd_);
    fd_ = -1;
    return Fail(err);
  }
  buffer_.reserve(kBlock + 2);
  return true;
}

bool TextFileWriter::Fail(int err) {
  if (errno_ == 0) {
    errno_ = err ? err : EIO;
    error_ = path_ + ": " + FileErrorText(errno_);
  }
  return false;
}

bool TextFileWriter::Drain() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      buffer_.clear();
      return Fail(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
  return true;
}

bool TextFileWriter::Write(std::string_view text) {
  if (fd_ < 0) return Fail(EBADF);
  if (errno_) return false;
  while (!text.empty()) {
    const void* nl = std::memchr(text.data(), '\n', text.size());
    std::size_t piece = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - text.data()) : text.size();
    buffer_.append(text.data(), piece);
    if (nl) {
      buffer_.append("\r\n", 2);
      ++piece;
    }
    text.remove_prefix(piece);
    if (buffer_.size() >= kBlock && !Drain()) return false;
  }
  return true;
}

bool TextFileWriter::WriteFormat(const char* format, ...) {
  char small[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return Fail(EINVAL);
  if (static_cast<std::size_t>(n) < sizeof small) return Write(std::string_view(small, static_cast<std::size_t>(n)));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  big.pop_back();
  return Write(big);
}

bool TextFileWriter::Flush() {
  if (fd_ < 0) return Fail(EBADF);
  if (errno_) return false;
  return Drain();
}

bool TextFileWriter::Close() {
  if (fd_ < 0) return errno_ == 0;
  if (errno_ == 0) Drain();
  if (owned_ && ::close(fd_) != 0) Fail(errno);
  fd_ = -1;
  buffer_.clear();
  return errno_ == 0;
}

// ---- LineReader ----

LineReader::~LineReader() { Close(); }

bool LineReader::Open(const std::string& path) {
  Close();
  path_ = path;
  errno_ = 0;
  error_.clear();
  eof_ = false;
  continues_ = cut_ = false;
  begin_ = end_ = scanned_ = 0;
  fileOffset_ = lineOffset_ = 0;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    errno_ = errno;
    error_ = path + ": " + FileErrorText(errno_);
    return false;
  }
  buffer_.resize(kBlock);
  return true;
}

void LineReader::OpenText(std::shared_ptr<const std::string> text, const std::string& path) {
  Close();
  path_ = path;
  errno_ = 0;
  error_.clear();
  continues_ = cut_ = false;
  begin_ = scanned_ = 0;
  fileOffset_ = lineOffset_ = 0;
  text_ = std::move(text);
  end_ = text_ ? text_->size() : 0;
  if (byteLimit_ && end_ > byteLimit_) {
    end_ = static_cast<std::size_t>(byteLimit_);
    cut_ = true;
  }
  eof_ = true;
}

void LineReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  text_.reset();
}

// Reads the next block behind the unread text, moving that text to the front first.
bool LineReader::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    fileOffset_ += begin_;
    end_ -= begin_;
    scanned_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() - end_ < kBlock / 2) buffer_.resize(buffer_.size() * 2);  // a long line
  std::size_t room = buffer_.size() - end_;
  if (byteLimit_) {
    const std::uint64_t done = fileOffset_ + end_;
    if (done >= byteLimit_) {
      cut_ = ProbeBeyondLimit();
      eof_ = true;
      return errno_ == 0;
    }
    if (byteLimit_ - done < room) room = static_cast<std::size_t>(byteLimit_ - done);
  }
  for (;;) {
    ssize_t n = ::read(fd_, buffer_.data() + end_, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      errno_ = errno;
      error_ = path_ + ": " + FileErrorText(errno_);
      return false;
    }
    if (n == 0) eof_ = true;
    end_ += static_cast<std::size_t>(n);
    return true;
  }
}

bool LineReader::ProbeBeyondLimit() {
  for (;;) {
    char byte;
    const ssize_t n = ::read(fd_, &byte, 1);
    if (n >= 0) return n > 0;
    if (errno == EINTR) continue;
    errno_ = errno;
    error_ = path_ + ": " + FileErrorText(errno_);
    return false;
  }
}

void LineReader::SetLimits(std::size_t pieceLimit, std::uint64_t byteLimit) {
  pieceLimit_ = pieceLimit == 1 ? 2 : pieceLimit;  // a piece must have room to hold back a '\r'
  byteLimit_ = byteLimit;
  if (text_ && byteLimit_ && end_ > byteLimit_) {
    end_ = static_cast<std::size_t>(byteLimit_);
    cut_ = true;
  }
}

// The next pieceLimit_ bytes of a line that is longer; a '\r' at its end waits for the next
// piece, where it may be the one before "\n".
bool LineReader::Piece(std::string_view& line) {
  std::size_t len = pieceLimit_;
  if (Data()[begin_ + len - 1] == '\r') --len;
  line = std::string_view(Data() + begin_, len);
  lineOffset_ = fileOffset_ + begin_;
  begin_ += len;
  scanned_ = std::max(scanned_, begin_);
  continues_ = true;
  return true;
}

bool LineReader::ReadLine(std::string_view& line) {
  if ((fd_ < 0 && !text_) || errno_) return false;
  for (;;) {
    const char* base = Data();
    // A line longer than the piece limit shows within its first limit + 2 bytes ("\r\n").
    const std::size_t window = pieceLimit_ ? std::min(end_, begin_ + pieceLimit_ + 2) : end_;
    const void* nl = scanned_ < window ? std::memchr(base + scanned_, '\n', window - scanned_) : nullptr;
    if (nl) {
      std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
      std::size_t len = stop - begin_;
      if (len > 0 && base[stop - 1] == '\r') --len;
      if (pieceLimit_ && len > pieceLimit_) return Piece(line);
      line = std::string_view(base + begin_, len);
      lineOffset_ = fileOffset_ + begin_;
      begin_ = scanned_ = stop + 1;
      continues_ = false;
      return true;
    }
    scanned_ = std::max(scanned_, window);
    if (pieceLimit_ && end_ - begin_ >= pieceLimit_ + 2) return Piece(line);
    if (eof_) {
      if (begin_ == end_) return false;
      if (pieceLimit_ && end_ - begin_ > pieceLimit_) return Piece(line);
      line = std::string_view(base + begin_, end_ - begin_);
      lineOffset_ = fileOffset_ + begin_;
      begin_ = scanned_ = end_;
      continues_ = false;
      return true;
    }
    if (!Fill()) return false;
  }
}

bool LineReader::ReadLine(std::string& line) {
  std::string_view view;
  if (!ReadLine(view)) return false;
  line.assign(view);
  return true;
}

}  // namespace platform
