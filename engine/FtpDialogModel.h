// What the FTP access dialog of the report's orphan search holds: the access data of one
// site, kept in the settings section "<root prefix>-Ftp" (everything but the password).
// The dialog's window shows and edits these members; tests drive the model without one.
#pragma once

#include <cstdint>
#include <string>

class CWexoApp;

class FtpDialogModel {
 public:
  // root: the document's root prefix, which names the settings section and is shown at the top.
  FtpDialogModel(CWexoApp& app, std::string root);

  // The settings section of this site: root + "-Ftp".
  std::string Section() const { return m_csFtpRoot + "-Ftp"; }

  // The dialog opens: the members from the section. True when host, user, folder and default
  // page are all set, so the password is the field to fill (it has the focus).
  bool OnInitDialog();
  // OK: "" when the fields are valid and were stored (the password never is); otherwise the
  // message to show, and the dialog stays open.
  std::string OnOK();
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

 private:
  CWexoApp& m_app;
};
