#include "ui/WxHost.h"

#include <future>

#include <algorithm>
#include <vector>

#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/modalhook.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "engine/TraceLog.h"
#include "ui/FtpDialog.h"
#include "ui/SecurityDialogs.h"
#include "ui/WxText.h"

namespace {

constexpr const char* kBoxCaption = "Wexo";
// A text of more lines than this shows its lines after the first paragraph in a scrolled box.
constexpr int kMaxBoxLines = 20;

// The message box: the icon of its kind drawn by us (the toolkit's own boxes show none), the
// text, and the buttons with the default one.
class MessageBoxDialog : public wxDialog {
 public:
  MessageBoxDialog(wxWindow* parent, const wxString& text, long style)
      : wxDialog(parent, wxID_ANY, kBoxCaption, wxDefaultPosition, wxDefaultSize, wxCAPTION | wxSYSTEM_MENU) {
    SetName("messageBox");
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    const wxArtID icon = (style & wxICON_ERROR)         ? wxART_ERROR
                         : (style & wxICON_QUESTION)    ? wxART_QUESTION
                         : (style & wxICON_EXCLAMATION) ? wxART_WARNING
                                                        : wxART_INFORMATION;
    auto* bitmap = new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmapBundle(icon, wxART_MESSAGE_BOX));
    bitmap->SetName(icon);
    row->Add(bitmap, 0, wxALL, 12);
    auto* texts = new wxBoxSizer(wxVERTICAL);
    wxString head = text, rest;
    if (static_cast<int>(text.Freq('\n')) > kMaxBoxLines) {
      // A long list (the workers of a check) scrolls inside the box; its heading stays above it.
      const int gap = text.Find("\n\n");
      head = gap == wxNOT_FOUND ? wxString() : text.Left(static_cast<size_t>(gap));
      rest = gap == wxNOT_FOUND ? text : text.Mid(static_cast<size_t>(gap) + 2);
    }
    if (!head.empty()) {
      auto* label = new wxStaticText(this, wxID_ANY, head);
      label->SetName("message");
      label->Wrap(FromDIP(560));
      texts->Add(label, 0, wxBOTTOM, 8);
    }
    if (!rest.empty()) {
      auto* list = new wxTextCtrl(this, wxID_ANY, rest, wxDefaultPosition, FromDIP(wxSize(560, 320)),
                                  wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
      list->SetName("scrolledText");
      texts->Add(list, 1, wxEXPAND);
    }
    row->Add(texts, 1, wxEXPAND | wxTOP | wxRIGHT, 12);
    top->Add(row, 1, wxEXPAND);
    const long buttons = style & (wxOK | wxYES_NO | wxCANCEL | wxNO_DEFAULT);
    if (wxSizer* sizer = CreateSeparatedButtonSizer(buttons)) top->Add(sizer, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);
    SetEscapeId((style & wxCANCEL) ? wxID_CANCEL : (style & wxYES_NO) ? wxID_NO : wxID_OK);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) { EndModal(event.GetId()); });
    CentreOnParent();
  }
};

}  // namespace

// The modal dialogs open now, innermost last. Each is put on top of the window it belongs to
// once shown, and the one below is put on top again when it closes: a window manager, or none,
// may leave a new window below the frame, and a modal dialog out of sight looks like a hang.
class WxHost::DialogStack : public wxModalDialogHook {
 public:
  DialogStack() { Register(); }
  ~DialogStack() override { Unregister(); }
  wxWindow* Innermost() const { return m_open.empty() ? nullptr : m_open.back(); }

 protected:
  int Enter(wxDialog* dialog) override {
    m_open.push_back(dialog);
    dialog->Bind(wxEVT_SHOW, &DialogStack::OnShow);
    return wxID_NONE;
  }
  void Exit(wxDialog* dialog) override {
    dialog->Unbind(wxEVT_SHOW, &DialogStack::OnShow);
    m_open.erase(std::remove(m_open.begin(), m_open.end(), dialog), m_open.end());
    if (!m_open.empty()) m_open.back()->Raise();
  }

 private:
  static void OnShow(wxShowEvent& event) {
    event.Skip();
    auto* dialog = wxDynamicCast(event.GetEventObject(), wxDialog);
    if (dialog && event.IsShown()) dialog->CallAfter([dialog] { dialog->Raise(); });
  }
  std::vector<wxDialog*> m_open;
};

WxHost::WxHost(CWexoApp& app) : m_app(app), m_dialogs(std::make_unique<DialogStack>()) {}

WxHost::~WxHost() = default;

std::string WildcardFromFilter(const std::string& filter) {
  std::string out;
  std::size_t start = 0;
  bool pattern = false;
  while (start < filter.size()) {
    std::size_t bar = filter.find('|', start);
    if (bar == std::string::npos) bar = filter.size();
    std::string part = filter.substr(start, bar - start);
    // "*.*" names every file; here a name need not have a dot.
    if (pattern && part == "*.*") part = "*";
    if (!part.empty()) {
      if (!out.empty()) out += '|';
      out += part;
    }
    pattern = !pattern;
    start = bar + 1;
  }
  return out;
}

wxWindow* WxHost::Parent() const {
  if (wxWindow* dialog = m_dialogs->Innermost()) return dialog;
  return wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
}

int WxHost::ShowBox(const std::string& text, long style) {
  // Texts may carry what a server sent: shown as the trace log writes it.
  MessageBoxDialog box(Parent(), FromUtf8(EscapedText(text, true)), style);
  return box.ShowModal();
}

long WxHost::BoxStyle(BoxKind kind) {
  switch (kind) {
    case BoxKind::Warning: return wxOK | wxICON_EXCLAMATION;
    case BoxKind::Error: return wxOK | wxICON_ERROR;
    case BoxKind::Question: return wxYES_NO | wxICON_QUESTION;
    case BoxKind::QuestionDefaultNo: return wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION;
    case BoxKind::Info: break;
  }
  return wxOK | wxICON_INFORMATION;
}

BoxAnswer WxHost::MessageBox(const std::string& text, BoxKind kind) {
  if (m_boxAnswerer) return m_boxAnswerer(text, kind);
  switch (ShowBox(text, BoxStyle(kind))) {
    case wxID_YES: return BoxAnswer::Yes;
    case wxID_NO: return BoxAnswer::No;
    case wxID_CANCEL: return BoxAnswer::Cancel;
    default: return BoxAnswer::Ok;
  }
}

BoxAnswer WxHost::AskSaveChanges(const std::string& text) {
  if (m_boxAnswerer) return m_boxAnswerer(text, BoxKind::Warning);
  const int answer = ShowBox(text, wxYES_NO | wxCANCEL | wxICON_EXCLAMATION);
  return answer == wxID_YES ? BoxAnswer::Yes : answer == wxID_NO ? BoxAnswer::No : BoxAnswer::Cancel;
}

bool WxHost::FileOpenDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                            std::string& path) {
  if (m_fileAnswerer) return m_fileAnswerer(title, path);
  wxFileDialog dialog(Parent(), FromUtf8(title), FromUtf8(path), wxString(), FromUtf8(WildcardFromFilter(filter)),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return false;
  path = dialog.GetPath().utf8_string();
  return true;
}

bool WxHost::FileSaveDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                            std::string& path) {
  if (m_fileAnswerer) return m_fileAnswerer(title, path);
  wxFileDialog dialog(Parent(), FromUtf8(title), wxString(), FromUtf8(path), FromUtf8(WildcardFromFilter(filter)),
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return false;
  path = dialog.GetPath().utf8_string();
  if (!defaultExt.empty() && path.find('.', path.find_last_of('/') + 1) == std::string::npos) path += defaultExt;
  return true;
}

bool WxHost::CanShowDialogs() { return wxTheApp && !m_quit; }

template <class T>
T WxHost::RunOnUiThread(std::function<T()> task) {
  auto done = std::make_shared<std::promise<T>>();
  std::future<T> answer = done->get_future();
  wxTheApp->CallAfter([task = std::move(task), done] { done->set_value(task()); });
  return answer.get();
}

bool WxHost::FtpDialog(FtpDialogModel& model) {
  if (m_quit) return false;
  return ShowFtpDialog(Parent(), model);
}

bool WxHost::CredentialDialog(const CredentialPrompt& prompt, std::string& user, std::string& password) {
  if (!CanShowDialogs()) return false;
  return RunOnUiThread<bool>([&] {
    CredentialDialogModel model(prompt);
    if (m_quit || !ShowCredentialDialog(Parent(), model, prompt)) return false;
    user = model.m_user;
    password = model.m_password;
    return true;
  });
}

bool WxHost::CertificateDialog(const CertificatePrompt& prompt) {
  if (!CanShowDialogs()) return false;
  return RunOnUiThread<bool>([&] {
    CertificateDialogModel model(prompt);
    return !m_quit && ShowCertificateDialog(Parent(), model, prompt);
  });
}

void WxHost::Beep() { wxBell(); }

void WxHost::RaiseExitCode(int exitCode) { m_exitCode = std::max(m_exitCode, exitCode); }

void WxHost::PostToUiThread(std::function<void()> task) {
  if (wxTheApp) wxTheApp->CallAfter(std::move(task));
}

void WxHost::Quit(int exitCode) {
  RaiseExitCode(exitCode);
  m_quit.store(true);
  // Runs from the main loop, also when asked for before the loop started.
  if (m_onQuit && wxTheApp) wxTheApp->CallAfter(m_onQuit);
}

// A small modeless box; while it is up every other window is disabled and the cursor is busy.
class WxHost::AbortBox : public IAbortBox {
 public:
  AbortBox(wxWindow* parent, const std::string& caption) : m_parent(parent) {
    m_box =
        new wxDialog(parent, wxID_ANY, FromUtf8(caption), wxDefaultPosition, wxDefaultSize, wxCAPTION | wxSYSTEM_MENU);
    m_box->SetName("AbortBox");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    const long centred = wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE;
    m_top = new wxStaticText(m_box, wxID_ANY, wxString(), wxDefaultPosition, wxSize(260, -1), centred);
    m_bottom = new wxStaticText(m_box, wxID_ANY, wxString(), wxDefaultPosition, wxSize(260, -1), centred);
    m_abort = new wxButton(m_box, wxID_CANCEL, "Abort");
    sizer->Add(m_top, 0, wxEXPAND | wxALL, 8);
    sizer->Add(m_abort, 0, wxALIGN_CENTRE | wxLEFT | wxRIGHT, 8);
    sizer->Add(m_bottom, 0, wxEXPAND | wxALL, 8);
    m_box->SetSizerAndFit(sizer);
    m_abort->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Abort(); });
    // Closing the box by its window frame is Abort too.
    m_box->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
      if (e.CanVeto()) e.Veto();
      Abort();
    });
    m_box->CentreOnParent();
    m_box->Show();
    m_disabler = std::make_unique<wxWindowDisabler>(m_box);
    m_busy = std::make_unique<wxBusyCursor>();
  }
  ~AbortBox() override {
    m_busy.reset();
    m_disabler.reset();
    if (m_parent) m_parent->Raise();
    m_box->Destroy();
  }
  void SetTopText(const std::string& text) override { m_top->SetLabel(FromUtf8(text)); }
  void SetBottomText(const std::string& text) override { m_bottom->SetLabel(FromUtf8(text)); }
  void PumpWaitingMessages() override {
    // Everything waiting is handled, as a plain message pump would.
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
      loop->YieldFor(wxEVT_CATEGORY_ALL);
    else
      wxYield();
  }
  bool IsAborted() const override { return m_aborted; }
  void SetAborted() override { m_aborted = true; }

 private:
  void Abort() {
    m_abort->Disable();
    m_aborted = true;
  }
  wxWindow* m_parent;
  wxDialog* m_box;
  wxStaticText* m_top;
  wxStaticText* m_bottom;
  wxButton* m_abort;
  std::unique_ptr<wxWindowDisabler> m_disabler;
  std::unique_ptr<wxBusyCursor> m_busy;
  bool m_aborted = false;
};

std::unique_ptr<IAbortBox> WxHost::CreateAbortBox(const std::string& caption) {
  return std::make_unique<AbortBox>(Parent(), caption);
}
