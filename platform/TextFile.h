// Text files whose lines end in CR LF on disk, the form reports, exports and listings keep.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Buffered writer: every "\n" written reaches the file as "\r\n". The first error sticks:
// later writes do nothing and return false, and Close() returns false as well.
class TextFileWriter {
 public:
  // AppendPrivate appends to a file that only we may read: one it creates is mode 0600,
  // one that exists is made so, and a symbolic link or anything but a plain file at path
  // is refused, so a fixed name in a shared place cannot be turned against us.
  enum class Mode { Truncate, Append, AppendPrivate };

  TextFileWriter() = default;
  ~TextFileWriter();  // closes; call Close() first to learn of errors
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  // Creates or truncates (or appends to) path. False with Error() set when it cannot.
  bool Open(const std::string& path, Mode mode = Mode::Truncate);
  // Writes to a descriptor that stays the caller's: Close() writes what is buffered and
  // leaves it open. path names it in messages.
  void Attach(int fd, const std::string& path);
  bool Write(std::string_view text);
  bool WriteFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool Flush();
  // Writes what is buffered and closes; false when any write or the close failed.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return errno_ != 0; }
  int ErrorNumber() const { return errno_; }           // errno of the first failure
  const std::string& Error() const { return error_; }  // "<path>: <reason>"
  const std::string& Path() const { return path_; }

 private:
  bool OpenPrivate(const std::string& path);
  bool Fail(int err);
  bool Drain();

  int fd_ = -1;
  bool owned_ = true;
  int errno_ = 0;
  std::string path_;
  std::string error_;
  std::string buffer_;
};

// Reads a text file line by line in large blocks. Each line comes without its "\n" and
// without a "\r" right before it; a last line without "\n" is a line too.
class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool Open(const std::string& path);  // false with Error() set
  // Reads text already in memory as the file path would read (path names it in messages);
  // the text is shared, not copied, and must not change while it is read.
  void OpenText(std::shared_ptr<const std::string> text, const std::string& path);
  // The next line; the view stays valid until the next call. False at the end of the file
  // and on a read error (then Failed() is true).
  bool ReadLine(std::string_view& line);
  bool ReadLine(std::string& line);
  // Byte offset in the file of the start of the line last returned.
  std::uint64_t LineOffset() const { return lineOffset_; }
  // Bounds for files of any size and shape (0 lifts a bound). A line longer than pieceLimit
  // bytes comes in pieces of at most that many, every one but its last with LineContinues()
  // true; a "\r\n" is never split. The file reads as ending after byteLimit bytes, and
  // WasCut() tells that it holds more. Set before the first read.
  void SetLimits(std::size_t pieceLimit, std::uint64_t byteLimit);
  bool LineContinues() const { return continues_; }
  bool WasCut() const { return cut_; }
  const std::string& Path() const { return path_; }
  void Close();

  bool Failed() const { return errno_ != 0; }
  int ErrorNumber() const { return errno_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fill();
  bool Piece(std::string_view& line);
  // Whether the file goes on past the byte limit; false with Failed() on a read error.
  bool ProbeBeyondLimit();

  const char* Data() const { return text_ ? text_->data() : buffer_.data(); }

  int fd_ = -1;
  int errno_ = 0;
  bool eof_ = false;
  std::string path_;
  std::string error_;
  std::vector<char> buffer_;
  std::shared_ptr<const std::string> text_;  // instead of the file and buffer_
  std::size_t begin_ = 0;                    // start of the unread text
  std::size_t end_ = 0;                      // end of the text read so far
  std::size_t scanned_ = 0;                  // text before this holds no "\n" (beyond begin_)
  std::uint64_t fileOffset_ = 0;             // file offset of buffer_[0]
  std::uint64_t lineOffset_ = 0;
  std::size_t pieceLimit_ = 0;
  std::uint64_t byteLimit_ = 0;
  bool continues_ = false;
  bool cut_ = false;
};

// English text of an errno value, independent of the process locale.
std::string FileErrorText(int err);

}  // namespace platform
