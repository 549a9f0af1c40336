#include "ui/EMailDialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include "mail/SmtpConnection.h"
#include "platform/LastError.h"
#include "platform/Profile.h"
#include "ui/DialogView.h"

namespace {

// The controls that follow the e-mail check box.
constexpr const char* kMailFields[] = {CEMailDlg::kOnlyIfBroken, CEMailDlg::kFrom,       CEMailDlg::kTo,
                                       CEMailDlg::kSubject,      CEMailDlg::kSmtpServer, CEMailDlg::kTest};

}  // namespace

void CEMailDlg::DoDataExchange(DataExchange& dx) {
  dx.Value(kEMail, m_bEMail);
  dx.Value(kOnlyIfBroken, m_bEMailOnlyIfBroken);
  // Each text goes into a mail header and an INI line: a line break there would end either.
  dx.Text(kFrom, m_csFrom);
  dx.SingleLine(m_csFrom);
  dx.Text(kSmtpServer, m_csSmtpServer);
  dx.SingleLine(m_csSmtpServer);
  dx.Text(kSubject, m_csSubject);
  dx.SingleLine(m_csSubject);
  dx.Text(kTo, m_csTo);
  dx.SingleLine(m_csTo);
}

void CEMailDlg::EnableMailFields(bool enabled) {
  for (const char* name : kMailFields) Controls()->Enable(name, enabled);
}

bool CEMailDlg::OnInitDialog() {
  DialogModel::OnInitDialog();
  if (Controls() != nullptr) EnableMailFields(m_bEMail != 0);
  return true;
}

void CEMailDlg::OnEMailToggle() {
  if (UpdateData(true)) EnableMailFields(m_bEMail != 0);
}

bool CEMailDlg::CheckRequiredFields() {
  const struct {
    const std::string& value;
    const char* field;
    const char* message;
  } required[] = {
      {m_csTo, kTo, "'To:' field empty"},
      {m_csFrom, kFrom, "'From:' field empty"},
      {m_csSmtpServer, kSmtpServer, "'SMTP-Server:' field empty"},
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
  return m_bEMail == 0 || CheckRequiredFields();
}

void CEMailDlg::OnTest() {
  if (!UpdateData(true) || !CheckRequiredFields()) return;
  if (m_waitCursor) m_waitCursor(true);
  SendTestMail();
  if (m_waitCursor) m_waitCursor(false);
}

void CEMailDlg::SendTestMail() {
  int port = 25;
  std::string problem;
  if (!SmtpPortSetting(port, port, problem)) {
    Controls()->ShowMessage(problem);
    return;
  }
  CRQZSMTPConnection connection;
  if (!connection.Connect(m_csSmtpServer, SMTP_LOGIN_NONE, "", "", 25, "")) {
    const std::string reason = platform::FormatMessageText(platform::GetLastError());
    Controls()->ShowMessage("Failed to connect to SMTP server " + m_csSmtpServer + ": " + reason);
    return;
  }
  CSMTPMessage message;
  message.m_From = CSMTPAddress("", m_csFrom);
  message.m_sSubject = m_csSubject;
  message.AddBodyText("This is a Test with your WEXO.INI file attached\r\n");
  // One path taken whole: its folders may hold the list separators ',' and ';'. A settings
  // file not written yet is left out, as a list would skip it.
  message.AttachFile(platform::SettingsFile());
  message.AddRecipientList(m_csTo, SMTP_TO);
  if (!connection.SendMessage(message)) {
    Controls()->ShowMessage("Failed to send e-mail message: " + connection.LastReplyText());
    return;
  }
  connection.Disconnect(true);
  Controls()->ShowMessage("E-Mail message successfully sent");
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
