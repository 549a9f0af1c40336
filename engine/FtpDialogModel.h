// What the FTP access dialog of the report's orphan search holds: the access data of one
// site, kept in the settings section "<root prefix>-Ftp" (everything but the password).
// The dialog's window shows and edits these members through the named controls "root",
// "host", "user", "password", "dir", "defaultPage" and "passive"; hosts without a window
// use Load and Store directly.
#pragma once

#include <cstdint>
#include <string>

#include "platform/DataExchange.h"

class CWexoApp;

class FtpDialogModel : public DialogModel {
 public:
  // root: the document's root prefix, which names the settings section and is shown at the top.
  FtpDialogModel(CWexoApp& app, std::string root);

  // The settings section of this site: root + "-Ftp".
  std::string Section() const { return m_csFtpRoot + "-Ftp"; }

  // The members from the section. True when host, user, folder and default page are all set,
  // so the password is the field to fill.
  bool Load();
  // "" when the members are valid and were stored (the password never is); otherwise the
  // message to show, and nothing is stored.
  std::string Store();

  // The dialog opens: Load, the members to the controls; false when the focus went to the
  // password.
  bool OnInitDialog() override;
  // OK: the controls to the members, then Store; a refused host shows its message with the
  // focus on the host and keeps the dialog open.
  bool OnOK() override;
  // The text a host field may not have: empty when valid, else why not.
  static std::string ValidateHost(const std::string& host);

  // The host field split at its first ':' into host and port; port 21 without a ':' or with
  // an empty host.
  static void SplitHost(const std::string& field, std::string& host, std::uint16_t& port);
  // The folder with a '/' at its end; an empty one stays empty.
  static std::string FolderWithSlash(const std::string& dir);

  std::string m_csFtpDir;
  std::string m_csFtpPassword;
  std::string m_csFtpUser;
  std::string m_csFtpRoot;
  std::string m_csFtpHost;
  int m_bFtpPassive = 0;
  std::string m_csFtpDefaultPage;

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  CWexoApp& m_app;
};
