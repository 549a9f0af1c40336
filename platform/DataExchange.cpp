#include "platform/DataExchange.h"

#include <charconv>
#include <limits>

namespace {

// Thrown by Fail and caught by UpdateData: the exchange stops at the failing field.
struct ExchangeStopped {};

constexpr const char* kNotAnInteger = "Please enter an integer.";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A whole number with optional blanks around it and an optional sign.
bool ParseInteger(const std::string& text, long long& value) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin < end && text[begin] == '+') ++begin;
  const char* first = text.data() + begin;
  const char* last = text.data() + end;
  const auto [stop, ec] = std::from_chars(first, last, value);
  return first != last && ec == std::errc() && stop == last;
}

template <typename Int>
void NumberField(DataExchange& dx, IDialogControls& controls, std::string_view name, Int& value) {
  if (!dx.m_bSaveAndValidate) {
    controls.SetText(name, std::to_string(value));
    return;
  }
  long long parsed = 0;
  if (!ParseInteger(controls.GetText(name), parsed) || parsed < std::numeric_limits<Int>::min() ||
      parsed > std::numeric_limits<Int>::max())
    dx.Fail(kNotAnInteger);
  value = static_cast<Int>(parsed);
}

}  // namespace

void DataExchange::Text(std::string_view name, std::string& value) {
  m_lastField = name;
  if (m_bSaveAndValidate)
    value = m_controls.GetText(name);
  else
    m_controls.SetText(name, value);
}

void DataExchange::Number(std::string_view name, int& value) {
  m_lastField = name;
  NumberField(*this, m_controls, name, value);
}

void DataExchange::Number(std::string_view name, std::int16_t& value) {
  m_lastField = name;
  NumberField(*this, m_controls, name, value);
}

void DataExchange::Value(std::string_view name, int& value) {
  m_lastField = name;
  if (m_bSaveAndValidate)
    value = m_controls.GetValue(name);
  else
    m_controls.SetValue(name, value);
}

void DataExchange::MinMax(int value, int minimum, int maximum) {
  if (!m_bSaveAndValidate || (value >= minimum && value <= maximum)) return;
  Fail("Please enter a number between " + std::to_string(minimum) + " and " + std::to_string(maximum) + ".");
}

void DataExchange::MaxChars(const std::string& value, std::size_t count) {
  if (!m_bSaveAndValidate || value.size() <= count) return;
  Fail("Please enter no more than " + std::to_string(count) + " characters.");
}

void DataExchange::SingleLine(const std::string& value) {
  if (!m_bSaveAndValidate || value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos) return;
  Fail("Please enter a single line: line breaks and NUL characters are not allowed here.");
}

void DataExchange::Fail(const std::string& message) {
  if (!message.empty()) m_controls.ShowMessage(message);
  if (!m_lastField.empty()) m_controls.SetFocus(m_lastField);
  throw ExchangeStopped{};
}

bool DialogModel::UpdateData(bool save) {
  if (m_controls == nullptr) return false;
  DataExchange dx(*m_controls, save);
  try {
    DoDataExchange(dx);
  } catch (const ExchangeStopped&) {
    return false;
  }
  return true;
}

bool DialogModel::OnInitDialog() {
  UpdateData(false);
  return true;
}

void DialogModel::FailOn(std::string_view field, const std::string& message) {
  if (m_controls == nullptr) return;
  m_controls->SetFocus(field);
  m_controls->ShowMessage(message);
}
