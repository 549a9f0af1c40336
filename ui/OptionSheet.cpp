#include "ui/OptionSheet.h"

#include <algorithm>
#include <utility>
#include <variant>

#include <wx/bookctrl.h>
#include <wx/checkbox.h>
#include <wx/propdlg.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/valtext.h>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/WexoDoc.h"
#include "ui/DialogView.h"
#include "ui/WexoApplication.h"
#include "ui/WexoView.h"

namespace {

using S = CheckSettings;

const SettingField& Field(const char* key) {
  const SettingField* field = FindSettingField(key);
  wxASSERT_MSG(field != nullptr, key);
  return *field;
}

bool IsShort(const SettingField& field) { return std::holds_alternative<std::int16_t S::*>(field.member); }

int FromDocument(const CWexoDoc& doc, const SettingField& field) {
  return std::visit(SettingVisitor{
                        [&](std::int32_t S::*m) { return static_cast<int>(doc.Settings().*m); },
                        [&](std::int16_t S::*m) { return static_cast<int>(doc.Settings().*m); },
                        [](std::string S::*) { return 0; },
                    },
                    field.member);
}

// A 16-bit copy keeps the low 16 bits.
void IntoSettings(CheckSettings& settings, const SettingField& field, int value) {
  std::visit(SettingVisitor{
                 [&](std::int32_t S::*m) { settings.*m = value; },
                 [&](std::int16_t S::*m) { settings.*m = static_cast<std::int16_t>(value); },
                 [](std::string S::*) {},
             },
             field.member);
}

}  // namespace

bool COptionPage::OnInitDialog() {
  m_bAllJobs = 1;
  for (const OptionValue& v : Values()) {
    const SettingField& field = Field(v.key);
    if (m_pDoc != nullptr) {
      *v.value = FromDocument(*m_pDoc, field);
    } else {
      const int read = ReadSettingInt(m_app, "Options", field);
      *v.value = IsShort(field) && !v.wide ? static_cast<std::int16_t>(read) : read;
    }
  }
  DialogModel::OnInitDialog();
  if (m_pDoc == nullptr && Controls() != nullptr) Controls()->Enable(kAllJobs, false);
  return true;
}

bool COptionPage::OnOK() {
  if (!UpdateData(true)) return false;
  const std::vector<OptionValue> values = Values();
  auto store = [&](CWexoDoc& doc) {
    CheckSettings settings = doc.Settings();
    for (const OptionValue& v : values) IntoSettings(settings, Field(v.key), *v.value);
    doc.SetSettings(std::move(settings));
    doc.SetModifiedFlag(true);
  };
  if (!m_bAllJobs && m_pDoc != nullptr) {
    store(*m_pDoc);
    return true;
  }
  std::vector<CWexoDoc*> documents = m_documents ? m_documents() : std::vector<CWexoDoc*>();
  // A new job's document may not be among the open ones yet; it changes all the same.
  if (m_pDoc != nullptr && std::find(documents.begin(), documents.end(), m_pDoc) == documents.end())
    documents.push_back(m_pDoc);
  for (CWexoDoc* doc : documents) store(*doc);
  for (const OptionValue& v : values) m_app.WriteProfileInt("Options", v.key, *v.value);
  return true;
}

void COptionPage::ExchangeFlags(DataExchange& dx, std::initializer_list<const char*> others) {
  for (const OptionValue& v : Values())
    if (std::none_of(others.begin(), others.end(), [&](const char* o) { return std::string_view(o) == v.key; }))
      dx.Value(v.key, *v.value);
}

std::vector<COptionPage::OptionValue> COptionPage1::Values() {
  return {
      {kThreads, &m_nThreads, true},
      {"AskPassword", &m_bAskPassword},
      {"RedirectIsError", &m_bRedirectIsError},
      {"ReportBroken1", &m_bReportBroken1},
      {"ReportBroken2", &m_bReportBroken2},
      {"ReportBrokenLocal", &m_bReportBrokenLocal},
      {"ReportFtpGopher", &m_bReportFtpGopher},
      {"ReportRedir", &m_bReportRedir},
      {"ReportValid", &m_bReportValid},
      {"SiteMap", &m_bSiteMap},
      {kMaxLevel, &m_nMaxLevel, true},
      {"ReportStatistics", &m_bReportStatistics},
      {"ReportOrphans", &m_bReportOrphans},
  };
}

void COptionPage1::DoDataExchange(DataExchange& dx) {
  dx.Value(kThreads, m_nThreads);
  dx.Value(kAllJobs, m_bAllJobs);
  ExchangeFlags(dx, {kThreads, kMaxLevel});
  dx.Number(kMaxLevel, m_nMaxLevel);
  dx.MinMax(m_nMaxLevel, 0, 9999);
}

bool COptionPage1::OnInitDialog() {
  COptionPage::OnInitDialog();
  if (Controls() == nullptr) return true;
  Controls()->SetText(kRangeMin, std::to_string(m_nRangeMin));
  Controls()->SetText(kRangeMax, std::to_string(m_nRangeMax));
  ShowPosition();
  return true;
}

void COptionPage1::ShowPosition() { Controls()->SetText(kCurrent, std::to_string(Controls()->GetValue(kThreads))); }

void COptionPage1::OnVScroll(bool tracking) {
  if (Controls() == nullptr) return;
  if (tracking) {
    if (!m_bTracking) m_csBeforeMove = Controls()->GetText(kCurrent);
    m_bTracking = true;
    ShowPosition();
    return;
  }
  const bool dragged = m_bTracking;
  m_bTracking = false;
  if (UpdateData(true))
    ShowPosition();
  else if (dragged)
    Controls()->SetText(kCurrent, m_csBeforeMove);
}

std::vector<COptionPage::OptionValue> COptionPage2::Values() {
  return {
      {"AllowCookies", &m_bAllowCookies},
      {"FailSimilarHosts", &m_bFailSimilarHosts},
      {"ExcludeMSO", &m_bExcludeMSO},
      {"AllowLocalFilesInRemoteCheck", &m_bAllowLocalFilesInRemoteCheck},
      {"ListLocalDirectories", &m_bListLocalDirectories},
      {"MakeLowerCase", &m_bMakeLowerCase},
      {kMaxRetry, &m_nMaxRetry},
  };
}

void COptionPage2::DoDataExchange(DataExchange& dx) {
  dx.Value(kAllJobs, m_bAllJobs);
  ExchangeFlags(dx, {kMaxRetry});
  auto retry = static_cast<std::int16_t>(m_nMaxRetry);
  dx.Number(kMaxRetry, retry);
  m_nMaxRetry = retry;
  dx.MinMax(m_nMaxRetry, 0, 10);
}

COptionSheet::COptionSheet(CWexoApp& app, CWexoDoc* doc, OpenDocuments documents)
    : m_page1(app, doc, documents), m_page2(app, doc, std::move(documents)) {}

DialogModel& COptionSheet::Page(int index) {
  if (index == 0) return m_page1;
  return m_page2;
}

void COptionSheet::PageShown(int index, IDialogControls& controls) {
  if (m_shown[index]) return;
  m_shown[index] = true;
  Page(index).AttachControls(&controls);
  Page(index).OnInitDialog();
}

bool COptionSheet::CanLeavePage(int index) { return !m_shown[index] || Page(index).UpdateData(true); }

bool COptionSheet::OnOK(int front) {
  if (!CanLeavePage(front)) return false;
  for (int i = 0; i < kPages; ++i)
    if (m_shown[i]) Page(i).OnOK();
  return true;
}

namespace {

struct CheckText {
  const char* name;
  const char* text;
};

// The report sections of the Basic page, in the order they are shown.
constexpr CheckText kReportChecks[] = {
    {"ReportBroken1", "Broken links, ordered by links"},
    {"ReportBroken2", "Broken links, ordered by page"},
    {"ReportBrokenLocal", "Broken local links"},
    {"ReportRedir", "Redirected URLs"},
    {"ReportFtpGopher", "Ftp and gopher URLs"},
    {"ReportValid", "Valid text URLs"},
    {"SiteMap", "Site Map"},
    {"ReportStatistics", "Statistics"},
    {"ReportOrphans", "Orphan files"},
};

constexpr CheckText kAdvancedChecks[] = {
    {"AllowCookies", "Allow Cookies (read FAQ first!!)"},
    {"FailSimilarHosts", "Fail all http and ftp URLs with same failed host"},
    {"ExcludeMSO", "Exclude MSO files"},
    {"AllowLocalFilesInRemoteCheck", "Allow local files in remote check"},
    {"ListLocalDirectories", "List local directories"},
    {"MakeLowerCase", "Convert internal URLs to lower case"},
};

wxWindow* Named(wxWindow* window, const char* name) {
  window->SetName(name);
  return window;
}

wxCheckBox* Check(wxWindow* parent, const char* name, const char* text) {
  auto* box = new wxCheckBox(parent, wxID_ANY, text);
  box->SetName(name);
  return box;
}

// A label and a digits-only edit on one row.
wxSizer* NumberRow(wxWindow* parent, const char* label, const char* name) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(parent, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  auto* edit = new wxTextCtrl(parent, wxID_ANY, wxString(), wxDefaultPosition, wxSize(parent->FromDIP(70), -1), 0,
                              wxTextValidator(wxFILTER_DIGITS));
  edit->SetName(name);
  row->Add(edit, 0, wxALIGN_CENTER_VERTICAL);
  return row;
}

ModelPage* BasicPage(wxWindow* book, COptionPage1& model) {
  auto* page = new ModelPage(book, model);
  page->SetName("Basic");
  auto* threads = new wxStaticBoxSizer(wxVERTICAL, page, "Parallel Threads");
  wxWindow* box = threads->GetStaticBox();
  // Wide enough for the group's caption.
  threads->SetMinSize(wxSize(box->GetTextExtent("Parallel Threads").x + page->FromDIP(24), -1));
  threads->Add(Named(new wxStaticText(box, wxID_ANY, ""), COptionPage1::kRangeMin), 0, wxALIGN_CENTER_HORIZONTAL);
  auto* slider = new wxSlider(box, wxID_ANY, model.m_nRangeMin, model.m_nRangeMin, model.m_nRangeMax, wxDefaultPosition,
                              wxSize(-1, page->FromDIP(170)), wxSL_VERTICAL | wxSL_LEFT);
  slider->SetName(COptionPage1::kThreads);
  slider->SetTickFreq(10);
  threads->Add(slider, 1, wxALIGN_CENTER_HORIZONTAL | wxTOP | wxBOTTOM, 4);
  threads->Add(Named(new wxStaticText(box, wxID_ANY, ""), COptionPage1::kRangeMax), 0, wxALIGN_CENTER_HORIZONTAL);
  auto* current = new wxBoxSizer(wxHORIZONTAL);
  current->Add(new wxStaticText(box, wxID_ANY, "Current:"), 0, wxRIGHT, 4);
  current->Add(Named(new wxStaticText(box, wxID_ANY, "000"), COptionPage1::kCurrent));
  threads->Add(current, 0, wxALIGN_CENTER_HORIZONTAL | wxTOP, 6);
  // While dragged the slider sends a stream of tracking events; the page's values are taken
  // once, when the move ends.
  slider->Bind(wxEVT_SCROLL_THUMBTRACK, [&model](wxScrollEvent&) { model.OnVScroll(true); });
  slider->Bind(wxEVT_SCROLL_CHANGED, [&model](wxScrollEvent&) { model.OnVScroll(false); });

  auto* right = new wxBoxSizer(wxVERTICAL);
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  auto* general = new wxBoxSizer(wxVERTICAL);
  general->Add(Check(page, "AskPassword", "Ask for password or certificate when needed"));
  general->Add(Check(page, "RedirectIsError", "Treat redirections as errors"), 0, wxTOP, 6);
  top->Add(general, 1);
  top->Add(Check(page, COptionPage::kAllJobs, "Apply to \nall jobs"), 0, wxLEFT, 12);
  right->Add(top, 0, wxEXPAND);
  auto* report = new wxStaticBoxSizer(wxVERTICAL, page, "Report");
  auto* grid = new wxGridSizer(2, 4, 12);
  for (const CheckText& c : kReportChecks) grid->Add(Check(report->GetStaticBox(), c.name, c.text));
  report->Add(grid, 0, wxALL, 4);
  right->Add(report, 0, wxEXPAND | wxTOP, 8);
  right->Add(NumberRow(page, "Maximum depth:", COptionPage1::kMaxLevel), 0, wxTOP, 10);

  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->Add(threads, 0, wxEXPAND | wxALL, 8);
  sizer->Add(right, 1, wxEXPAND | wxTOP | wxBOTTOM | wxRIGHT, 8);
  page->SetSizer(sizer);
  return page;
}

ModelPage* AdvancedPage(wxWindow* book, COptionPage2& model) {
  auto* page = new ModelPage(book, model);
  page->SetName("Advanced");
  auto* checks = new wxBoxSizer(wxVERTICAL);
  for (const CheckText& c : kAdvancedChecks) checks->Add(Check(page, c.name, c.text), 0, wxBOTTOM, 6);
  checks->Add(NumberRow(page, "Retries:", COptionPage2::kMaxRetry), 0, wxTOP, 6);
  auto* sizer = new wxBoxSizer(wxHORIZONTAL);
  sizer->Add(checks, 1, wxALL, 8);
  sizer->Add(Check(page, COptionPage::kAllJobs, "Apply to \nall jobs"), 0, wxALL, 8);
  page->SetSizer(sizer);
  return page;
}

class OptionSheetDialog : public wxPropertySheetDialog {
 public:
  OptionSheetDialog(wxWindow* parent, COptionSheet& sheet) : m_sheet(sheet) {
    Create(parent, wxID_ANY, "Options");
    SetName("OptionSheet");
    // Only OK and Cancel: there is no Apply or Help here.
    CreateButtons(wxOK | wxCANCEL);
    wxBookCtrlBase* book = GetBookCtrl();
    m_pages[0] = BasicPage(book, sheet.m_page1);
    m_pages[1] = AdvancedPage(book, sheet.m_page2);
    book->AddPage(m_pages[0], "Basic", true);
    book->AddPage(m_pages[1], "Advanced");
    LayoutDialog();

    Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent& e) {
      m_sheet.PageShown(0, m_pages[0]->Controls());
      e.Skip();
    });
    book->Bind(wxEVT_BOOKCTRL_PAGE_CHANGING, [this, book](wxBookCtrlEvent& e) {
      const int from = e.GetOldSelection();
      if (from == wxNOT_FOUND || m_sheet.CanLeavePage(from)) return;
      e.Veto();
      // GTK may switch the page all the same (without a changed event): put it back.
      CallAfter([book, from] {
        if (book->GetSelection() != from) book->ChangeSelection(from);
      });
    });
    book->Bind(wxEVT_BOOKCTRL_PAGE_CHANGED, [this](wxBookCtrlEvent& e) {
      const int to = e.GetSelection();
      if (to >= 0 && to < COptionSheet::kPages) m_sheet.PageShown(to, m_pages[to]->Controls());
    });
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
          if (m_sheet.OnOK(GetBookCtrl()->GetSelection())) EndModal(wxID_OK);
        },
        wxID_OK);
  }

 private:
  COptionSheet& m_sheet;
  ModelPage* m_pages[COptionSheet::kPages] = {};
};

}  // namespace

void ShowOptionSheet(wxWindow* parent, CWexoDoc* doc) {
  WexoApplication& app = wxGetApp();
  COptionSheet sheet(app.Values(), doc, [&app] {
    std::vector<CWexoDoc*> documents;
    if (app.DocManager() != nullptr)
      for (WexoDocument* document : app.DocManager()->Documents()) documents.push_back(&document->Engine());
    return documents;
  });
  OptionSheetDialog dialog(parent, sheet);
  dialog.ShowModal();
}
