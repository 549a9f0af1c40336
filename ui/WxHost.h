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
  explicit WxHost(CWexoApp& app);
  ~WxHost() override;

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
  void RaiseExitCode(int exitCode) override;
  // A task for the main loop; dropped once the program has no application object.
  void PostToUiThread(std::function<void()> task) override;

  // The save-file dialog (Save As); false when cancelled.
  bool FileSaveDialog(const std::string& title, const std::string& defaultExt, const std::string& filter,
                      std::string& path);
  // "Save changes to ...?" with Yes, No and Cancel.
  BoxAnswer AskSaveChanges(const std::string& text);
  // The window a box or dialog shown now belongs to: the innermost modal dialog, else the
  // main window.
  wxWindow* Parent() const;
  // The buttons, default and icon of a box of that kind (wx message-box style flags).
  static long BoxStyle(BoxKind kind);

  // Set once Quit was asked for. The exit code is the highest one asked for.
  bool QuitRequested() const override { return m_quit; }
  int ExitCode() const { return m_exitCode; }
  // Ends the program once asked to quit; installed by the application.
  std::function<void()> m_onQuit;

  // Tests answer the boxes and file dialogs instead of a person. A box answerer gets the text
  // and kind (Question for yes/no, Warning for yes/no/cancel prompts); a file answerer gets
  // the title and fills the path, false for cancel.
  std::function<BoxAnswer(const std::string&, BoxKind)> m_boxAnswerer;
  std::function<bool(const std::string&, std::string&)> m_fileAnswerer;

 private:
  class AbortBox;
  class DialogStack;
  // Shows the box modally over Parent(); the id of the button that ended it.
  int ShowBox(const std::string& text, long style);
  // Runs a task on the user-interface thread and waits for it (worker threads only).
  template <class T>
  T RunOnUiThread(std::function<T()> task);

  CWexoApp& m_app;
  std::unique_ptr<DialogStack> m_dialogs;
  // Read by workers (CanShowDialogs) while the user-interface thread sets it.
  std::atomic<bool> m_quit{false};
  int m_exitCode = kExitOk;
};

// The wildcard of a wx file dialog from a filter written "Name|*.ext|...|" ("*.*" is "*").
std::string WildcardFromFilter(const std::string& filter);
