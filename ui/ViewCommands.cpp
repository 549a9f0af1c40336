// The list view's commands, its keys and its context menu, and the find dialog's messages.
#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/fdrepdlg.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "engine/Application.h"
#include "engine/LinkInfo.h"
#include "platform/FileUrl.h"
#include "platform/ShellLaunch.h"
#include "report/BrowserLaunch.h"
#include "report/ReportLaunch.h"
#include "report/Sitemap.h"
#include "report/TabExport.h"
#include "ui/Commands.h"
#include "ui/ContextMenu.h"
#include "ui/ListFind.h"
#include "ui/MainFrame.h"
#include "ui/OptionSheet.h"
#include "ui/ShellVerbs.h"
#include "ui/WexoApplication.h"
#include "ui/WexoView.h"
#include "ui/WxText.h"

namespace {

// The find dialog keeps its own search data: it may outlive the view that opened it.
class FindDialog : public wxFindReplaceDialog {
 public:
  FindDialog(wxWindow* parent, const std::string& text, bool down, bool matchCase) {
    m_data.SetFindString(FromUtf8(text));
    m_data.SetFlags((down ? wxFR_DOWN : 0) | (matchCase ? wxFR_MATCHCASE : 0));
    Create(parent, &m_data, "Find", wxFR_NOWHOLEWORD);
    SetName("FindDialog");
    // The search knows no words: the toolkit's dialog only disables the box, it goes.
    m_chkWord->Hide();
    GetSizer()->SetSizeHints(this);
  }

 private:
  wxFindReplaceData m_data;
};

struct ExportCommand {
  int id;
  const char* title;
  const char* extension;
  const char* filter;
  bool (*write)(const CWexoDoc&, const std::string&);
};

constexpr ExportCommand kExports[] = {
    {ID_EXPORT_TAB, "Export into Excel readable file (D)", ".txt", "Text files (*.txt)|*.txt|All Files (*.*)|*.*|",
     &ExportTabFile},
    {ID_EXPORT_PAGE_MAP, "Export Pagemap", ".txt", "Text files (*.txt)|*.txt|All Files (*.*)|*.*|", &ExportPageMap},
    {ID_SITEMAP_FILE, "Create Google Sitemap", ".xml", "XML files (*.xml)|*.xml|All Files (*.*)|*.*|", &ExportSitemap},
    {ID_EXPORT_GRAPHVIZ, "Create GraphViz File", ".gv", "GraphViz files (*.gv)|*.gv|All Files (*.*)|*.*|",
     &ExportGraphViz},
};

// Commands that change the table or its settings; a long pass reads the table meanwhile.
bool ChangesTable(int id) {
  return id == ID_RETRY_BROKEN || id == ID_RESET_ENTRY || id == ID_SHOW_BROKEN_ONLY || id == ID_CHECK_EXTERNAL;
}

IWexoHost& Host() { return wxGetApp().Host(); }

}  // namespace

// ---- Menus

void AppendListViewMenus(wxFrame* frame, wxMenuBar* bar, wxMenu* file) {
  // After "Save As...".
  size_t at = 0;
  file->FindChildItem(wxID_SAVEAS, &at);
  file->Insert(++at, wxID_SEPARATOR);
  file->Insert(++at, ID_EXPORT_TAB, "&Export to TAB separated file...\tCtrl+T");
  file->Insert(++at, ID_EXPORT_PAGE_MAP, "Export Page Map to TAB separated File...");
  file->Insert(++at, ID_SITEMAP_FILE, "Create Google Sitemap File...\tCtrl+G", "Create a Sitemap XML file for Google");
  file->Insert(++at, ID_EXPORT_GRAPHVIZ, "Export to GraphViz File...");

  auto prompt = [](int id) { return wxString(FindCommandText(id).prompt); };
  auto* edit = new wxMenu;
  edit->Append(ID_EDIT_COPY, "&Copy\tCtrl+C", prompt(ID_EDIT_COPY));
  edit->AppendSeparator();
  edit->Append(ID_FIND, "&Find...\tCtrl+F", prompt(ID_FIND));
  edit->Append(ID_FIND_AGAIN, "Find A&gain\tF3", prompt(ID_FIND_AGAIN));

  auto* check = new wxMenu;
  check->Append(ID_PAUSE, "&Pause", prompt(ID_PAUSE));
  check->Append(ID_CONTINUE, "&Continue", prompt(ID_CONTINUE));
  check->Append(ID_STOP_NOW, "Stop immediately", prompt(ID_STOP_NOW));
  check->AppendSeparator();
  check->Append(ID_RETRY_BROKEN, "Retry &broken links\tCtrl+R", prompt(ID_RETRY_BROKEN));
  check->Append(ID_REPORT, "&Report\tR", prompt(ID_REPORT));
  check->AppendSeparator();
  check->AppendCheckItem(ID_SHOW_BROKEN_ONLY, "Show broken links only\tCtrl+B", prompt(ID_SHOW_BROKEN_ONLY));
  check->AppendCheckItem(ID_CHECK_EXTERNAL, "Check external URLs", prompt(ID_CHECK_EXTERNAL));
  check->AppendSeparator();
  check->Append(ID_URL_PROPERTIES, "URL properties...\tAlt+Enter", prompt(ID_URL_PROPERTIES));

  const int fileAt = bar->FindMenu("&File");
  bar->Insert(static_cast<size_t>(fileAt + 1), edit, "&Edit");
  bar->Insert(static_cast<size_t>(fileAt + 2), check, "&Check");

  // The active view enables them; without one they stay off.
  for (int id :
       std::initializer_list<int>{ID_EXPORT_TAB, ID_EXPORT_PAGE_MAP, ID_SITEMAP_FILE, ID_EXPORT_GRAPHVIZ, ID_FIND_AGAIN,
                                  ID_RETRY_BROKEN, ID_REPORT, ID_SHOW_BROKEN_ONLY, ID_CHECK_EXTERNAL, ID_RESET_ENTRY})
    frame->Bind(
        wxEVT_UPDATE_UI, [](wxUpdateUIEvent& e) { e.Enable(false); }, id);
}

// ---- CWexoView

void CWexoView::BindCommands() {
  auto on = [this](int id, void (CWexoView::*handler)(wxCommandEvent&)) {
    Bind(wxEVT_MENU, handler, this, id);
    Bind(wxEVT_UPDATE_UI, &CWexoView::OnUpdateCommand, this, id);
  };
  on(ID_PAUSE, &CWexoView::OnPause);
  on(ID_CONTINUE, &CWexoView::OnContinue);
  on(ID_STOP_NOW, &CWexoView::OnStop);
  on(ID_RETRY_BROKEN, &CWexoView::OnRetryBroken);
  on(ID_REPORT, &CWexoView::OnReport);
  on(ID_EDIT_COPY, &CWexoView::OnCopy);
  on(ID_FIND, &CWexoView::OnFind);
  on(ID_FIND_AGAIN, &CWexoView::OnFindAgain);
  on(ID_SHOW_BROKEN_ONLY, &CWexoView::OnShowBrokenOnly);
  on(ID_URL_PROPERTIES, &CWexoView::OnUrlProperties);
  on(ID_CHECK_EXTERNAL, &CWexoView::OnCheckExternal);
  on(ID_PREFERENCES, &CWexoView::OnPreferences);
  on(ID_RESET_ENTRY, &CWexoView::OnResetEntry);
  for (int id : std::initializer_list<int>{ID_OPEN_IN_BROWSER, ID_OPEN_IN_CACHE, ID_OPEN_IN_ARCHIVE, ID_OPEN_IN_RANKING,
                                           ID_SHOW_INDICES, ID_SHOW_BACKLINKS, ID_VALIDATE_URL})
    on(id, &CWexoView::OnService);
  for (std::size_t i = 0; i < kMaxCategoryEntries; ++i)
    on(ID_DIRECTORY_CATEGORY + static_cast<int>(i), &CWexoView::OnDirectoryCategory);
  for (std::size_t i = 0; i < kMaxShellVerbs; ++i) on(ID_SHELL_VERB + static_cast<int>(i), &CWexoView::OnShellVerb);
  for (const ExportCommand& command : kExports) on(command.id, &CWexoView::OnExport);
  Bind(wxEVT_UPDATE_UI, &CWexoView::OnUpdateCommand, this, wxID_SAVE);

  m_rows->Bind(wxEVT_LIST_KEY_DOWN, &CWexoView::OnListKeyDown, this);
  m_rows->Bind(wxEVT_KEY_UP, &CWexoView::OnKeyUp, this);
  m_rows->Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CWexoView::OnRightClick, this);
  m_rows->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OpenInBrowser(); });
}

const CLinkInfo* CWexoView::Selected() const { return m_rows ? m_rows->RecordAt(m_rows->SelectedRow()) : nullptr; }

void CWexoView::OnUpdateCommand(wxUpdateUIEvent& e) {
  CWexoDoc& doc = *m_engine;
  const int id = e.GetId();
  if (ChangesTable(id) && doc.App().InLongPass()) {
    e.Enable(false);
    return;
  }
  const CLinkInfo* link = Selected();
  switch (id) {
    case ID_PAUSE: e.Enable(doc.IsRunning()); break;
    case ID_CONTINUE: e.Enable(doc.IsPaused()); break;
    case ID_STOP_NOW: e.Enable(doc.GetActiveThreadCount() != 0 && doc.IsPaused()); break;
    case ID_EDIT_COPY:
    case ID_URL_PROPERTIES: e.Enable(link != nullptr); break;
    case ID_FIND_AGAIN: e.Enable(!m_csFind.empty()); break;
    case ID_SHOW_BROKEN_ONLY: e.Check(doc.Settings().ShowBrokenOnly != 0); break;
    case ID_CHECK_EXTERNAL: e.Check(doc.Settings().CheckExternal != 0); break;
    case ID_RESET_ENTRY: e.Enable(link && link->m_nStatus > 0 && !doc.IsActive(link)); break;
    case wxID_SAVE: e.Enable(doc.IsModified()); break;
    default: e.Enable(true); break;
  }
}

void CWexoView::OnPause(wxCommandEvent&) { m_engine->Pause(); }

void CWexoView::OnContinue(wxCommandEvent&) { m_engine->Continue(); }

void CWexoView::OnStop(wxCommandEvent&) {
  m_engine->Pause();
  m_engine->CloseAllHandles();
}

void CWexoView::OnRetryBroken(wxCommandEvent&) {
  if (m_engine->App().InLongPass()) return;
  // A broken-only list is emptied; its rows come back at the next rebuild.
  if (m_engine->Settings().ShowBrokenOnly) m_rows->DeleteAllRows();
  m_engine->RecheckBroken();
}

void CWexoView::OnReport(wxCommandEvent&) { vLaunchReport(*m_engine); }

void CWexoView::OnCopy(wxCommandEvent&) {
  const CLinkInfo* link = Selected();
  if (!link) return;
  if (!wxTheClipboard->Open()) {
    Host().MessageBox("Cannot open the Clipboard", BoxKind::Warning);
    return;
  }
  wxTheClipboard->Clear();
  if (!wxTheClipboard->SetData(new wxTextDataObject(FromUtf8(m_engine->GetUrl(link->m_nIndex)))))
    Host().MessageBox("Unable to copy to the Clipboard data", BoxKind::Warning);
  wxTheClipboard->Close();
}

void CWexoView::OnFind(wxCommandEvent&) {
  CMainFrame* frame = Frame();
  if (!frame) return;
  if (frame->m_pFindDialog) {
    frame->m_pFindDialog->Raise();
    frame->m_pFindDialog->SetFocus();
    return;
  }
  auto* dialog = new FindDialog(frame, m_csFind, m_bFindDown, m_bFindMatchCase);
  for (auto type : {wxEVT_FIND, wxEVT_FIND_NEXT, wxEVT_FIND_CLOSE})
    dialog->Bind(type, &CMainFrame::OnFindReplace, frame);
  frame->m_pFindDialog = dialog;
  dialog->Show();
}

void CWexoView::OnFindAgain(wxCommandEvent&) { FindNext(nullptr); }

bool CWexoView::FindNext(wxFindReplaceDialog* dialog) {
  if (dialog) {
    const wxFindReplaceData* data = dialog->GetData();
    m_csFind = ToUtf8(data->GetFindString());
    m_bFindDown = (data->GetFlags() & wxFR_DOWN) != 0;
    m_bFindMatchCase = (data->GetFlags() & wxFR_MATCHCASE) != 0;
  }
  const LinkListCtrl* rows = m_rows;
  const long row = ::FindNext(
      Host(), *m_engine, rows->GetItemCount(), [rows](long r) { return rows->RecordAt(r); }, rows->SelectedRow(),
      FindQuery{m_csFind, m_bFindDown, m_bFindMatchCase});
  if (row >= 0) {
    m_rows->SelectRow(row);
    m_rows->EnsureVisible(row);
    return true;
  }
  if (dialog) {
    // Back to the search text, the caret after it, for another try.
    for (wxWindow* child : dialog->GetChildren()) {
      if (auto* text = wxDynamicCast(child, wxTextCtrl)) {
        text->SetFocus();
        text->SetInsertionPointEnd();
        break;
      }
    }
  }
  return false;
}

void CWexoView::OnShowBrokenOnly(wxCommandEvent&) {
  if (m_engine->App().InLongPass()) return;
  m_engine->ToggleShowBrokenOnly();
  m_rows->RebuildList();
}

void CWexoView::OnUrlProperties(wxCommandEvent&) {
  const CLinkInfo* link = Selected();
  if (CMainFrame* frame = Frame(); frame && link) frame->ShowUrlProperties(*m_engine, link);
}

void CWexoView::OnCheckExternal(wxCommandEvent&) {
  if (!m_engine->App().InLongPass()) m_engine->ToggleCheckExternal();
}

void CWexoView::OnPreferences(wxCommandEvent&) { ShowOptionSheet(GetFrame(), m_engine); }

void CWexoView::OnResetEntry(wxCommandEvent&) {
  const CLinkInfo* link = Selected();
  if (!link || link->m_nStatus <= 0 || m_engine->App().InLongPass()) return;
  // A record whose worker has not handed over yet would get a second worker.
  if (m_engine->IsActive(link)) {
    Host().Beep();
    return;
  }
  m_engine->ResetRecord(link);
  if (m_engine->Settings().ShowBrokenOnly) m_rows->RemoveRecord(*link);
  m_engine->Continue();
}

void CWexoView::OpenInBrowser() {
  if (const CLinkInfo* link = Selected())
    vLaunchURL(m_engine->App(), Host(), m_engine->GetUrl(link->m_nIndex), link->GetCodePage());
}

void CWexoView::OnService(wxCommandEvent& event) {
  const CLinkInfo* link = Selected();
  if (!link) return;
  const std::string& url = m_engine->GetUrl(link->m_nIndex);
  if (event.GetId() == ID_OPEN_IN_BROWSER) {
    OpenInBrowser();
    return;
  }
  for (const std::string& address : ServiceAddresses(event.GetId(), url))
    vLaunchURL(m_engine->App(), Host(), address, link->GetCodePage());
}

void CWexoView::OnDirectoryCategory(wxCommandEvent& event) {
  const CLinkInfo* link = Selected();
  if (!link) return;
  const std::size_t n = static_cast<std::size_t>(event.GetId() - ID_DIRECTORY_CATEGORY);
  const std::vector<std::string> categories = DirectoryCategories(*m_engine, *link);
  if (n >= categories.size()) return;
  vLaunchURL(m_engine->App(), Host(), DirectoryEditAddress(m_engine->GetUrl(link->m_nIndex), categories[n]),
             link->GetCodePage());
}

void CWexoView::OnShellVerb(wxCommandEvent& event) {
  const CLinkInfo* link = Selected();
  const std::size_t n = static_cast<std::size_t>(event.GetId() - ID_SHELL_VERB);
  if (!link || n >= m_saShellVerbs.size()) return;
  const std::string& url = m_engine->GetUrl(link->m_nIndex);
  std::string path;
  const std::size_t dot = url.rfind('.');
  if (!platform::PathFromFileUrl(url, path) || dot == std::string::npos) return;
  IWexoHost& host = Host();
  auto failure = [&host, path](int result) {
    host.MessageBox("Unable to open '" + path + "': error " + std::to_string(result) + ": " +
                        platform::ShellExecuteResultText(result),
                    BoxKind::Warning);
  };
  // The program's own failure is known only once it has ended, on the thread that waited for it.
  const int result = RunShellVerb(url.substr(dot), m_saShellVerbs[n], path, [&host, failure](int late) {
    host.PostToUiThread([failure, late] { failure(late); });
  });
  if (result <= 32) failure(result);
}

void CWexoView::OnExport(wxCommandEvent& event) {
  for (const ExportCommand& command : kExports) {
    if (command.id != event.GetId()) continue;
    std::string path;
    if (!wxGetApp().Host().FileSaveDialog(command.title, command.extension, command.filter, path)) return;
    wxBusyCursor busy;
    command.write(*m_engine, path);
    return;
  }
}

wxMenu* CWexoView::BuildContextMenu() {
  m_pContextMenu.reset();
  m_saShellVerbs.clear();
  const CLinkInfo* link = Selected();
  if (!link) return nullptr;
  ContextMenu built = ::BuildContextMenu(*m_engine, *link, &DesktopShellVerbs);
  m_pContextMenu = std::make_unique<wxMenu>();
  for (const MenuEntry& entry : built.entries) {
    if (entry.id == 0)
      m_pContextMenu->AppendSeparator();
    else
      m_pContextMenu->Append(entry.id, FromUtf8(entry.text));
  }
  m_saShellVerbs = std::move(built.shellVerbs);
  return m_pContextMenu.get();
}

void CWexoView::OnRightClick(wxListEvent& event) {
  // The row under the mouse is the one the menu acts on.
  m_rows->SelectRow(event.GetIndex());
  if (wxMenu* menu = BuildContextMenu()) m_rows->PopupMenu(menu);
}

void CWexoView::OnListKeyDown(wxListEvent& event) {
  const int key = event.GetKeyCode();
  const int last = m_wLastKey;
  m_wLastKey = key;
  if (key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
    // A held Enter opens the URL once, not on every repeat.
    if (last == WXK_ALT) {
      wxCommandEvent command(wxEVT_MENU, ID_URL_PROPERTIES);
      OnUrlProperties(command);
    } else if (last == 0) {
      OpenInBrowser();
    }
    return;
  }
  if (key == WXK_NUMPAD_ADD && last == WXK_CONTROL) {
    m_rows->AutoSizeAllColumns();
    return;
  }
  event.Skip();
}

void CWexoView::OnKeyUp(wxKeyEvent& event) {
  m_wLastKey = 0;
  event.Skip();
}

// ---- CMainFrame

void CMainFrame::OnFindReplace(wxFindDialogEvent& event) {
  auto* dialog = wxDynamicCast(event.GetDialog(), wxFindReplaceDialog);
  const bool closing = event.GetEventType() == wxEVT_FIND_CLOSE;
  if (!closing && !(GetActiveListView() && GetActiveListView()->FindNext(dialog))) return;
  if (dialog) dialog->Destroy();
  m_pFindDialog = nullptr;
}
