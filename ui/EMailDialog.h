// The e-mail options dialog of a check: its model (fields, checks, the test mail) and the modal
// window over it.
#pragma once

#include <functional>
#include <string>

#include "engine/MailSettings.h"
#include "platform/DataExchange.h"

class CWexoApp;
class wxWindow;

class CEMailDlg : public DialogModel {
 public:
  explicit CEMailDlg(CWexoApp& app) : m_app(app) {}

  // The names of the dialog's controls.
  static constexpr const char* kEMail = "EMail";
  static constexpr const char* kOnlyIfBroken = "EMailOnlyIfBroken";
  static constexpr const char* kSmtpServer = "SmtpServer";
  static constexpr const char* kFrom = "From";
  static constexpr const char* kTo = "To";
  static constexpr const char* kSubject = "Subject";
  static constexpr const char* kTest = "Test";

  // The controls other than the e-mail check box are enabled exactly while it is checked.
  bool OnInitDialog() override;
  // The three required fields are checked while the report is mailed.
  bool OnOK() override;
  // The e-mail check box was clicked.
  void OnEMailToggle();
  // The Test button: the same checks as OK, then a test message with the settings file
  // attached, sent with these settings; the outcome in a message box. Blocks until the server
  // has answered (each reply may take up to a minute).
  void OnTest();

  // The six settings the dialog edits; the caller sets them before and reads them after OK.
  MailSettings m_mail;

  // Shows (true) and ends (false) the wait cursor around the test mail; may be empty.
  std::function<void(bool)> m_waitCursor;

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  void EnableMailFields(bool enabled);
  // To, From and SMTP server, in that order: false (message shown, focus on the field) at the
  // first that is empty.
  bool CheckRequiredFields();
  void SendTestMail();

  CWexoApp& m_app;
};

// Runs the dialog modally over model; true when closed with OK (the fields then hold the values).
bool ShowEMailDialog(wxWindow* parent, CEMailDlg& model);
