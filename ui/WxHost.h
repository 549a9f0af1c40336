// The host of the windowed program: message boxes, file dialogs, the credential and
// certificate dialogs and the abort box, all on the user-interface thread.
//
// Threads: MessageBox, AskForReport, the file dialogs, CreateAbortBox, Beep and Quit are
// called on the user-interface thread. CredentialDialog and CertificateDialog are called on a
// worker, which waits until the user-interface thread has shown the dialog and it was closed.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "engine/Host.h"

class CWexoApp;
class wxWindow;

class WxHost : public IWexoHost {
 public:
  explicit WxHost(CWexoApp& app) : m_app(app) {}

  BoxAnswer MessageBox(const std::string& text, BoxKind kind) override;
  bool FileOpenDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                      std::string& path) override;
  bool CanShowDialogs() override;
  bool CredentialDialog(const CredentialPrompt& prompt, std::string& user, std::string& password) override;
  bool CertificateDialog(const CertificatePrompt& prompt) override;
  // The starting-point dialog over the main window (ui/NewUrlDialog.cpp).
  bool StartingPointDialog(CWexoDoc& doc, StartingPoint& values) override;
  bool FtpDialog(FtpDialogModel& model) override;
  std::unique_ptr<IAbortBox> CreateAbortBox(const std::string& caption) override;
  void Beep() override;
  void Quit(int exitCode) override;

  // The save-file dialog (Save As); false when cancelled.
  bool FileSaveDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                      std::string& path);
  // "Save changes to ...?" with Yes, No and Cancel.
  BoxAnswer AskSaveChanges(const std::string& text);

  // Set once Quit was asked for; the exit code is the first asked for, or 1 when a box that
  // reports a failure was shown.
  bool QuitRequested() const { return m_quit; }
  int ExitCode() const { return m_exitCode != 0 ? m_exitCode : (m_failureShown ? 1 : 0); }
  // Ends the program once asked to quit; installed by the application.
  std::function<void()> m_onQuit;

  // Tests answer the boxes and file dialogs instead of a person. A box answerer gets the text
  // and kind (Question for yes/no, Warning for yes/no/cancel prompts); a file answerer gets
  // the title and fills the path, false for cancel.
  std::function<BoxAnswer(const std::string&, BoxKind)> m_boxAnswerer;
  std::function<bool(const std::string&, std::string&)> m_fileAnswerer;

 private:
  class AbortBox;
  wxWindow* Parent() const;
  // Runs a task on the user-interface thread and waits for it (worker threads only).
  template <class T>
  T RunOnUiThread(std::function<T()> task);

  CWexoApp& m_app;
  // Read by workers (CanShowDialogs) while the user-interface thread sets it.
  std::atomic<bool> m_quit{false};
  int m_exitCode = 0;
  bool m_failureShown = false;
};

// The wildcard of a wx file dialog from a filter written "Name|*.ext|...|" ("*.*" is "*").
std::string WildcardFromFilter(const std::string& filter);
