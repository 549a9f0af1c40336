#include "ui/EMailDialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "mail/MailSend.h"
#include "platform/Profile.h"
#include "ui/DialogView.h"

namespace {

// The controls that follow the e-mail check box.
constexpr const char* kMailFields[] = {CEMailDlg::kOnlyIfBroken, CEMailDlg::kFrom,       CEMailDlg::kTo,
                                       CEMailDlg::kSubject,      CEMailDlg::kSmtpServer, CEMailDlg::kTest};

}  // namespace

void CEMailDlg::DoDataExchange(DataExchange& dx) {
  dx.Value(kEMail, m_mail.EMail);
  dx.Value(kOnlyIfBroken, m_mail.EMailOnlyIfBroken);
  // Each text goes into a mail header and an INI line: a line break there would end either.
  dx.Text(kFrom, m_mail.EMailFrom);
  dx.SingleLine(m_mail.EMailFrom);
  dx.Text(kSmtpServer, m_mail.EMailSmtpServer);
  dx.SingleLine(m_mail.EMailSmtpServer);
  dx.Text(kSubject, m_mail.EMailSubject);
  dx.SingleLine(m_mail.EMailSubject);
  dx.Text(kTo, m_mail.EMailTo);
  dx.SingleLine(m_mail.EMailTo);
}

void CEMailDlg::EnableMailFields(bool enabled) {
  for (const char* name : kMailFields) Controls()->Enable(name, enabled);
}

bool CEMailDlg::OnInitDialog() {
  DialogModel::OnInitDialog();
  if (Controls() != nullptr) EnableMailFields(m_mail.EMail != 0);
  return true;
}

void CEMailDlg::OnEMailToggle() {
  if (UpdateData(true)) EnableMailFields(m_mail.EMail != 0);
}

bool CEMailDlg::CheckRequiredFields() {
  const struct {
    const std::string& value;
    const char* field;
    const char* message;
  } required[] = {
      {m_mail.EMailTo, kTo, "'To:' field empty"},
      {m_mail.EMailFrom, kFrom, "'From:' field empty"},
      {m_mail.EMailSmtpServer, kSmtpServer, "'SMTP-Server:' field empty"},
  };
  for (const auto& r : required) {
    if (r.value.empty()) {
      FailOn(r.field, r.message);
      return false;
    }
  }
  return true;
}

bool CEMailDlg::OnOK() {
  if (!UpdateData(true)) return false;
  return m_mail.EMail == 0 || CheckRequiredFields();
}

void CEMailDlg::OnTest() {
  if (!UpdateData(true) || !CheckRequiredFields()) return;
  if (m_waitCursor) m_waitCursor(true);
  SendTestMail();
  if (m_waitCursor) m_waitCursor(false);
}

void CEMailDlg::SendTestMail() {
  const MailNotice show = [this](const std::string& text) { Controls()->ShowMessage(text); };
  if (!CheckMailPort(show)) return;
  // A settings file not written yet is left out.
  if (SendMail(m_mail, {"This is a Test with your WEXO.INI file attached\r\n", platform::SettingsFile(), ""}, show))
    Controls()->ShowInformation("E-Mail message successfully sent");
}

namespace {

class EMailDialog : public ModelDialog {
 public:
  EMailDialog(wxWindow* parent, CEMailDlg& model) : ModelDialog(parent, "e-mail options", model) {
    SetName("EMailDialog");
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(Check(CEMailDlg::kEMail, "e-mail report and quit when done"), 0, wxLEFT | wxRIGHT | wxTOP, 10);
    top->Add(Check(CEMailDlg::kOnlyIfBroken, "e-mail only if there are broken links"), 0, wxLEFT | wxRIGHT | wxTOP, 10);

    auto* grid = new wxFlexGridSizer(2, 6, 8);
    grid->AddGrowableCol(1);
    Row(grid, "SMTP-Server:", CEMailDlg::kSmtpServer);
    grid->AddSpacer(0);
    grid->Add(new wxStaticText(this, wxID_ANY, "(for example mail.example.com)"));
    Row(grid, "&From:", CEMailDlg::kFrom);
    Row(grid, "&To:", CEMailDlg::kTo);
    grid->AddSpacer(0);
    grid->Add(new wxStaticText(this, wxID_ANY, "(multiple allowed)"));
    Row(grid, "&Subject:", CEMailDlg::kSubject);
    top->Add(grid, 0, wxEXPAND | wxALL, 10);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* test = new wxButton(this, wxID_ANY, "Test");
    test->SetName(CEMailDlg::kTest);
    buttons->Add(test);
    buttons->AddStretchSpacer();
    buttons->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL));
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    SetSizerAndFit(top);
    SetMinSize(wxSize(FromDIP(420), -1));
    Fit();

    model.m_waitCursor = [](bool on) { on ? wxBeginBusyCursor() : wxEndBusyCursor(); };
    test->Bind(wxEVT_BUTTON, [&model](wxCommandEvent&) { model.OnTest(); });
    Controls().Find(CEMailDlg::kEMail)->Bind(wxEVT_CHECKBOX, [&model](wxCommandEvent&) { model.OnEMailToggle(); });
  }

 private:
  wxCheckBox* Check(const char* name, const char* text) {
    auto* box = new wxCheckBox(this, wxID_ANY, text);
    box->SetName(name);
    return box;
  }
  void Row(wxFlexGridSizer* grid, const char* label, const char* name) {
    grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
    auto* edit = new wxTextCtrl(this, wxID_ANY);
    edit->SetName(name);
    grid->Add(edit, 1, wxEXPAND);
  }
};

}  // namespace

bool ShowEMailDialog(wxWindow* parent, CEMailDlg& model) {
  EMailDialog dialog(parent, model);
  const bool ok = dialog.ShowModal() == wxID_OK;
  model.m_waitCursor = nullptr;
  return ok;
}
