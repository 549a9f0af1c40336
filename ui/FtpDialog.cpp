#include "ui/FtpDialog.h"

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/FtpDialogModel.h"
#include "ui/DialogView.h"

namespace {

class FtpDialogView : public ModelDialog {
 public:
  explicit FtpDialogView(wxWindow* parent, FtpDialogModel& model)
      : ModelDialog(parent, "Remote Orphan Check: Ftp Parameters", model) {
    SetName("ftpDialog");
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* root = new wxStaticText(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxST_ELLIPSIZE_MIDDLE);
    root->SetName("root");
    top->Add(root, 0, wxEXPAND | wxALL, 10);
    auto* grid = new wxFlexGridSizer(3, 6, 8);
    grid->AddGrowableCol(1);
    auto field = [this, grid](const char* label, const char* name, long style, const char* hint) {
      auto* edit = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxSize(220, -1), style);
      edit->SetName(name);
      grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
      grid->Add(edit, 1, wxEXPAND);
      grid->Add(new wxStaticText(this, wxID_ANY, hint), 0, wxALIGN_CENTER_VERTICAL);
    };
    field("ftp host:", "host", 0, "");
    field("ftp user:", "user", 0, "");
    field("ftp password:", "password", wxTE_PASSWORD, "");
    field("ftp directory:", "dir", 0, "");
    field("default page:", "defaultPage", 0, "(e.g. index.html)");
    top->Add(grid, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);
    auto* passive = new wxCheckBox(this, wxID_ANY, "use passive mode (for some firewalls)");
    passive->SetName("passive");
    top->Add(passive, 0, wxALL, 10);
    for (const char* text :
         {"Wexo's Link Tolvak will access your ftp site to check for orphan files. The input from this dialog box "
          "will not be used for anything else than accessing the site and reading the directories.",
          "If you feel uncomfortable anyway, simply press CANCEL to continue with the report."}) {
      auto* note = new wxStaticText(this, wxID_ANY, text);
      note->Wrap(FromDIP(420));
      top->Add(note, 0, wxLEFT | wxRIGHT | wxBOTTOM, 10);
    }
    top->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(top);
  }
};

}  // namespace

bool ShowFtpDialog(wxWindow* parent, FtpDialogModel& model) {
  FtpDialogView dialog(parent, model);
  return dialog.ShowModal() == wxID_OK;
}
