// The windowed side of the dialog layer: controls found by their window names, and a dialog
// that runs its model's start and OK.
#pragma once

#include <wx/dialog.h>
#include <wx/panel.h>

#include "platform/DataExchange.h"
#include "ui/WxText.h"

// The named children of one window (a dialog or a property page). Text controls, combo boxes
// and static texts carry texts; check boxes, sliders, spin controls, choices and list boxes
// carry values.
class WxDialogControls : public IDialogControls {
 public:
  explicit WxDialogControls(wxWindow& root) : m_root(root) {}

  std::string GetText(std::string_view name) override;
  void SetText(std::string_view name, const std::string& text) override;
  int GetValue(std::string_view name) override;
  void SetValue(std::string_view name, int value) override;
  void Enable(std::string_view name, bool enabled) override;
  bool IsEnabled(std::string_view name) override;
  void SetFocus(std::string_view name) override;
  void ShowMessage(const std::string& text) override;
  void ShowInformation(const std::string& text) override;
  void SetItems(std::string_view name, const std::vector<std::string>& items) override;
  void Show(std::string_view name, bool shown) override;

  // The named control; asserts when the window has no such child.
  wxWindow* Find(std::string_view name) const;

 private:
  wxWindow& m_root;
};

// A modal dialog over a model: the model's controls are attached while the dialog is open,
// OnInitDialog runs when it is first shown, and OK closes it only when the model's OnOK agrees.
// Subclasses build the controls (with names the model uses) in their constructor.
class ModelDialog : public wxDialog {
 public:
  ModelDialog(wxWindow* parent, const wxString& title, DialogModel& model, long style = wxDEFAULT_DIALOG_STYLE);
  ~ModelDialog() override;

  WxDialogControls& Controls() { return m_controls; }
  // The first child, in creation order, that is shown, enabled and takes the focus.
  static wxWindow* FirstFocusable(wxWindow* parent);

 protected:
  // When the model's OnInitDialog returns true, the first control takes the focus; a dialog
  // that keeps it on its default button clears this.
  bool m_focusFirstControl = true;

 private:
  DialogModel& m_model;
  WxDialogControls m_controls;
};

// A property page over a model, for wxPropertySheetDialog; its OnInitDialog runs when the page
// is first shown.
class ModelPage : public wxPanel {
 public:
  ModelPage(wxWindow* parent, DialogModel& model);
  ~ModelPage() override;

  WxDialogControls& Controls() { return m_controls; }
  bool WasShown() const { return m_shown; }
  // Runs the model's start the first time the page is in front.
  void EnsureStarted();

 private:
  DialogModel& m_model;
  WxDialogControls m_controls;
  bool m_shown = false;
};
