// The e-mail options dialog of a check: its model (fields, checks, the test mail) and the modal
// window over it.
#pragma once

#include <string>

#include "platform/DataExchange.h"

class CWexoApp;
class wxWindow;

class CEMailDlg : public DialogModel {
 public:
  explicit CEMailDlg(CWexoApp& app) : m_app(app) {}

  int m_bEMail = 0;
  int m_bEMailOnlyIfBroken = 0;
  std::string m_csSmtpServer;
  std::string m_csFrom;
  std::string m_csTo;
  std::string m_csSubject;

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  CWexoApp& m_app;
};

// Runs the dialog modally over model; true when closed with OK (the fields then hold the values).
bool ShowEMailDialog(wxWindow* parent, CEMailDlg& model);
