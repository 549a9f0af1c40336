// Dialog data exchange: a dialog's model moves its fields to and from named controls and checks
// them on the way back. The controls are reached through IDialogControls, which the windowed
// program implements over its widgets and tests implement over a plain table, so every dialog's
// behaviour runs without a display.
//
// Contract of an exchange (UpdateData):
// - DoDataExchange visits the fields in order; toward the controls it only writes.
// - Back from the controls, the first field that does not convert or fails its check shows its
//   message (one OK box), puts the focus on that field's control and stops the exchange: the
//   fields after it keep their old values, and UpdateData returns false.
// - Everything runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The controls of one open dialog, by name. Texts are UTF-8. A name the dialog does not have is
// a programming fault: implementations may assert, and read it as empty or 0.
class IDialogControls {
 public:
  virtual ~IDialogControls() = default;
  // Edit fields, combo boxes' texts and static texts.
  virtual std::string GetText(std::string_view name) = 0;
  virtual void SetText(std::string_view name, const std::string& text) = 0;
  // Check boxes (0 or 1), sliders (the position), list and choice selections (-1 for none).
  virtual int GetValue(std::string_view name) = 0;
  virtual void SetValue(std::string_view name, int value) = 0;
  virtual void Enable(std::string_view name, bool enabled) = 0;
  virtual bool IsEnabled(std::string_view name) = 0;
  virtual void SetFocus(std::string_view name) = 0;
  // A message box with an OK button, parented to the dialog: a warning.
  virtual void ShowMessage(const std::string& text) = 0;
  // The same box with the information icon: what was asked for went well.
  virtual void ShowInformation(const std::string& text) = 0;
  // The lines of a list box, or the list of a combo box (its text stays); no selection after.
  virtual void SetItems(std::string_view name, const std::vector<std::string>& items) = 0;
  virtual void Show(std::string_view name, bool shown) = 0;
};

class DataExchange {
 public:
  DataExchange(IDialogControls& controls, bool saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_controls(controls) {}

  // Plain text, taken as it stands.
  void Text(std::string_view name, std::string& value);
  // A whole number in an edit field; empty or anything else is refused with "Please enter an
  // integer.". The 16-bit form also refuses what does not fit.
  void Number(std::string_view name, int& value);
  void Number(std::string_view name, std::int16_t& value);
  // Check boxes, sliders and selections.
  void Value(std::string_view name, int& value);

  // Checks that follow the field they check (they do nothing toward the controls).
  void MinMax(int value, int minimum, int maximum);
  void MaxChars(const std::string& value, std::size_t count);
  // No CR, LF or NUL: a single-line value that goes into a header or a file line.
  void SingleLine(const std::string& value);

  // Shows message (when not empty), puts the focus on the last field exchanged and stops the
  // exchange.
  [[noreturn]] void Fail(const std::string& message);

  const bool m_bSaveAndValidate;

 private:
  IDialogControls& m_controls;
  std::string m_lastField;
};

// What every dialog model has: its exchange, its start and its OK. The view attaches the
// controls before the dialog starts and detaches them when it closes.
class DialogModel {
 public:
  virtual ~DialogModel() = default;

  void AttachControls(IDialogControls* controls) { m_controls = controls; }
  IDialogControls* Controls() const { return m_controls; }

  // save = true: controls to fields with the checks; false: fields to controls. False when a
  // check failed (its message was shown) or no controls are attached.
  bool UpdateData(bool save = true);

  // The dialog opens: fields to controls. The result is whether the default focus stands.
  virtual bool OnInitDialog();
  // OK pressed: true closes the dialog with OK.
  virtual bool OnOK() { return UpdateData(true); }

 protected:
  virtual void DoDataExchange(DataExchange& dx) = 0;
  // Shows a message and puts the focus on a field, for checks a model runs after the exchange.
  void FailOn(std::string_view field, const std::string& message);

 private:
  IDialogControls* m_controls = nullptr;
};
