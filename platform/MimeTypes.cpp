#include "platform/MimeTypes.h"
#include "platform/AsciiText.h"

#include <utility>

#include "platform/TextFile.h"

namespace platform {
namespace {

struct TypeOf {
  const char* ext;
  const char* type;
};

// What the engine parses: these never depend on the machine's mime.types.
constexpr TypeOf kEngineTypes[] = {
    {"htm", "text/html"},
    {"html", "text/html"},
    {"css", "text/css"},
    {"xhtml", "application/xhtml+xml"},
    {"xht", "application/xhtml+xml"},
    {"wml", "text/vnd.wap.wml"},
};

// Common types for a machine without mime.types (or one that lacks them).
constexpr TypeOf kCommonTypes[] = {
    {"jar", "application/java-archive"},
    {"gif", "image/gif"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"ico", "image/x-icon"},
    {"bmp", "image/bmp"},
    {"svg", "image/svg+xml"},
    {"webp", "image/webp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"txt", "text/plain"},
    {"xml", "text/xml"},
    {"js", "application/javascript"},
    {"json", "application/json"},
    {"pdf", "application/pdf"},
    {"rtf", "application/rtf"},
    {"doc", "application/msword"},
    {"xls", "application/vnd.ms-excel"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"mp4", "video/mp4"},
    {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"avi", "video/x-msvideo"},
    {"swf", "application/x-shockwave-flash"},
};

}  // namespace

MimeTypeTable::MimeTypeTable(const std::string& mimeTypesPath) {
  for (const TypeOf& t : kEngineTypes) types_[t.ext] = t.type;

  // Lines of "type/subtype ext ext ..."; '#' starts a comment. The first mention of an
  // extension wins.
  LineReader reader;
  if (reader.Open(mimeTypesPath)) {
    std::string_view line;
    while (reader.ReadLine(line)) {
      if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
      std::string_view type;
      std::size_t pos = 0;
      while (pos < line.size()) {
        while (pos < line.size() && IsAsciiSpace(line[pos])) ++pos;
        std::size_t start = pos;
        while (pos < line.size() && !IsAsciiSpace(line[pos])) ++pos;
        if (start == pos) break;
        std::string_view word = line.substr(start, pos - start);
        if (type.empty()) {
          if (word.find('/') == std::string_view::npos) break;
          type = word;
          continue;
        }
        std::string ext(word);
        for (char& c : ext) c = AsciiLower(c);
        types_.try_emplace(std::move(ext), type);
      }
    }
  }

  for (const TypeOf& t : kCommonTypes) types_.try_emplace(t.ext, t.type);
}

std::string MimeTypeTable::Lookup(std::string_view ext) const {
  if (ext.size() < 2 || ext.front() != '.') return std::string();
  std::string key(ext.substr(1));
  for (char& c : key) c = AsciiLower(c);
  auto it = types_.find(key);
  return it == types_.end() ? std::string() : it->second;
}

std::string ContentTypeForExtension(std::string_view ext) {
  static const MimeTypeTable table("/etc/mime.types");  // built once, read-only after
  return table.Lookup(ext);
}

}  // namespace platform
