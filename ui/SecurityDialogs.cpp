#include "ui/SecurityDialogs.h"

#include "ui/DialogView.h"
#include "ui/WxText.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

CredentialDialogModel::CredentialDialogModel(const CredentialPrompt& prompt) : m_user(prompt.user), m_prompt(prompt) {}

void CredentialDialogModel::DoDataExchange(DataExchange& dx) {
  dx.Text("user", m_user);
  dx.Text("password", m_password);
}

std::string CredentialDialogModel::Heading() const {
  return (m_prompt.proxy ? "The proxy " : "The server ") + m_prompt.server + " asks for a user name and password.";
}

std::string CredentialDialogModel::Realm() const {
  return m_prompt.realm.empty() ? std::string() : "Realm: " + m_prompt.realm;
}

std::string CertificateDialogModel::Title() const { return "Security Warning"; }

std::string CertificateDialogModel::Message() const {
  return "There is a problem with the certificate of " + m_prompt.server + ":\n" + m_prompt.text + "\n\n" +
         m_prompt.url + "\n\nDo you want to go on with this request?";
}

namespace {

// Closes a modal dialog as cancel once its fetch is stopped.
class AbortWatch : public wxTimer {
 public:
  AbortWatch(wxDialog& dialog, const std::function<bool()>& aborted) : m_dialog(dialog), m_aborted(aborted) {
    if (m_aborted) Start(250);
  }
  void Notify() override {
    if (m_aborted() && m_dialog.IsModal()) m_dialog.EndModal(wxID_CANCEL);
  }

 private:
  wxDialog& m_dialog;
  std::function<bool()> m_aborted;
};

}  // namespace

bool ShowCredentialDialog(wxWindow* parent, CredentialDialogModel& model, const CredentialPrompt& prompt) {
  ModelDialog dialog(parent, "Enter Network Password", model);
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(&dialog, wxID_ANY, FromUtf8(model.Heading())), 0, wxALL, 8);
  if (!model.Realm().empty())
    top->Add(new wxStaticText(&dialog, wxID_ANY, FromUtf8(model.Realm())), 0, wxLEFT | wxRIGHT, 8);
  auto* grid = new wxFlexGridSizer(2, 4, 8);
  grid->AddGrowableCol(1);
  auto* user = new wxTextCtrl(&dialog, wxID_ANY);
  auto* password = new wxTextCtrl(&dialog, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxTE_PASSWORD);
  user->SetName("user");
  password->SetName("password");
  grid->Add(new wxStaticText(&dialog, wxID_ANY, "User name:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(user, 1, wxEXPAND);
  grid->Add(new wxStaticText(&dialog, wxID_ANY, "Password:"), 0, wxALIGN_CENTER_VERTICAL);
  grid->Add(password, 1, wxEXPAND);
  top->Add(grid, 0, wxEXPAND | wxALL, 8);
  top->Add(dialog.CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
  dialog.SetSizerAndFit(top);
  dialog.FindWindow(wxID_OK)->Bind(wxEVT_UPDATE_UI, [user](wxUpdateUIEvent& e) { e.Enable(!user->IsEmpty()); });
  AbortWatch watch(dialog, prompt.aborted);
  return dialog.ShowModal() == wxID_OK;
}

bool ShowCertificateDialog(wxWindow* parent, const CertificateDialogModel& model, const CertificatePrompt& prompt) {
  wxDialog dialog(parent, wxID_ANY, FromUtf8(model.Title()));
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(new wxStaticText(&dialog, wxID_ANY, FromUtf8(model.Message())), 0, wxALL, 8);
  top->Add(dialog.CreateStdDialogButtonSizer(wxYES | wxNO), 0, wxEXPAND | wxALL, 8);
  dialog.SetSizerAndFit(top);
  dialog.SetAffirmativeId(wxID_YES);
  dialog.SetEscapeId(wxID_NO);
  AbortWatch watch(dialog, prompt.aborted);
  return dialog.ShowModal() == wxID_YES;
}
