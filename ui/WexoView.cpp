#include "ui/WexoView.h"

#include <cstdio>

#include <wx/app.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/sizer.h>

#include "engine/Application.h"
#include "engine/DocumentFile.h"
#include "engine/Fetch.h"
#include "ui/MainFrame.h"
#include "ui/WxHost.h"
#include "ui/WxText.h"

namespace {

wxDEFINE_EVENT(EVT_UM_SCHEDULE, wxThreadEvent);

constexpr const char* kDocumentFilter = "Wexo Link Tolvak Files (*.wxo)|*.wxo|";
constexpr const char* kRecentFiles = "Recent File List";
constexpr int kRecentFileCount = 4;

// How a new check starts travels from NewCheck to the template in bits of the framework's
// CreateDocument flags that the framework leaves alone.
constexpr int kStartFlagShift = 8;
long StartFlags(CheckStart start) { return static_cast<long>(start) << kStartFlagShift; }
CheckStart StartOfFlags(long flags) { return static_cast<CheckStart>((flags >> kStartFlagShift) & 3); }

}  // namespace

// ---- WexoDocument

WexoDocument::WexoDocument(const EngineContext& context, WxHost& host, CheckStart start)
    : m_doc(std::make_unique<CWexoDoc>(context)), m_host(host), m_start(start) {}

bool WexoDocument::OnNewDocument() {
  if (!wxDocument::OnNewDocument()) return false;
  return m_doc->OnNewDocument(m_start);
}

bool WexoDocument::OnCloseDocument() {
  m_doc->OnCloseDocument();
  return wxDocument::OnCloseDocument();
}

void WexoDocument::Modify(bool modified) {
  m_doc->SetModifiedFlag(modified);
  wxDocument::Modify(modified);
}

bool WexoDocument::DoSaveDocument(const wxString& file) {
  std::string error;
  if (SaveDocumentFile(*m_doc, file.utf8_string(), error)) return true;
  m_host.MessageBox(error, BoxKind::Error);
  return false;
}

bool WexoDocument::DoOpenDocument(const wxString& file) { return m_doc->OnOpenDocument(file.utf8_string()); }

bool WexoDocument::SaveAs() {
  std::string path = GetFilename().utf8_string();
  if (!m_host.FileSaveDialog("Save As", ".wxo", kDocumentFilter, path)) return false;
  const wxString file = FromUtf8(path);
  if (!OnSaveDocument(file)) return false;
  SetTitle(wxFileNameFromPath(file));
  SetFilename(file, true);
  GetDocumentManager()->AddFileToHistory(file);
  return true;
}

bool WexoDocument::AskToSave(bool& discard) {
  discard = false;
  if (!IsModified()) return true;
  switch (m_host.AskSaveChanges("Save changes to " + GetUserReadableName().utf8_string() + "?")) {
    case BoxAnswer::Yes: return Save();
    case BoxAnswer::No: discard = true; return true;
    default: return false;
  }
}

bool WexoDocument::OnSaveModified() {
  bool discard = false;
  if (!AskToSave(discard)) return false;
  if (discard) Modify(false);
  return true;
}

bool WexoDocument::Close() {
  // A long pass pumps events: its document must stay.
  if (m_doc->App().InLongPass()) {
    wxBell();
    return false;
  }
  if (!m_doc->CanCloseFrame()) return false;
  return wxDocument::Close();
}

// ---- CWexoView

CWexoView::CWexoView() : m_statusTimer(this) {
  Bind(EVT_UM_SCHEDULE, [this](wxThreadEvent&) {
    // A tick may end the check and ask its question over the list: rows waiting for their
    // batch are in it first.
    if (m_rows) m_rows->FlushInserts();
    if (m_engine) m_engine->ScheduleFetches();
  });
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ShowStatus(); });
}

CWexoView::~CWexoView() {
  if (m_handOver) m_handOver->Close();
  if (m_engine) m_engine->AttachView(nullptr, nullptr, nullptr);
  if (CMainFrame* frame = Frame()) frame->ViewClosing(this);
}

CMainFrame* CWexoView::Frame() const {
  return dynamic_cast<CMainFrame*>(wxTheApp ? wxTheApp->GetTopWindow() : nullptr);
}

bool CWexoView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  m_engine = &static_cast<WexoDocument*>(doc)->Engine();
  auto* parent = wxStaticCast(wxTheApp->GetTopWindow(), wxAuiMDIParentFrame);
  auto* frame = new CChildFrame(doc, this, parent);
  m_rows = new LinkListCtrl(frame, *m_engine);
  m_rows->LoadColumnWidths(m_engine->App());
  BindCommands();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(m_rows, 1, wxEXPAND);
  frame->SetSizer(sizer);
  SetFrame(frame);
  m_handOver = m_engine->AttachView(this, this, this);
  frame->Show(true);
  Activate(true);
  return true;
}

bool CWexoView::OnClose(bool deleteWindow) {
  // The document's Close holds the guards and the save question.
  return wxView::OnClose(deleteWindow);
}

void CWexoView::OnActivateView(bool activate, wxView* activeView, wxView*) {
  CMainFrame* frame = Frame();
  if (!frame) return;
  if (activate && activeView == this) {
    frame->SetActiveListView(this);
    ShowStatus();
  } else if (frame->GetActiveListView() == this) {
    frame->SetActiveListView(nullptr);
  }
}

void CWexoView::PostSchedule() { wxQueueEvent(this, new wxThreadEvent(EVT_UM_SCHEDULE)); }

const CLinkInfo* CWexoView::SelectedRecord() { return m_rows ? m_rows->RecordAt(m_rows->SelectedRow()) : nullptr; }

void CWexoView::VisibleRecords(std::vector<const CLinkInfo*>& out) {
  if (!m_rows) return;
  const long top = m_rows->GetTopItem();
  const long count = m_rows->GetItemCount();
  for (long i = std::max(top, 0L), end = std::min(count, top + m_rows->GetCountPerPage() + 1); i < end; ++i)
    out.push_back(m_rows->RecordAt(i));
}

void CWexoView::RecordsAdded(std::size_t first, std::size_t count) {
  if (m_rows) m_rows->RecordsAdded(first, count);
}

void CWexoView::RecordChanged(const CLinkInfo& link) {
  if (m_rows) m_rows->RecordChanged(link);
}

void CWexoView::TableReset() {
  if (m_rows) m_rows->RebuildList();
}

void CWexoView::RowsChanged() {
  if (!m_rows) return;
  m_rows->FlushUpdates();
  m_rows->Refresh();
}

void CWexoView::RecordWantsRow(const CLinkInfo& link) {
  if (m_rows) m_rows->InsertRecordRow(link);
}

void CWexoView::RecordWantsLastRow(const CLinkInfo& link) {
  if (m_rows) m_rows->AppendRecordRow(link);
}

void CWexoView::DocumentClosing() {
  if (m_rows && m_engine) m_rows->SaveColumnWidths(m_engine->App());
}

void CWexoView::StatusText(const std::string& text) {
  m_csThreads = text;
  // Each pane is drawn at once when set; with no worker left the texts are final.
  const bool working = m_engine && m_engine->GetActiveThreadCount() != 0;
  if (working && std::chrono::steady_clock::now() - m_tStatusShown < kStatusInterval) {
    if (!m_statusTimer.IsRunning()) m_statusTimer.StartOnce(static_cast<int>(kStatusInterval.count()));
    return;
  }
  ShowStatus();
}

void CWexoView::ShowStatus() {
  m_statusTimer.Stop();
  m_tStatusShown = std::chrono::steady_clock::now();
  ShowThreadCount();
  ShowProgress();
  ShowElapsedTime();
}

void CWexoView::ShowThreadCount() {
  if (CMainFrame* frame = Frame()) frame->SetThreadsPaneText(this, m_csThreads);
}

void CWexoView::ShowProgress() {
  CMainFrame* frame = Frame();
  if (!frame || !m_engine) return;
  const long long finished = m_engine->GetFinishedCount();
  const long long all = finished + m_engine->GetPendingCount();
  if (all == 0) return;
  char text[96];
  std::snprintf(text, sizeof text, "%lld of %lld URLs (%lld %%) done", finished, all, finished * 100 / all);
  frame->SetProgressPaneText(this, text);
}

void CWexoView::ShowElapsedTime() {
  CMainFrame* frame = Frame();
  if (!frame || !m_engine) return;
  const long long seconds = m_engine->GetElapsedSeconds();
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  frame->SetElapsedPaneText(this, text);
}

// ---- CChildFrame

CChildFrame::CChildFrame(wxDocument* doc, wxView* view, wxAuiMDIParentFrame* parent)
    : wxDocChildFrameAny(doc, view, parent, wxID_ANY, doc->GetUserReadableName()) {}

#ifdef __WXGTK__
void CChildFrame::GTKHandleRealized() {
  if (IsTopLevel())
    wxDocChildFrameAny::GTKHandleRealized();
  else
    wxWindow::GTKHandleRealized();
}
#endif

// ---- WexoDocTemplate

WexoDocTemplate::WexoDocTemplate(wxDocManager* manager, const EngineContext& context, WxHost& host)
    : wxDocTemplate(manager, "Wexo Link Tolvak Files (*.wxo)", "*.wxo", wxString(), "wxo", "Wexo.Document",
                    "Wexo Link Tolvak Document", CLASSINFO(wxDocument), CLASSINFO(wxView)),
      m_context(context),
      m_host(host) {}

wxDocument* WexoDocTemplate::CreateDocument(const wxString& path, long flags) {
  wxDocument* const doc = new WexoDocument(m_context, m_host, StartOfFlags(flags));
  // On failure the framework has already deleted the document.
  return InitDocument(doc, path, flags) ? doc : nullptr;
}

wxView* WexoDocTemplate::DoCreateView() { return new CWexoView; }

// ---- WexoDocManager

WexoDocManager::WexoDocManager(CWexoApp& app, WxHost& host) : wxDocManager(0, false), m_app(app), m_host(host) {
  Initialize();
}

wxDocTemplate* WexoDocManager::SelectDocumentPath(wxDocTemplate** templates, int noTemplates, wxString& path,
                                                  long flags, bool save) {
  std::string chosen;
  if (noTemplates < 1 || !m_host.FileOpenDialog("Open", "*.wxo", kDocumentFilter, chosen)) return nullptr;
  path = FromUtf8(chosen);
  return templates[0];
}

wxString WexoDocManager::MakeNewDocumentName() { return wxString::Format("Wexo%d", ++m_nNewDocuments); }

bool WexoDocManager::NewCheck(CheckStart start) {
  return CreateDocument(wxString(), wxDOC_NEW | StartFlags(start)) != nullptr;
}

wxFileHistory* WexoDocManager::OnCreateFileHistory() { return new wxFileHistory(kRecentFileCount); }

void WexoDocManager::AddFileToHistory(const wxString& file) {
  wxDocManager::AddFileToHistory(file);
  SaveRecentFiles();
}

void WexoDocManager::RemoveFileFromHistory(size_t i) {
  wxDocManager::RemoveFileFromHistory(i);
  SaveRecentFiles();
}

void WexoDocManager::LoadRecentFiles() {
  wxFileHistory* history = GetFileHistory();
  if (!history) return;
  // File1 is the newest; each addition goes to the front.
  for (int i = kRecentFileCount; i >= 1; --i) {
    const std::string entry = "File" + std::to_string(i);
    const std::string path = m_app.GetProfileString(kRecentFiles, entry.c_str(), "");
    if (!path.empty()) history->AddFileToHistory(FromUtf8(path));
  }
}

void WexoDocManager::SaveRecentFiles() {
  wxFileHistory* history = GetFileHistory();
  if (!history) return;
  for (int i = 1; i <= kRecentFileCount; ++i) {
    const std::string entry = "File" + std::to_string(i);
    const std::size_t at = static_cast<std::size_t>(i - 1);
    if (at < history->GetCount())
      m_app.WriteProfileString(kRecentFiles, entry.c_str(), history->GetHistoryFile(at).utf8_string().c_str());
    else
      m_app.WriteProfileString(kRecentFiles, entry.c_str(), nullptr);
  }
}

std::vector<WexoDocument*> WexoDocManager::Documents() {
  std::vector<WexoDocument*> out;
  for (wxDocument* doc : GetDocumentsVector())
    if (auto* wexo = dynamic_cast<WexoDocument*>(doc)) out.push_back(wexo);
  return out;
}

bool WexoDocManager::CanQuit() {
  if (m_app.InLongPass()) {
    wxBell();
    return false;
  }
  // Only the first document with running workers is listed.
  for (WexoDocument* doc : Documents()) {
    if (doc->Engine().GetActiveThreadCount() != 0) {
      m_host.MessageBox(doc->Engine().ActiveThreadsMessage(), BoxKind::Warning);
      return false;
    }
  }
  // Every question first; the documents answered No are marked unchanged only once none
  // was cancelled, so a cancelled exit leaves nothing to be lost later.
  std::vector<WexoDocument*> discarded;
  for (WexoDocument* doc : Documents()) {
    bool discard = false;
    if (!doc->AskToSave(discard)) return false;
    if (discard) discarded.push_back(doc);
  }
  for (WexoDocument* doc : discarded) doc->Modify(false);
  return true;
}
