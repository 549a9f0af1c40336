#include "ui/WxHost.h"

#include <future>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "ui/FtpDialog.h"
#include "ui/SecurityDialogs.h"
#include "ui/WxText.h"

namespace {

constexpr const char* kBoxCaption = "Wexo";

}  // namespace

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

wxWindow* WxHost::Parent() const { return wxTheApp ? wxTheApp->GetTopWindow() : nullptr; }

BoxAnswer WxHost::MessageBox(const std::string& text, BoxKind kind) {
  if (kind == BoxKind::Error) m_failureShown = true;
  if (m_boxAnswerer) return m_boxAnswerer(text, kind);
  long style = wxOK | wxICON_INFORMATION;
  if (kind == BoxKind::Warning) style = wxOK | wxICON_EXCLAMATION;
  if (kind == BoxKind::Error) style = wxOK | wxICON_ERROR;
  if (kind == BoxKind::Question) style = wxYES_NO | wxICON_QUESTION;
  wxMessageDialog box(Parent(), FromUtf8(text), kBoxCaption, style);
  switch (box.ShowModal()) {
    case wxID_YES: return BoxAnswer::Yes;
    case wxID_NO: return BoxAnswer::No;
    case wxID_CANCEL: return BoxAnswer::Cancel;
    default: return BoxAnswer::Ok;
  }
}

BoxAnswer WxHost::AskSaveChanges(const std::string& text) {
  if (m_boxAnswerer) return m_boxAnswerer(text, BoxKind::Warning);
  wxMessageDialog box(Parent(), FromUtf8(text), kBoxCaption, wxYES_NO | wxCANCEL | wxICON_EXCLAMATION);
  const int answer = box.ShowModal();
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

void WxHost::Quit(int exitCode) {
  if (!m_quit.exchange(true)) m_exitCode = exitCode;
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
