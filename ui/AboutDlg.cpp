#include "ui/AboutDlg.h"

#include <filesystem>

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "platform/FileUrl.h"
#include "report/BrowserLaunch.h"
#include "ui/TipDlg.h"
#include "ui/WexoApplication.h"
#include "ui/WxText.h"

namespace fs = std::filesystem;

std::string InstalledReadmePath() {
  const fs::path folder = ProgramFolder();
  const fs::path installed = folder.parent_path() / "share/doc/wexo/README.md";
  std::error_code error;
  if (fs::is_regular_file(installed, error)) return installed.lexically_normal().string();
  return (folder / "README.md").string();
}

void ShowAboutDialog(wxWindow* parent) {
  wxDialog dialog(parent, wxID_ANY, "About Wexo");
  dialog.SetName("aboutDialog");
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* body = new wxBoxSizer(wxHORIZONTAL);
  body->Add(new wxStaticBitmap(&dialog, wxID_ANY, wxArtProvider::GetBitmapBundle(wxART_INFORMATION, wxART_MESSAGE_BOX)),
            0, wxALL, 12);
  auto* texts = new wxBoxSizer(wxVERTICAL);
  auto* title = new wxStaticText(&dialog, wxID_ANY, wxString());
  title->SetName("title");
  title->SetLabelText(FromUtf8(WexoApplication::GetProductTitle()));
  texts->Add(title, 0, wxBOTTOM, 8);
  texts->Add(new wxStaticText(&dialog, wxID_ANY, "Checks the links of web sites, FTP servers and local folders."));
  body->Add(texts, 1, wxTOP | wxRIGHT, 12);
  auto* buttons = new wxBoxSizer(wxVERTICAL);
  auto* ok = new wxButton(&dialog, wxID_OK, "OK");
  ok->SetDefault();
  auto* faq = new wxButton(&dialog, wxID_ANY, "FAQ");
  faq->SetName("faq");
  buttons->Add(ok, 0, wxBOTTOM, 6);
  buttons->Add(faq);
  body->Add(buttons, 0, wxALL, 12);
  top->Add(body, 1, wxEXPAND);
  dialog.SetSizerAndFit(top);
  faq->Bind(wxEVT_BUTTON, [](wxCommandEvent&) {
    vLaunchURL(wxGetApp().Values(), wxGetApp().Host(), platform::FileUrlFromPath(InstalledReadmePath()), 0);
  });
  dialog.ShowModal();
}
