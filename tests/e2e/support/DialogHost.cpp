#include "e2e/support/DialogHost.h"

namespace wexo_test {

namespace {
DialogHost* current = nullptr;
}  // namespace

DialogHost::DialogHost() { current = this; }
DialogHost::~DialogHost() {
  if (current == this) current = nullptr;
}
DialogHost* DialogHost::Current() { return current; }

bool DialogHost::CredentialDialog(const CredentialPrompt& prompt, std::string& user, std::string& password) {
  Credentials answer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_credentialPrompts.push_back(prompt);
    if (!m_credentialAnswers.empty()) {
      answer = m_credentialAnswers.front();
      m_credentialAnswers.pop_front();
    }
  }
  if (whileShown) whileShown();
  if (!answer.ok) return false;
  user = answer.user;
  password = answer.password;
  return true;
}

bool DialogHost::CertificateDialog(const CertificatePrompt& prompt) {
  bool answer = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_certificatePrompts.push_back(prompt);
    if (!m_certificateAnswers.empty()) {
      answer = m_certificateAnswers.front();
      m_certificateAnswers.pop_front();
    }
  }
  if (whileShown) whileShown();
  return answer;
}

void DialogHost::ScriptCredentials(std::deque<Credentials> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_credentialAnswers = std::move(answers);
}

void DialogHost::ScriptCertificates(std::deque<bool> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_certificateAnswers = std::move(answers);
}

std::vector<CredentialPrompt> DialogHost::CredentialPrompts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_credentialPrompts;
}

std::vector<CertificatePrompt> DialogHost::CertificatePrompts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_certificatePrompts;
}

}  // namespace wexo_test
