// The document of the windowed program, its list view and its document window. The document
// wraps one CWexoDoc; the view is where the engine posts its scheduler ticks and where the
// workers hand their results over.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// wx/defs.h first: the AUI headers need its settings.
#include <wx/defs.h>

#include <wx/aui/tabmdi.h>
#include <wx/docview.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/timer.h>

#include "engine/EngineContext.h"
#include "engine/Host.h"
#include "engine/WexoDoc.h"
#include "ui/LinkList.h"

class CMainFrame;
class WxHost;
class wxFindReplaceDialog;
class wxMenu;

class WexoDocument : public wxDocument {
 public:
  // start: how a new check of this document starts (unused when a file is opened).
  WexoDocument(const EngineContext& context, WxHost& host, CheckStart start);
  CWexoDoc& Engine() { return *m_doc; }

  bool OnNewDocument() override;
  // The engine's close step (the list stores its column widths), then the framework's.
  bool OnCloseDocument() override;
  bool SaveAs() override;
  bool OnSaveModified() override;
  // The close guard first (a long pass, running workers), then the save question: wx commits
  // to destroying the document once this has agreed.
  bool Close() override;
  // The save question alone; true unless the answer was Cancel or the save failed. A No is
  // noted in discard (the document is not marked unchanged yet).
  bool AskToSave(bool& discard);
  bool IsModified() const override { return m_doc->IsModified(); }
  void Modify(bool modified) override;

 protected:
  bool DoSaveDocument(const wxString& file) override;
  bool DoOpenDocument(const wxString& file) override;

 private:
  std::unique_ptr<CWexoDoc> m_doc;
  WxHost& m_host;
  CheckStart m_start;
};

class CWexoView : public wxView, public IUiThread, public IPreferredRows, public IDocumentObserver {
 public:
  CWexoView();
  ~CWexoView() override;

  bool OnCreate(wxDocument* doc, long flags) override;
  void OnDraw(wxDC*) override {}
  bool OnClose(bool deleteWindow) override;
  void OnActivateView(bool activate, wxView* activeView, wxView* deactiveView) override;

  // IUiThread: the scheduler tick as a queued event to this view (dropped with it).
  void PostSchedule() override;
  // IPreferredRows
  const CLinkInfo* SelectedRecord() override;
  void VisibleRecords(std::vector<const CLinkInfo*>& out) override;
  // IDocumentObserver
  void RecordsAdded(std::size_t first, std::size_t count) override;
  void RecordChanged(const CLinkInfo& link) override;
  void TableReset() override;
  void RowsChanged() override;
  void RecordWantsRow(const CLinkInfo& link) override;
  void RecordWantsLastRow(const CLinkInfo& link) override;
  void StatusText(const std::string& text) override;
  void DocumentClosing() override;

  // The three status texts of this view, shown when it is the active one.
  void ShowStatus();
  void ShowThreadCount();
  void ShowProgress();
  void ShowElapsedTime();

  LinkListCtrl* Rows() const { return m_rows; }
  CWexoDoc* Engine() const { return m_engine; }

  // ---- The list's commands (ViewCommands.cpp)
  // Searches from the selected row; with a dialog its text and flags are taken first. True
  // when a row was found and selected.
  bool FindNext(wxFindReplaceDialog* dialog);
  // Builds the context menu for the selected record into m_pContextMenu; null without one.
  wxMenu* BuildContextMenu();
  void OpenInBrowser();

  std::string m_csFind;
  bool m_bFindDown = true;
  bool m_bFindMatchCase = false;
  std::vector<std::string> m_saShellVerbs;
  int m_wLastKey = 0;
  // The popup of the last right-click.
  std::unique_ptr<wxMenu> m_pContextMenu;

 private:
  CMainFrame* Frame() const;
  void BindCommands();
  const CLinkInfo* Selected() const;
  void OnPause(wxCommandEvent&);
  void OnContinue(wxCommandEvent&);
  void OnStop(wxCommandEvent&);
  void OnRetryBroken(wxCommandEvent&);
  void OnReport(wxCommandEvent&);
  void OnCopy(wxCommandEvent&);
  void OnFind(wxCommandEvent&);
  void OnFindAgain(wxCommandEvent&);
  void OnShowBrokenOnly(wxCommandEvent&);
  void OnUrlProperties(wxCommandEvent&);
  void OnCheckExternal(wxCommandEvent&);
  void OnPreferences(wxCommandEvent&);
  void OnResetEntry(wxCommandEvent&);
  void OnService(wxCommandEvent& event);
  void OnDirectoryCategory(wxCommandEvent& event);
  void OnShellVerb(wxCommandEvent& event);
  void OnExport(wxCommandEvent& event);
  void OnUpdateCommand(wxUpdateUIEvent& event);
  void OnListKeyDown(wxListEvent& event);
  void OnKeyUp(wxKeyEvent& event);
  void OnRightClick(wxListEvent& event);

  CWexoDoc* m_engine = nullptr;
  LinkListCtrl* m_rows = nullptr;
  std::string m_csThreads = "Threads: 0";
  // While workers run the texts change with every fetch: they are drawn at most this often.
  static constexpr std::chrono::milliseconds kStatusInterval{250};
  std::chrono::steady_clock::time_point m_tStatusShown;
  wxTimer m_statusTimer;
  // Where the document's workers hand over; closed when the view goes, so a worker that
  // ends later finds it closed instead of this view.
  std::shared_ptr<ResultHandOver> m_handOver;
};

// Adds the list view's commands to the frame's menus: the exports to the file menu, an edit
// menu and the check's menu. They are disabled while no list view is active.
void AppendListViewMenus(wxFrame* frame, wxMenuBar* bar, wxMenu* file);

class CChildFrame : public wxDocChildFrameAny<wxAuiMDIChildFrame, wxAuiMDIParentFrame> {
 public:
  CChildFrame(wxDocument* doc, wxView* view, wxAuiMDIParentFrame* parent);
#ifdef __WXGTK__
  // A tab is a plain widget inside the notebook, though its class is a frame's: the frame's
  // handling of a realized window (GTK window calls) is for top-level windows only.
  void GTKHandleRealized() override;
#endif
};

// Makes documents and views with the program's engine context.
class WexoDocTemplate : public wxDocTemplate {
 public:
  WexoDocTemplate(wxDocManager* manager, const EngineContext& context, WxHost& host);
  // As the framework's own, with how a new check starts (WexoDocManager::NewCheck's flags)
  // handed to the document it makes.
  wxDocument* CreateDocument(const wxString& path, long flags) override;
  wxView* DoCreateView() override;

 private:
  EngineContext m_context;
  WxHost& m_host;
};

// The framework's file commands through the host's dialogs, a recent-file list of four kept
// in the settings file, and the close guard of the whole program.
class WexoDocManager : public wxDocManager {
 public:
  WexoDocManager(CWexoApp& app, WxHost& host);
  wxDocTemplate* SelectDocumentPath(wxDocTemplate** templates, int noTemplates, wxString& path, long flags,
                                    bool save = false) override;
  wxString MakeNewDocumentName() override;
  // A new document whose check starts the given way; false when none was started.
  bool NewCheck(CheckStart start);
  wxFileHistory* OnCreateFileHistory() override;
  void AddFileToHistory(const wxString& file) override;
  void RemoveFileFromHistory(size_t i) override;
  // The close guard of the program: false (after the message) while a document's workers run,
  // and while a long pass runs. Then every changed document's save question, before any
  // document closes: a Cancel on any keeps them all open.
  bool CanQuit();

  // [Recent File List] File1..File4.
  void LoadRecentFiles();
  void SaveRecentFiles();
  // The open documents of the program, in the order they were opened.
  std::vector<WexoDocument*> Documents();

 private:
  CWexoApp& m_app;
  WxHost& m_host;
  int m_nNewDocuments = 0;
};
