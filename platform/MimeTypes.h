// Content types of file extensions, as the registry's "Content Type" values give them.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// The content type of ext (with its leading '.', any case), "" when none is known. Reads
// /etc/mime.types once; the types the engine depends on (.htm, .html, .css, .xhtml, .xht,
// .wml) are always its own, and a small table of common ones serves when the file lacks them.
std::string ContentTypeForExtension(std::string_view ext);

// One table built from a mime.types file (a missing file gives the built-in types only).
class MimeTypeTable {
 public:
  explicit MimeTypeTable(const std::string& mimeTypesPath);
  std::string Lookup(std::string_view ext) const;

 private:
  std::unordered_map<std::string, std::string> types_;  // lower-case extension without '.'
};

}  // namespace platform
