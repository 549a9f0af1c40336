// The tips dialog: one tip at a time from "tips.txt" beside the program, shown at start-up
// and on "Ti&ps and Tricks...". [Tip] FilePos keeps where the next tip is searched, so each
// tips dialog built moves the tips on by one; a tips file with a new creation time
// ([Tip] TimeStamp) starts again at its first tip.
//
// The model holds no window: its controls are "tip" (the text), "startup" (the check box)
// and "nextTip" (the button). User-interface thread.
#pragma once

#include <cstdio>
#include <string>

#include "platform/DataExchange.h"

class CWexoApp;
class IWexoHost;
class wxWindow;

class CTipDlg : public DialogModel {
 public:
  // Reads the settings, opens the tips file and reads the first tip; messages go to host.
  CTipDlg(const CWexoApp& app, IWexoHost& host, const std::string& path = TipsFilePath());
  // Saves the position after the last tip read when the file is open.
  ~CTipDlg() override;
  CTipDlg(const CTipDlg&) = delete;
  CTipDlg& operator=(const CTipDlg&) = delete;

  // The next tip: the next line that does not begin with a blank, a tab or ';' and is not
  // empty, with its line end. Lines of 1000 characters or more come in parts of 999, each a
  // tip of its own. At the end the file starts again; a file without tips gives "".
  void GetNextTipString(std::string& tip);

  bool OnInitDialog() override;
  void OnNextTip();
  // Close: [Tip] StartUp = 0 when the box is checked, else 1.
  bool OnOK() override;

  bool HasFile() const { return m_pTipsFile != nullptr; }

  // "tips.txt" in the program's folder, unless SetTipsFilePath named another file (tests).
  static std::string TipsFilePath();
  static void SetTipsFilePath(std::string path);
  // The text kept in [Tip] TimeStamp: the file's birth time (its modification time where
  // the file system keeps none) as ctime gives it, in local time, without the line end.
  // "" when the file cannot be looked at.
  static std::string FileTimeText(const std::string& path);

  std::string m_csTip;
  int m_bStartup = 0;

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  const CWexoApp& m_app;
  IWexoHost& m_host;
  std::FILE* m_pTipsFile = nullptr;
};

// The folder of the running program, with no '/' at its end.
std::string ProgramFolder();

// Shows the tips dialog modally.
void ShowTipDialog(wxWindow* parent, CTipDlg& dialog);
