// The program's one top-level window: menus, toolbar, the four-pane status bar, the document
// tabs, the pump timer and the recent-URL list.
#pragma once

#include <string>
#include <vector>

// defs.h first: tabmdi.h tests wxUSE_AUI before it includes anything.
#include <wx/defs.h>

#include <wx/aui/tabmdi.h>
#include <wx/docview.h>
#include <wx/timer.h>

class CLinkInfo;
class CLPropDlg;
class CWexoApp;
class CWexoDoc;
class CWexoView;
class WexoDocManager;
class wxFindDialogEvent;

// The documents are tabs with a close button on the active one.
class CMainFrame : public wxDocParentFrameAny<wxAuiMDIParentFrame> {
 public:
  // The pump timer's id.
  static constexpr int IDT_PUMP = 42;

  CMainFrame(WexoDocManager* manager, CWexoApp& app);

  // Set a pane's text when view is the active list view; otherwise nothing.
  void SetThreadsPaneText(const CWexoView* view, const std::string& text);
  void SetProgressPaneText(const CWexoView* view, const std::string& text);
  void SetElapsedPaneText(const CWexoView* view, const std::string& text);
  void SetActiveListView(CWexoView* view) { m_pActiveView = view; }
  CWexoView* GetActiveListView() const { return m_pActiveView; }
  // A view goes: nothing the frame keeps may point at it or at its records any more.
  void ViewClosing(const CWexoView* view);
  // Shows a record in the modeless URL-properties dialog, created on first use; nothing for a
  // null record.
  void ShowUrlProperties(const CWexoDoc& doc, const CLinkInfo* link);
  // The find dialog's search and close (ViewCommands.cpp): a found row, or closing it,
  // ends the dialog.
  void OnFindReplace(wxFindDialogEvent& event);
  // Destroys the URL-properties dialog and forgets it (the dialog closes).
  void DestroyUrlPropertiesDialog();
  // Shows the frame and starts the pump timer; false when the timer could not start.
  bool InitialShowWindow();

  std::vector<std::string> m_saRecentUrls;
  // The modeless find and URL-properties dialogs while they exist.
  wxWindow* m_pFindDialog = nullptr;
  CLPropDlg* m_pUrlPropertiesDlg = nullptr;

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildStatusBar();
  void SetPaneText(const CWexoView* view, int pane, const std::string& text);
  void OnPumpTimer(wxTimerEvent& event);
  void OnShowTip(wxCommandEvent& event);
  void OnAppAbout(wxCommandEvent& event);

  CWexoApp& m_app;
  CWexoView* m_pActiveView = nullptr;
  wxTimer m_pumpTimer;
};
