// The tips dialog's window: a white box with the heading and the tip, the start-up check box,
// "&Next tip" and "Close".
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "ui/DialogView.h"
#include "ui/TipDlg.h"

namespace {

// The tip: read-only text without a cursor, wrapped to the box, scrolled when it is longer.
class TipText : public wxStaticText {
 public:
  TipText(wxScrolledWindow* parent, int width) : wxStaticText(parent, wxID_ANY, wxString()), m_width(width) {
    SetName("tip");
  }
  void SetLabel(const wxString& text) override {
    // Wrapping sets the wrapped label through here again.
    if (m_wrapping) {
      wxStaticText::SetLabel(text);
      return;
    }
    // A tip is text as it stands: '&' is no mnemonic here.
    wxStaticText::SetLabel(EscapeMnemonics(text));
    m_wrapping = true;
    Wrap(m_width);
    m_wrapping = false;
    GetParent()->FitInside();
    static_cast<wxScrolledWindow*>(GetParent())->Scroll(0, 0);
  }

 private:
  int m_width;
  bool m_wrapping = false;
};

class TipDialogView : public ModelDialog {
 public:
  TipDialogView(wxWindow* parent, CTipDlg& model) : ModelDialog(parent, "Tips and Tricks", model) {
    SetName("tipDialog");
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* box = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN);
    box->SetBackgroundColour(*wxWHITE);
    auto* inside = new wxBoxSizer(wxVERTICAL);
    auto* heading = new wxBoxSizer(wxHORIZONTAL);
    heading->Add(new wxStaticBitmap(box, wxID_ANY, wxArtProvider::GetBitmapBundle(wxART_TIP, wxART_MESSAGE_BOX)), 0,
                 wxALL, 8);
    auto* did = new wxStaticText(box, wxID_ANY, "Did you know...");
    did->SetFont(did->GetFont().Bold().Larger());
    did->SetBackgroundColour(*wxWHITE);
    heading->Add(did, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    inside->Add(heading);
    auto* scroller = new wxScrolledWindow(box, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(420, 170)), wxVSCROLL);
    scroller->SetName("tipBox");
    scroller->SetBackgroundColour(*wxWHITE);
    scroller->SetScrollRate(0, FromDIP(10));
    scroller->ShowScrollbars(wxSHOW_SB_NEVER, wxSHOW_SB_ALWAYS);
    auto* tip = new TipText(scroller, FromDIP(390));
    tip->SetBackgroundColour(*wxWHITE);
    auto* scrolled = new wxBoxSizer(wxVERTICAL);
    scrolled->Add(tip, 0, wxALL, 2);
    scroller->SetSizer(scrolled);
    inside->Add(scroller, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    box->SetSizer(inside);
    top->Add(box, 1, wxEXPAND | wxALL, 10);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* startup = new wxCheckBox(this, wxID_ANY, "Show tips on startup");
    startup->SetName("startup");
    row->Add(startup, 1, wxALIGN_CENTER_VERTICAL);
    auto* next = new wxButton(this, wxID_ANY, "&Next tip");
    next->SetName("nextTip");
    row->Add(next, 0, wxRIGHT, 8);
    auto* close = new wxButton(this, wxID_OK, "Close");
    close->SetName("close");
    close->SetDefault();
    row->Add(close);
    top->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    SetSizerAndFit(top);
    // The focus stays on Close, the default button.
    m_focusFirstControl = false;
    close->SetFocus();
    // Escape and the window's close button end the dialog without writing anything (Close
    // writes the start-up setting). There is no Cancel button for Escape to press.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
      if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE)
        EndModal(wxID_CANCEL);
      else
        event.Skip();
    });
    next->Bind(wxEVT_BUTTON, [&model](wxCommandEvent&) { model.OnNextTip(); });
  }
};

}  // namespace

void ShowTipDialog(wxWindow* parent, CTipDlg& dialog) {
  TipDialogView view(parent, dialog);
  view.ShowModal();
}
