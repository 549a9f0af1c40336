#include "ui/LPropDlg.h"

#include <cstdint>
#include <cstdio>

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/LinkInfo.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/CodePage.h"
#include "report/BrowserLaunch.h"
#include "ui/MainFrame.h"
#include "ui/WexoApplication.h"
#include "ui/WxText.h"

namespace {

// What MultiByteToWideChar reports for a code page it does not know.
constexpr int kErrorInvalidParameter = 87;

std::string ConversionError(unsigned cp) {
  char text[96];
  std::snprintf(text, sizeof text, "Error in MultiByteToWideChar(), CP = %d, GetLastError() = %d", static_cast<int>(cp),
                kErrorInvalidParameter);
  return text;
}

// Text in the system's 8-bit code page, as UTF-8.
std::string FromAnsi(const std::string& text) {
  return ConvertCodePage(text, platform::kCpWindows1252, platform::kCpUtf8);
}

// The title with its character references replaced, as UTF-8.
std::string TitleText(const CLinkInfo& link, unsigned cp) {
  std::string title = link.m_csTitle;
  if (cp == 0) {
    DecodeEntities(title, 0);
    return FromAnsi(title);
  }
  std::u16string wide;
  if (!platform::MultiByteToWide(cp, title, wide)) return ConversionError(cp);
  DecodeEntitiesW(wide);
  std::string text;
  platform::WideToMultiByte(platform::kCpUtf8, wide, text);
  return text;
}

std::string UrlText(const CLinkInfo& link, unsigned cp) {
  const std::string url = DecodePercentEscapes(link.GetUrl());
  if ((cp == 0 || cp == platform::kCpWindows1252) && url.compare(0, 7, "file://") != 0) return FromAnsi(url);
  return url;
}

std::string CountText(unsigned count, const char* none, const char* one, const char* many) {
  if (count == 0) return none;
  if (count == 1) return one;
  char text[64];
  std::snprintf(text, sizeof text, many, count);
  return text;
}

wxStaticText* Label(wxWindow* parent, const char* text) { return new wxStaticText(parent, wxID_ANY, text); }

// A count label: as wide as the window, so its longer texts fit.
wxStaticText* CountLabel(wxWindow* parent, const char* text, const char* name) {
  auto* label = new wxStaticText(parent, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
  label->SetName(name);
  return label;
}

}  // namespace

std::string CLPropDlg::LinksOutLabel(unsigned count) {
  return CountText(count, "No links on this page", "1 link on this page:", "%u links on this page:");
}

std::string CLPropDlg::LinksInLabel(unsigned count) {
  return CountText(count, "No pages linking to this one",
                   "1 page linking to this one:", "%u pages linking to this one:");
}

CLPropDlg::CLPropDlg(wxWindow* parent) : CResizeDialog(parent, "URL Properties", 0) {
  auto edit = [this](const char* name) {
    auto* text = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxSize(480, -1), wxTE_READONLY);
    text->SetName(name);
    return text;
  };
  auto list = [this](const char* name) {
    auto* box = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(560, 110), 0, nullptr,
                              wxLB_SINGLE | wxLB_SORT | wxLB_NEEDED_SB | wxLB_HSCROLL);
    box->SetName(name);
    box->Bind(wxEVT_LISTBOX_DCLICK, &CLPropDlg::OnDblclkList, this);
    return box;
  };
  auto* close = new wxButton(this, wxID_CANCEL, "Close");
  close->SetName("close");
  auto* top = new wxBoxSizer(wxVERTICAL);
  top->Add(Label(this, "Page URL:"), 0, wxLEFT | wxRIGHT | wxTOP, 8);
  auto* urlRow = new wxBoxSizer(wxHORIZONTAL);
  urlRow->Add(edit("url"), 1, wxALIGN_CENTER_VERTICAL);
  urlRow->Add(close, 0, wxLEFT, 8);
  top->Add(urlRow, 0, wxEXPAND | wxALL, 8);
  top->Add(Label(this, "Title or link text:"), 0, wxLEFT | wxRIGHT, 8);
  top->Add(edit("title"), 0, wxEXPAND | wxALL, 8);
  top->Add(CountLabel(this, "Links on this page:", "linksLabel"), 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  top->Add(m_lbLinks = list("links"), 1, wxEXPAND | wxALL, 8);
  top->Add(CountLabel(this, "Pages linking to this one:", "referrersLabel"), 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  top->Add(m_lbReferrers = list("referrers"), 1, wxEXPAND | wxALL, 8);
  SetSizer(top);
  SetEscapeId(wxID_CANCEL);
  close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCancel(); });
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER)
      OnOK();
    else
      e.Skip();
  });
  OnInitDialog();
  Show();
}

bool CLPropDlg::OnInitDialog() {
  CResizeDialog::OnInitDialog();
  CResize& layout = GetResize();
  layout.AddItem("close", 1, 0, 1, 0);
  layout.AddItem("url", 0, 0, 1, 0);
  layout.AddItem("title", 0, 0, 1, 0);
  layout.AddItem("links", 0, 0, 1, 0.5f);
  layout.AddItem("referrers", 0, 0.5f, 1, 1);
  layout.AddItem("referrersLabel", 0, 0.5f, 0, 0.5f);
  RestoreWindowPlacement(layout, kSection);
  return true;
}

void CLPropDlg::ShowLink(const CWexoDoc& doc, const CLinkInfo& link) {
  m_pDoc = &doc;
  const unsigned cp = link.GetCodePage();
  static_cast<wxTextCtrl*>(FindWindow("title"))->ChangeValue(FromUtf8(TitleText(link, cp)));
  m_csUrl = UrlText(link, cp);
  static_cast<wxTextCtrl*>(FindWindow("url"))->ChangeValue(FromUtf8(m_csUrl));

  // The lists sort their lines; each line keeps its record's index (plus one: 0 is none).
  m_lbLinks->Clear();
  m_lbReferrers->Clear();
  wxArrayString lines;
  std::vector<void*> records;
  auto fill = [&](wxListBox* box) {
    if (!lines.empty()) box->Append(lines, records.data());
    lines.clear();
    records.clear();
  };
  auto add = [&](std::uint32_t index) {
    if (index >= doc.GetLinkCount()) return;
    lines.push_back(FromUtf8(doc.GetUrl(index)));
    records.push_back(reinterpret_cast<void*>(static_cast<std::uintptr_t>(index) + 1));
  };
  for (std::uint32_t target : doc.GetTargets(link)) add(target);
  fill(m_lbLinks);
  for (std::uint32_t referrer : link.m_dwaReferrers) add(referrer);
  fill(m_lbReferrers);

  FindWindow("linksLabel")->SetLabel(LinksOutLabel(link.GetLinksOutCount()));
  FindWindow("referrersLabel")->SetLabel(LinksInLabel(link.GetLinksInCount()));
}

void CLPropDlg::Clear() {
  m_pDoc = nullptr;
  m_csUrl.clear();
  static_cast<wxTextCtrl*>(FindWindow("url"))->ChangeValue(wxString());
  static_cast<wxTextCtrl*>(FindWindow("title"))->ChangeValue(wxString());
  m_lbLinks->Clear();
  m_lbReferrers->Clear();
  FindWindow("linksLabel")->SetLabel("Links on this page:");
  FindWindow("referrersLabel")->SetLabel("Pages linking to this one:");
}

void CLPropDlg::OnOK() { SaveWindowPlacement(GetResize(), kSection); }

void CLPropDlg::OnCancel() {
  SaveWindowPlacement(GetResize(), kSection);
  if (auto* frame = dynamic_cast<CMainFrame*>(GetParent()); frame && frame->m_pUrlPropertiesDlg == this)
    frame->DestroyUrlPropertiesDialog();
  else
    Destroy();
}

void CLPropDlg::OnDblclkList(wxCommandEvent& event) {
  auto* box = static_cast<wxListBox*>(event.GetEventObject());
  const int selection = box->GetSelection();
  if (selection == wxNOT_FOUND) return;
  const auto data = reinterpret_cast<std::uintptr_t>(box->GetClientData(static_cast<unsigned>(selection)));
  if (!data || !m_pDoc || data - 1 >= m_pDoc->GetLinkCount()) return;
  const CLinkInfo* record = m_pDoc->GetLink(data - 1);
  vLaunchURL(wxGetApp().Values(), wxGetApp().Host(), record->GetUrl(), record->GetCodePage());
}
