// Command ids of the menus, the toolbar and the accelerators. The framework's own commands
// (open, save, close, exit, recent files, about, clipboard) use wx's standard ids; wx takes
// no ids above 0x7fff, so the program's commands are numbered from 31000 here.
#pragma once

#include <wx/defs.h>

enum : int {
  ID_CMD_CHECK_URL = 31000,
  ID_CMD_CHECK_URL_LIST = 30999,
  ID_PREFERENCES = 31001,
  ID_SHOW_TIP = 31002,
  ID_APP_ABOUT = wxID_ABOUT,
  ID_CONTINUE = 31003,
  ID_PAUSE = 31004,
  ID_STOP_NOW = 31005,
  ID_FIND = 31006,
  ID_FIND_AGAIN = 31007,
  ID_EDIT_COPY = wxID_COPY,
  ID_EDIT_CUT = wxID_CUT,
  ID_EDIT_PASTE = wxID_PASTE,
  ID_EDIT_UNDO = wxID_UNDO,
  ID_URL_PROPERTIES = 31008,
  ID_EXPORT_TAB = 31009,
  ID_SITEMAP_FILE = 31010,
  ID_REPORT = 31011,
  ID_RETRY_BROKEN = 31012,
  ID_RESET_ENTRY = 31013,
  ID_SHOW_BROKEN_ONLY = 31014,
  ID_NEXT_PANE = 31015,
  ID_PREV_PANE = 31016,
};

// The list view's own commands and the entries of its context menu.
enum : int {
  ID_CHECK_EXTERNAL = 31100,
  ID_EXPORT_PAGE_MAP = 31101,
  ID_EXPORT_GRAPHVIZ = 31102,
  ID_OPEN_IN_BROWSER = 31103,
  ID_OPEN_IN_CACHE = 31104,
  ID_OPEN_IN_ARCHIVE = 31105,
  ID_OPEN_IN_RANKING = 31106,
  ID_SHOW_INDICES = 31107,
  ID_SHOW_BACKLINKS = 31108,
  ID_VALIDATE_URL = 31109,
  // Five category entries and ten shell verbs, in entry order.
  ID_DIRECTORY_CATEGORY = 31110,
  ID_SHELL_VERB = 31120,
};

// The status bar's panes.
enum { PANE_READY = 0, PANE_THREADS = 1, PANE_PROGRESS = 2, PANE_ELAPSED = 3 };

// The string table of the commands: the status-bar prompt and the tool tip ("" for none).
struct CommandText {
  int id;
  const char* prompt;
  const char* tip;
};

inline constexpr CommandText kCommandTexts[] = {
    {ID_CMD_CHECK_URL, "Check web site", "Check URL"},
    {wxID_OPEN, "Open an existing document", "Open"},
    {wxID_SAVE, "Save the active document", "Save"},
    {ID_APP_ABOUT, "Display program information, version number and copyright", "About"},
    {ID_SHOW_TIP, "Shows one of the tips and tricks.", ""},
    {ID_PREFERENCES, "Set your preferences", ""},
    {ID_RETRY_BROKEN, "Reset all broken links to 'not tested' and retry", ""},
    {ID_PAUSE, "Pause", "Pause"},
    {ID_CONTINUE, "Continue", "Continue"},
    {ID_REPORT, "Launch a report in default browser", ""},
    {ID_URL_PROPERTIES, "URL properties", "URL properties"},
    {ID_FIND_AGAIN, "Repeat the last search", ""},
    {ID_FIND, "Search URL and Title", "Find"},
    {ID_STOP_NOW, "Stop", "Emergency Stop"},
    {ID_EDIT_COPY, "Copy the selection and put it on the Clipboard", "Copy"},
    {ID_CMD_CHECK_URL_LIST, "", ""},
    {ID_SHOW_BROKEN_ONLY, "", ""},
    {ID_CHECK_EXTERNAL, "", ""},
};

// The command's entry of the table; a command without one has no prompt and no tip.
inline CommandText FindCommandText(int id) {
  for (const CommandText& text : kCommandTexts)
    if (text.id == id) return text;
  return {id, "", ""};
}
