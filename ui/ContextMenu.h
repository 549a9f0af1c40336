// The list view's context menu as a list of entries, built for one record without a display,
// and the addresses of the outside services its entries open.
//
// Threads: user-interface thread (the builder reads the document's table).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CLinkInfo;
class CWexoDoc;

// One entry; id 0 is a separator.
struct MenuEntry {
  int id = 0;
  std::string text;
  bool operator==(const MenuEntry&) const = default;
};

// The desktop's verbs for a file extension with its dot (".pdf"), in the desktop's order;
// empty when the extension has no file type.
using ShellVerbSource = std::function<std::vector<std::string>(const std::string& extension)>;

inline constexpr std::size_t kMaxCategoryEntries = 5;
inline constexpr std::size_t kMaxShellVerbs = 10;

struct ContextMenu {
  std::vector<MenuEntry> entries;
  // The verb behind each shell entry, in entry order.
  std::vector<std::string> shellVerbs;
};

// The entries for a record: copy and open; the outside services for a web address that is
// not the web archive's own; Reset entry for a broken record; the web directory's category
// entries from the record's referrers; Validate URL for a fetched internal page; the local
// file's shell verbs ("new" and "printto" left out); URL properties.
ContextMenu BuildContextMenu(const CWexoDoc& doc, const CLinkInfo& link, const ShellVerbSource& verbs);

// The addresses a service entry opens for url, in launch order: the cache, archive, ranking
// and validation entries give one, Show Indices two, Show Backlinks three. Empty for any
// other id.
std::vector<std::string> ServiceAddresses(int id, std::string_view url);

// The web directory's categories named by the record's referrers, in referrer order (at most
// five); none when the record is one of the directory's own pages.
std::vector<std::string> DirectoryCategories(const CWexoDoc& doc, const CLinkInfo& link);
// The directory's edit page of url in a category.
std::string DirectoryEditAddress(std::string_view url, std::string_view category);
