// The headless host with windows that are not there: its credential and certificate
// dialogs answer from a script and record what they were asked.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/HeadlessHost.h"

namespace wexo_test {

class DialogHost : public HeadlessHost {
 public:
  DialogHost();
  ~DialogHost() override;
  // The newest DialogHost alive: the host a test's direct fetches ask (nullptr: none).
  static DialogHost* Current();

  struct Credentials {
    bool ok = false;  // false: cancel
    std::string user;
    std::string password;
  };

  bool CanShowDialogs() override { return showDialogs; }
  bool CredentialDialog(const CredentialPrompt& prompt, std::string& user, std::string& password) override;
  bool CertificateDialog(const CertificatePrompt& prompt) override;

  // Answers in order; cancel once they are used up.
  void ScriptCredentials(std::deque<Credentials> answers);
  void ScriptCertificates(std::deque<bool> answers);
  std::vector<CredentialPrompt> CredentialPrompts() const;
  std::vector<CertificatePrompt> CertificatePrompts() const;

  bool showDialogs = true;
  // Runs inside each dialog before it answers (on the worker's thread).
  std::function<void()> whileShown;

 private:
  mutable std::mutex m_mutex;
  std::deque<Credentials> m_credentialAnswers;
  std::deque<bool> m_certificateAnswers;
  std::vector<CredentialPrompt> m_credentialPrompts;
  std::vector<CertificatePrompt> m_certificatePrompts;
};

}  // namespace wexo_test
