// The tips dialog's window: a white box with the heading and the tip, the start-up check box,
// "&Next tip" and "Close".
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "ui/DialogView.h"
#include "ui/TipDlg.h"

namespace {

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
    auto* tip = new wxTextCtrl(box, wxID_ANY, wxString(), wxDefaultPosition, wxSize(420, 170),
                               wxTE_MULTILINE | wxTE_READONLY | wxTE_NO_VSCROLL | wxBORDER_NONE);
    tip->SetName("tip");
    tip->SetBackgroundColour(*wxWHITE);
    inside->Add(tip, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 12);
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
    // Escape and the window's close button end the dialog without writing anything.
    SetEscapeId(wxID_CANCEL);
    next->Bind(wxEVT_BUTTON, [&model](wxCommandEvent&) { model.OnNextTip(); });
  }
};

}  // namespace

void ShowTipDialog(wxWindow* parent, CTipDlg& dialog) {
  TipDialogView view(parent, dialog);
  view.ShowModal();
}
