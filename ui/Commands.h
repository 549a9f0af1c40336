// Command ids of the menus, the toolbar and the accelerators. The framework's own commands
// (open, save, close, exit, recent files, about, clipboard) use wx's standard ids; wx takes
// no ids above 0x7fff, so the program's commands are numbered from 31000 here.
#pragma once

#include <wx/defs.h>

#include "engine/Application.h"

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
