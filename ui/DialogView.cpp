#include "ui/DialogView.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/TraceLog.h"
#include "ui/WexoApplication.h"

namespace {

constexpr const char* kBoxCaption = "Wexo";

void ShowBox(wxWindow& parent, const std::string& text, BoxKind kind) {
  // Through the program's host when there is one, so its box answerer sees dialog messages too.
  if (auto* app = dynamic_cast<WexoApplication*>(wxApp::GetInstance())) {
    app->Host().MessageBox(text, kind);
    return;
  }
  const long icon = kind == BoxKind::Info ? wxICON_INFORMATION : wxICON_EXCLAMATION;
  wxMessageBox(FromUtf8(EscapedText(text, true)), kBoxCaption, wxOK | icon, &parent);
}

}  // namespace

wxWindow* WxDialogControls::Find(std::string_view name) const {
  wxWindow* window = m_root.FindWindow(wxString::FromUTF8(name.data(), name.size()));
  wxASSERT_MSG(window != nullptr, wxString::FromUTF8(name.data(), name.size()));
  return window;
}

std::string WxDialogControls::GetText(std::string_view name) {
  wxWindow* window = Find(name);
  if (auto* text = wxDynamicCast(window, wxTextCtrl)) return ToUtf8(text->GetValue());
  if (auto* combo = wxDynamicCast(window, wxComboBox)) return ToUtf8(combo->GetValue());
  return window ? ToUtf8(window->GetLabel()) : std::string();
}

void WxDialogControls::SetText(std::string_view name, const std::string& value) {
  wxWindow* window = Find(name);
  // ChangeValue: filling a control is no user edit and sends no change event.
  if (auto* text = wxDynamicCast(window, wxTextCtrl))
    text->ChangeValue(FromUtf8(value));
  else if (auto* combo = wxDynamicCast(window, wxComboBox))
    combo->ChangeValue(FromUtf8(value));
  else if (window)
    window->SetLabel(FromUtf8(value));
}

int WxDialogControls::GetValue(std::string_view name) {
  wxWindow* window = Find(name);
  if (auto* check = wxDynamicCast(window, wxCheckBox)) return check->GetValue() ? 1 : 0;
  if (auto* slider = wxDynamicCast(window, wxSlider)) return slider->GetValue();
  if (auto* spin = wxDynamicCast(window, wxSpinCtrl)) return spin->GetValue();
  if (auto* choice = wxDynamicCast(window, wxChoice)) return choice->GetSelection();
  if (auto* list = wxDynamicCast(window, wxListBox)) return list->GetSelection();
  if (auto* combo = wxDynamicCast(window, wxComboBox)) return combo->GetSelection();
  wxFAIL_MSG("no value control");
  return 0;
}

void WxDialogControls::SetValue(std::string_view name, int value) {
  wxWindow* window = Find(name);
  if (auto* check = wxDynamicCast(window, wxCheckBox))
    check->SetValue(value != 0);
  else if (auto* slider = wxDynamicCast(window, wxSlider))
    slider->SetValue(value);
  else if (auto* spin = wxDynamicCast(window, wxSpinCtrl))
    spin->SetValue(value);
  else if (auto* choice = wxDynamicCast(window, wxChoice))
    choice->SetSelection(value);
  else if (auto* list = wxDynamicCast(window, wxListBox))
    list->SetSelection(value);
  else if (auto* combo = wxDynamicCast(window, wxComboBox))
    combo->SetSelection(value);
  else
    wxFAIL_MSG("no value control");
}

void WxDialogControls::Enable(std::string_view name, bool enabled) {
  if (wxWindow* window = Find(name)) window->Enable(enabled);
}

bool WxDialogControls::IsEnabled(std::string_view name) {
  wxWindow* window = Find(name);
  return window && window->IsThisEnabled();
}

void WxDialogControls::SetFocus(std::string_view name) {
  if (wxWindow* window = Find(name)) {
    window->SetFocus();
    if (auto* text = wxDynamicCast(window, wxTextCtrl)) text->SelectAll();
  }
}

void WxDialogControls::ShowMessage(const std::string& text) { ShowBox(m_root, text, BoxKind::Warning); }

void WxDialogControls::ShowInformation(const std::string& text) { ShowBox(m_root, text, BoxKind::Info); }

void WxDialogControls::SetItems(std::string_view name, const std::vector<std::string>& items) {
  wxArrayString lines;
  for (const std::string& item : items) lines.Add(FromUtf8(item));
  wxWindow* window = Find(name);
  if (auto* list = wxDynamicCast(window, wxListBox)) {
    list->Set(lines);
  } else if (auto* combo = wxDynamicCast(window, wxComboBox)) {
    // Replacing the list must not change what the box shows, nor send a change event.
    // The box's own Clear would empty its text with an event; the container's clears the list.
    const wxString text = combo->GetValue();
    combo->wxItemContainer::Clear();
    combo->Append(lines);
    combo->ChangeValue(text);
  } else {
    wxFAIL_MSG("no list control");
  }
}

void WxDialogControls::Show(std::string_view name, bool shown) {
  if (wxWindow* window = Find(name)) {
    window->Show(shown);
    m_root.Layout();
  }
}

ModelDialog::ModelDialog(wxWindow* parent, const wxString& title, DialogModel& model, long style)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxDefaultSize, style), m_model(model), m_controls(*this) {
  m_model.AttachControls(&m_controls);
  Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent&) {
    if (!m_model.OnInitDialog()) return;  // the model has put the focus itself
    if (!m_focusFirstControl) return;
    // True: the first control that takes the focus has it (not the default button).
    if (wxWindow* first = FirstFocusable(this)) first->SetFocus();
  });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
    if (event.GetId() != wxID_OK) {
      event.Skip();
      return;
    }
    if (m_model.OnOK()) EndModal(wxID_OK);
  });
}

ModelDialog::~ModelDialog() { m_model.AttachControls(nullptr); }

wxWindow* ModelDialog::FirstFocusable(wxWindow* parent) {
  for (wxWindow* child : parent->GetChildren()) {
    if (child->IsTopLevel() || !child->IsShown() || !child->IsEnabled()) continue;
    if (child->AcceptsFocus()) return child;
    if (wxWindow* inner = FirstFocusable(child)) return inner;
  }
  return nullptr;
}

ModelPage::ModelPage(wxWindow* parent, DialogModel& model) : wxPanel(parent), m_model(model), m_controls(*this) {}

ModelPage::~ModelPage() {
  if (m_model.Controls() == &m_controls) m_model.AttachControls(nullptr);
}

void ModelPage::EnsureStarted() {
  if (m_shown) return;
  m_shown = true;
  m_model.AttachControls(&m_controls);
  m_model.OnInitDialog();
}
