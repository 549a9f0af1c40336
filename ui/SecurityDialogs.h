// The credential and certificate dialogs a worker asks for: models that hold what the dialog
// shows and what the user entered, and thin wx views over them. The certificate dialog is a
// yes-or-no question with no field to exchange.
#pragma once

#include <string>

#include "engine/Host.h"
#include "platform/DataExchange.h"

class wxWindow;

// What the credential dialog shows and returns; its controls are "user" and "password".
class CredentialDialogModel : public DialogModel {
 public:
  explicit CredentialDialogModel(const CredentialPrompt& prompt);
  // The lines above the fields: who asks, and for which realm.
  std::string Heading() const;
  std::string Realm() const;
  // OK is possible once a user name is given.
  bool CanAccept() const { return !m_user.empty(); }
  bool OnOK() override { return UpdateData(true) && CanAccept(); }

  std::string m_user;
  std::string m_password;

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  const CredentialPrompt& m_prompt;
};

// What the certificate dialog shows: the server, the problem, and the question.
class CertificateDialogModel {
 public:
  explicit CertificateDialogModel(const CertificatePrompt& prompt) : m_prompt(prompt) {}
  std::string Title() const;
  std::string Message() const;

 private:
  const CertificatePrompt& m_prompt;
};

// Shows the dialogs modally (user-interface thread). A dialog whose fetch was stopped or timed
// out meanwhile closes as cancel.
bool ShowCredentialDialog(wxWindow* parent, CredentialDialogModel& model, const CredentialPrompt& prompt);
bool ShowCertificateDialog(wxWindow* parent, const CertificateDialogModel& model, const CertificatePrompt& prompt);
