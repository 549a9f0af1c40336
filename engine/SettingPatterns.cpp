#include "engine/SettingPatterns.h"

#include "algorithms/Regex.h"
#include "platform/Profile.h"

SettingPatterns::SettingPatterns(std::span<const char* const> keys)
    : m_keys(keys), m_texts(keys.size()), m_compiled(keys.size()) {}

SettingPatterns::~SettingPatterns() = default;

std::span<const std::unique_ptr<Regex>> SettingPatterns::Current() {
  const std::string& file = platform::SettingsFile();
  const auto now = std::chrono::steady_clock::now();
  if (m_read && m_generation == platform::ProfileGeneration() && m_file == file &&
      now - m_readAt < platform::ProfileRecheckInterval())
    return m_compiled;
  for (std::size_t i = 0; i < m_keys.size(); ++i) {
    std::string text = platform::GetPrivateProfileString("Options", m_keys[i], "", file);
    if (text == m_texts[i]) continue;
    m_compiled[i] = text.empty() ? nullptr : std::make_unique<Regex>(text);
    m_texts[i] = std::move(text);
  }
  m_read = true;
  m_generation = platform::ProfileGeneration();
  m_file = file;
  m_readAt = now;
  return m_compiled;
}
