#include "ui/MainFrame.h"

#include <wx/accel.h>
#include <wx/artprov.h>
#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include "engine/Application.h"
#include "ui/AboutDlg.h"
#include "ui/Commands.h"
#include "ui/LPropDlg.h"
#include "ui/OptionSheet.h"
#include "ui/TipDlg.h"
#include "ui/WexoApplication.h"
#include "ui/WexoView.h"
#include "ui/WxText.h"

namespace {

// Dropped files open as documents.
class DocumentDropTarget : public wxFileDropTarget {
 public:
  explicit DocumentDropTarget(wxDocManager* manager) : m_manager(manager) {}
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
    for (const wxString& file : files) m_manager->CreateDocument(file, wxDOC_SILENT);
    return true;
  }

 private:
  wxDocManager* m_manager;
};

}  // namespace

CMainFrame::CMainFrame(WexoDocManager* manager, CWexoApp& app)
    : wxDocParentFrameAny(manager, nullptr, wxID_ANY, "Wexo's Link Tolvak", wxDefaultPosition, wxSize(900, 600)),
      m_app(app),
      m_pumpTimer(this, IDT_PUMP) {
  for (int i = 0; i < 100; ++i) {
    const std::string entry = "URL" + std::to_string(i);
    std::string url = app.GetProfileString("Recent URL List", entry.c_str(), "");
    if (url.empty()) break;
    m_saRecentUrls.push_back(std::move(url));
  }
  BuildMenus();
  BuildToolBar();
  BuildStatusBar();
  SetDropTarget(new DocumentDropTarget(manager));
  Bind(wxEVT_TIMER, &CMainFrame::OnPumpTimer, this, IDT_PUMP);
  // Runs before the framework's own handler, which closes the documents.
  Bind(wxEVT_CLOSE_WINDOW, [this, manager](wxCloseEvent& e) {
    if (e.CanVeto() && !manager->CanQuit())
      e.Veto();
    else
      e.Skip();
  });
}

void CMainFrame::BuildMenus() {
  auto* manager = static_cast<WexoDocManager*>(GetDocumentManager());
  auto* file = new wxMenu;
  auto prompt = [](int id) { return wxString(FindCommandText(id).prompt); };
  file->Append(ID_CMD_CHECK_URL, "Check &URL...\tCtrl+N", prompt(ID_CMD_CHECK_URL));
  file->Append(ID_CMD_CHECK_URL_LIST, "Check URL List (Test)...", prompt(ID_CMD_CHECK_URL_LIST));
  file->Append(wxID_OPEN, "&Open...\tCtrl+O", prompt(wxID_OPEN));
  file->Append(wxID_CLOSE, "&Close\tCtrl+W", "Close the active document");
  file->Append(wxID_SAVE, "&Save\tCtrl+S", prompt(wxID_SAVE));
  file->Append(wxID_SAVEAS, "Save &As...", "Save the active document with a new name");
  file->AppendSeparator();
  file->Append(ID_PREFERENCES, "Preferences...", prompt(ID_PREFERENCES));
  file->AppendSeparator();
  file->Append(wxID_EXIT, "E&xit\tCtrl+Q", "Quit the application; prompts to save documents");
  GetDocumentManager()->FileHistoryUseMenu(file);
  GetDocumentManager()->FileHistoryAddFilesToMenu(file);

  auto* view = new wxMenu;
  view->AppendCheckItem(wxID_VIEW_LIST, "&Toolbar", "Show or hide the toolbar");
  view->AppendCheckItem(wxID_VIEW_DETAILS, "&Status Bar", "Show or hide the status bar");

  auto* help = new wxMenu;
  help->Append(ID_SHOW_TIP, "Ti&ps and Tricks...", prompt(ID_SHOW_TIP));
  help->Append(ID_APP_ABOUT, "&About Wexo...", prompt(ID_APP_ABOUT));

  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(view, "&View");
  bar->Append(help, "&Help");
  AppendListViewMenus(this, bar, file);
  SetMenuBar(bar);

  Bind(
      wxEVT_MENU, [manager](wxCommandEvent&) { manager->NewCheck(CheckStart::UrlList); }, ID_CMD_CHECK_URL_LIST);
  // A new check through the starting-point dialog.
  Bind(
      wxEVT_MENU, [manager](wxCommandEvent&) { manager->NewCheck(CheckStart::StartingPointDialog); }, ID_CMD_CHECK_URL);
  // A list view takes Preferences for its document first; here no document is given.
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { ShowOptionSheet(this, nullptr); }, ID_PREFERENCES);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        GetToolBar()->Show(!GetToolBar()->IsShown());
        SendSizeEvent();
      },
      wxID_VIEW_LIST);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(GetToolBar() && GetToolBar()->IsShown()); },
      wxID_VIEW_LIST);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        GetStatusBar()->Show(!GetStatusBar()->IsShown());
        SendSizeEvent();
      },
      wxID_VIEW_DETAILS);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(GetStatusBar() && GetStatusBar()->IsShown()); },
      wxID_VIEW_DETAILS);
  Bind(wxEVT_MENU, &CMainFrame::OnShowTip, this, ID_SHOW_TIP);
  Bind(wxEVT_MENU, &CMainFrame::OnAppAbout, this, ID_APP_ABOUT);
  // The list commands need a list view; without one they are disabled.
  for (int id : {static_cast<int>(ID_CONTINUE), static_cast<int>(ID_PAUSE), static_cast<int>(ID_STOP_NOW),
                 static_cast<int>(ID_FIND), static_cast<int>(ID_EDIT_COPY), static_cast<int>(ID_URL_PROPERTIES)})
    Bind(
        wxEVT_UPDATE_UI, [](wxUpdateUIEvent& e) { e.Enable(false); }, id);

  wxAcceleratorEntry keys[] = {
      {wxACCEL_CTRL, 'N', ID_CMD_CHECK_URL},    {wxACCEL_CTRL, 'O', wxID_OPEN},
      {wxACCEL_CTRL, 'S', wxID_SAVE},           {wxACCEL_CTRL, 'W', wxID_CLOSE},
      {wxACCEL_CTRL, 'Q', wxID_EXIT},           {wxACCEL_CTRL, 'T', ID_EXPORT_TAB},
      {wxACCEL_CTRL, 'G', ID_SITEMAP_FILE},     {wxACCEL_NORMAL, 'R', ID_REPORT},
      {wxACCEL_CTRL, 'R', ID_RETRY_BROKEN},     {wxACCEL_ALT, 'R', ID_RESET_ENTRY},
      {wxACCEL_CTRL, 'B', ID_SHOW_BROKEN_ONLY}, {wxACCEL_CTRL, 'F', ID_FIND},
      {wxACCEL_NORMAL, WXK_F3, ID_FIND_AGAIN},  {wxACCEL_ALT, WXK_RETURN, ID_URL_PROPERTIES},
      {wxACCEL_CTRL, 'C', ID_EDIT_COPY},        {wxACCEL_CTRL, WXK_INSERT, ID_EDIT_COPY},
      {wxACCEL_CTRL, 'X', ID_EDIT_CUT},         {wxACCEL_SHIFT, WXK_DELETE, ID_EDIT_CUT},
      {wxACCEL_CTRL, 'V', ID_EDIT_PASTE},       {wxACCEL_SHIFT, WXK_INSERT, ID_EDIT_PASTE},
      {wxACCEL_CTRL, 'Z', ID_EDIT_UNDO},        {wxACCEL_ALT, WXK_BACK, ID_EDIT_UNDO},
      {wxACCEL_NORMAL, WXK_F6, ID_NEXT_PANE},   {wxACCEL_SHIFT, WXK_F6, ID_PREV_PANE},
  };
  SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
}

void CMainFrame::BuildToolBar() {
  wxToolBar* bar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
  // Tips and prompts come from the commands' string table.
  auto tool = [bar](int id, const char* label, const wxArtID& art) {
    const CommandText text = FindCommandText(id);
    bar->AddTool(id, label, wxArtProvider::GetBitmapBundle(art, wxART_TOOLBAR, wxSize(16, 16)), text.tip,
                 wxITEM_NORMAL);
    bar->SetToolLongHelp(id, text.prompt);
  };
  tool(ID_CMD_CHECK_URL, "Check URL", wxART_NEW);
  tool(wxID_OPEN, "Open", wxART_FILE_OPEN);
  tool(wxID_SAVE, "Save", wxART_FILE_SAVE);
  bar->AddSeparator();
  tool(ID_CONTINUE, "Continue", wxART_GO_FORWARD);
  tool(ID_PAUSE, "Pause", wxART_GO_DOWN);
  tool(ID_STOP_NOW, "Stop immediately", wxART_CROSS_MARK);
  bar->AddSeparator();
  tool(ID_FIND, "Find", wxART_FIND);
  bar->AddSeparator();
  tool(ID_EDIT_COPY, "Copy", wxART_COPY);
  bar->AddSeparator();
  tool(ID_URL_PROPERTIES, "URL properties", wxART_REPORT_VIEW);
  bar->AddSeparator();
  tool(ID_APP_ABOUT, "About", wxART_INFORMATION);
  bar->Realize();
}

void CMainFrame::BuildStatusBar() {
  wxStatusBar* bar = CreateStatusBar(4);
  bar->SetName("StatusBar");
  // Each fixed pane is as wide as its sample text in the bar's own font.
  wxClientDC dc(bar);
  dc.SetFont(bar->GetFont());
  const char* samples[] = {"Threads: 100 ", "1234567 of 1234567 URLs (100 %) done ", "12:34:56 "};
  int widths[4] = {-1, 0, 0, 0};
  // The toolkit draws each pane with a margin of its own on both sides.
  for (int i = 0; i < 3; ++i) widths[i + 1] = dc.GetTextExtent(samples[i]).x + 24;
  bar->SetStatusWidths(4, widths);
  SetStatusBarPane(PANE_READY);
  SetStatusText("Ready", PANE_READY);
}

void CMainFrame::SetPaneText(const CWexoView* view, int pane, const std::string& text) {
  if (view != m_pActiveView || !GetStatusBar()) return;
  // Drawn with the window's next repaint: a drawing per text would cost more than the check.
  GetStatusBar()->SetStatusText(FromUtf8(text), pane);
}

void CMainFrame::SetThreadsPaneText(const CWexoView* view, const std::string& text) {
  SetPaneText(view, PANE_THREADS, text);
}
void CMainFrame::SetProgressPaneText(const CWexoView* view, const std::string& text) {
  SetPaneText(view, PANE_PROGRESS, text);
}
void CMainFrame::SetElapsedPaneText(const CWexoView* view, const std::string& text) {
  SetPaneText(view, PANE_ELAPSED, text);
}

void CMainFrame::ViewClosing(const CWexoView* view) {
  // The properties dialog may show a record of any open document, the active one or not.
  if (m_pUrlPropertiesDlg && view->GetDocument() &&
      m_pUrlPropertiesDlg->ShowsDocument(&static_cast<WexoDocument*>(view->GetDocument())->Engine()))
    m_pUrlPropertiesDlg->Clear();
  if (view != m_pActiveView) return;
  m_pActiveView = nullptr;
  // The find dialog works on the active view's records.
  if (m_pFindDialog) m_pFindDialog->Destroy();
  m_pFindDialog = nullptr;
  for (int pane : {PANE_THREADS, PANE_PROGRESS, PANE_ELAPSED}) SetStatusText(wxString(), pane);
}

bool CMainFrame::InitialShowWindow() {
  Show(true);
  if (!m_pumpTimer.Start(1000)) {
    wxMessageBox("Internal error in InitialShowWindow(): Unable to SetTimer() for idle processing", "Wexo",
                 wxOK | wxICON_ERROR);
    return false;
  }
  return true;
}

void CMainFrame::OnPumpTimer(wxTimerEvent&) {
  wxGetApp().PumpAllDocuments();
  // The elapsed time of a running check moves on with the clock, and results come in between.
  if (m_pActiveView) {
    m_pActiveView->ShowProgress();
    m_pActiveView->ShowElapsedTime();
  }
}

void CMainFrame::ShowUrlProperties(const CWexoDoc& doc, const CLinkInfo* link) {
  if (link == nullptr) return;
  if (!m_pUrlPropertiesDlg) m_pUrlPropertiesDlg = new CLPropDlg(this);
  m_pUrlPropertiesDlg->ShowLink(doc, *link);
  m_pUrlPropertiesDlg->Raise();
  m_pUrlPropertiesDlg->SetFocus();
}

void CMainFrame::DestroyUrlPropertiesDialog() {
  if (!m_pUrlPropertiesDlg) return;
  m_pUrlPropertiesDlg->Destroy();
  m_pUrlPropertiesDlg = nullptr;
}

void CMainFrame::OnShowTip(wxCommandEvent&) {
  CTipDlg tips(m_app, wxGetApp().Host());
  ShowTipDialog(this, tips);
}

void CMainFrame::OnAppAbout(wxCommandEvent&) { ShowAboutDialog(this); }
