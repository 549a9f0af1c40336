#include "ui/NewUrlDialog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/listbox.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/Application.h"
#include "engine/CheckSettings.h"
#include "engine/Url.h"
#include "engine/WexoDoc.h"
#include "platform/FileUrl.h"
#include "ui/DialogView.h"
#include "ui/EMailDialog.h"
#include "ui/MainFrame.h"
#include "ui/OptionSheet.h"
#include "ui/WexoApplication.h"

namespace {

constexpr std::size_t kRecentUrlsSaved = 100;
constexpr const char* kActive = " \t";
constexpr const char* kInactive = "!\t";
constexpr const char* kPleaseInputUrl = "Please input an URL";
constexpr const char* kLoadProfileQuestion =
    "You have entered an URL for which Wexo has remember the settings from a previous session. Do you want to load "
    "these settings, thus losing the changes you just made ?";

std::string Numbered(const char* name, int n) {
  char key[32];
  std::snprintf(key, sizeof key, "%s%d", name, n);
  return key;
}

bool HasKnownScheme(const std::string& url) {
  for (const char* prefix : {"http://", "ftp://", "file://", "mailto:", "gopher://", "news:", "https://"})
    if (url.starts_with(prefix)) return true;
  return false;
}

std::string Prefix(const std::string& line) { return line.size() > 2 ? line.substr(2) : std::string(); }
bool IsInactive(const std::string& line) { return !line.empty() && line[0] == '!'; }

}  // namespace

// ---- The model

CNewUrlDialog2::CNewUrlDialog2(CWexoDoc& doc, std::vector<std::string>& recentUrls)
    : m_bCheckExternal(doc.App().GetProfileInt("Options", "CheckExternal", 1)),
      m_pJobDoc(&doc),
      m_app(doc.App()),
      m_saRecentUrls(recentUrls) {}

void CNewUrlDialog2::DoDataExchange(DataExchange& dx) {
  dx.Text(m_include.edit, m_csIncludeEdit);
  dx.Text(m_exclude.edit, m_csExcludeEdit);
  dx.Text(kPostQuery, m_csPostQuery);
  dx.Text(kUrl, m_csStartUrl);
  dx.Value(kCheckExternal, m_bCheckExternal);
  dx.Value(kPost, m_bPost);
}

void CNewUrlDialog2::SetDepth(int depth) {
  CheckSettings settings = m_pJobDoc->Settings();
  settings.MaxLevel = ToInt16Saturated(depth);
  m_pJobDoc->SetSettings(std::move(settings));
}

bool CNewUrlDialog2::OnInitDialog() {
  UpdateData(false);
  IDialogControls& c = *Controls();
  c.Show(kPost, true);
  c.Show(kPostQuery, false);
  c.Show(kPostQueryLabel, false);
  c.SetFocus(kUrl);
  for (const PrefixList* list : {&m_include, &m_exclude}) {
    c.Enable(list->remove, false);
    c.Enable(list->inactive, false);
  }
  m_urlItems = m_saRecentUrls;
  c.SetItems(kUrl, m_urlItems);
  LoadList(m_include, m_include.section);
  LoadList(m_exclude, m_exclude.section);
  SetDepth(m_app.GetProfileInt("Options", "MaxLevel", 9999));
  m_mail = ReadMailSettings(m_app, "Options");
  return false;  // the focus is on the URL box
}

void CNewUrlDialog2::ShowLines(const PrefixList& list) { Controls()->SetItems(list.list, list.lines); }

void CNewUrlDialog2::LoadList(PrefixList& list, const std::string& section) {
  list.lines.clear();
  for (int n = 1;; ++n) {
    const std::string value = m_app.GetProfileString(section.c_str(), Numbered("String", n).c_str(), "");
    if (value.empty()) break;
    // An entry without its Enable key is inactive.
    const bool active = m_app.GetProfileInt(section.c_str(), Numbered("Enable", n).c_str(), 0) != 0;
    list.lines.push_back((active ? kActive : kInactive) + value);
  }
  ShowLines(list);
}

void CNewUrlDialog2::LoadUrlProfile(const std::string& url) {
  const std::string options = url + "-Options";
  if (m_app.GetProfileInt(options.c_str(), "Profile", 0) == 0) return;
  if (m_bListsModified) {
    if (m_pJobDoc->Host().MessageBox(kLoadProfileQuestion, BoxKind::QuestionDefaultNo) != BoxAnswer::Yes) return;
    m_bListsModified = 0;
  }
  IDialogControls& c = *Controls();
  for (PrefixList* list : {&m_include, &m_exclude}) {
    c.SetValue(list->inactive, 0);
    c.Enable(list->inactive, false);
    c.Enable(list->remove, false);
    LoadList(*list, url + "-" + list->section);
  }
  m_bCheckExternal = m_app.GetProfileInt(options.c_str(), "CheckExternal", 1);
  c.SetValue(kCheckExternal, m_bCheckExternal);
  SetDepth(m_app.GetProfileInt(options.c_str(), "MaxLevel", m_app.GetProfileInt("Options", "MaxLevel", 9999)));
  m_mail = ReadMailSettings(m_app, options);
}

void CNewUrlDialog2::AddEntry(PrefixList& list) {
  if (!UpdateData(true)) return;
  std::string& text = &list == &m_include ? m_csIncludeEdit : m_csExcludeEdit;
  IDialogControls& c = *Controls();
  if (text.empty()) {
    FailOn(list.edit, kPleaseInputUrl);
    return;
  }
  CanonicalizeUrl(text, m_app.GetProfileInt("Options", "MakeLowerCase", 0) != 0, 0);
  list.lines.push_back(kActive + text);
  ShowLines(list);
  c.SetValue(list.list, static_cast<int>(list.lines.size()) - 1);
  c.Enable(list.inactive, true);
  c.SetValue(list.inactive, 0);
  c.Enable(list.remove, true);
  text.clear();
  c.SetFocus(list.edit);
  m_bListsModified = 1;
  UpdateData(false);
}

void CNewUrlDialog2::DeleteEntry(PrefixList& list) {
  IDialogControls& c = *Controls();
  const int selected = c.GetValue(list.list);
  if (selected >= 0 && selected < static_cast<int>(list.lines.size())) {
    list.lines.erase(list.lines.begin() + selected);
    ShowLines(list);
  }
  c.Enable(list.remove, false);
  c.Enable(list.inactive, false);
  m_bListsModified = 1;
}

void CNewUrlDialog2::FollowSelection(PrefixList& list) {
  IDialogControls& c = *Controls();
  const int selected = c.GetValue(list.list);
  const bool any = selected >= 0 && selected < static_cast<int>(list.lines.size());
  c.Enable(list.remove, any);
  c.Enable(list.inactive, any);
  c.SetValue(list.inactive, any && IsInactive(list.lines[selected]) ? 1 : 0);
}

void CNewUrlDialog2::ToggleEntry(PrefixList& list) {
  IDialogControls& c = *Controls();
  const int selected = c.GetValue(list.list);
  if (selected < 0 || selected >= static_cast<int>(list.lines.size())) return;
  std::string& line = list.lines[selected];
  line[0] = IsInactive(line) ? ' ' : '!';
  ShowLines(list);
  c.SetValue(list.list, selected);
  // The check box has changed itself; keep it with the marker whatever it was.
  c.SetValue(list.inactive, IsInactive(line) ? 1 : 0);
  m_bListsModified = 1;
}

void CNewUrlDialog2::OnEditchangeUrl() { LoadUrlProfile(Controls()->GetText(kUrl)); }

void CNewUrlDialog2::OnSelchangeUrl() {
  const int selected = Controls()->GetValue(kUrl);
  if (selected < 0 || selected >= static_cast<int>(m_urlItems.size())) return;
  LoadUrlProfile(m_urlItems[selected]);
}

void CNewUrlDialog2::OnPostClicked() {
  if (!UpdateData(true)) return;
  IDialogControls& c = *Controls();
  c.Show(kPostQuery, m_bPost != 0);
  c.Show(kPostQueryLabel, m_bPost != 0);
  if (m_bPost) c.SetFocus(kPostQuery);
}

void CNewUrlDialog2::OnLocalFile() {
  if (!UpdateData(true)) return;
  // The folder to start in goes in; the chosen file comes out.
  std::string path = m_app.GetProfileString("Options", "BrowseDir", "");
  if (!m_pJobDoc->Host().FileOpenDialog("Open HTML file", "*.htm", "HTML Files|*.htm;*.html|All Files (*.*)|*.*|",
                                        path))
    return;
  m_csStartUrl = platform::FileUrlFromPath(path);
  const std::size_t slash = path.rfind('/');
  m_app.WriteProfileString("Options", "BrowseDir", slash == std::string::npos ? "" : path.substr(0, slash).c_str());
  Controls()->SetFocus(kOk);
  UpdateData(false);
}

void CNewUrlDialog2::OnMoreOptions() {
  if (m_runOptionSheet) m_runOptionSheet();
}

void CNewUrlDialog2::OnEmail() {
  if (!UpdateData(true)) return;
  if (m_csStartUrl.empty()) {
    FailOn(kUrl, "Please enter an URL first!");
    return;
  }
  CEMailDlg dialog(m_app);
  dialog.m_mail = m_mail;
  if (!m_runEMailDialog || !m_runEMailDialog(dialog)) return;
  m_mail = dialog.m_mail;
  m_bListsModified = 1;
}

void CNewUrlDialog2::SaveList(const PrefixList& list, const std::string& section,
                              std::vector<std::string>* active) const {
  const char* name = section.c_str();
  // Clear the numbers the section holds now, so none of a longer old list reads back.
  for (int n = 1; !m_app.GetProfileString(name, Numbered("String", n).c_str(), "").empty(); ++n)
    m_app.WriteProfileString(name, Numbered("String", n).c_str(), "");
  for (std::size_t i = 0; i < list.lines.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    const std::string prefix = Prefix(list.lines[i]);
    const bool enabled = !IsInactive(list.lines[i]);
    if (enabled && active) active->push_back(prefix);
    m_app.WriteProfileString(name, Numbered("String", n).c_str(), prefix.c_str());
    m_app.WriteProfileInt(name, Numbered("Enable", n).c_str(), enabled ? 1 : 0);
  }
}

bool CNewUrlDialog2::OnOK() {
  if (!UpdateData(true)) return false;
  if (m_csStartUrl.empty()) {
    FailOn(kUrl, kPleaseInputUrl);
    return false;
  }
  if (!HasKnownScheme(m_csStartUrl)) {
    m_csStartUrl = "http://" + m_csStartUrl;
    Controls()->SetText(kUrl, m_csStartUrl);
  }
  const std::string& url = m_csStartUrl;

  std::erase(m_saRecentUrls, url);
  m_saRecentUrls.insert(m_saRecentUrls.begin(), url);
  for (std::size_t i = 0; i < std::min(m_saRecentUrls.size(), kRecentUrlsSaved); ++i)
    m_app.WriteProfileString("Recent URL List", Numbered("URL", static_cast<int>(i)).c_str(),
                             m_saRecentUrls[i].c_str());

  const std::string options = url + "-Options";
  m_app.WriteProfileInt("Options", "CheckExternal", m_bCheckExternal);
  m_app.WriteProfileInt(options.c_str(), "CheckExternal", m_bCheckExternal);
  m_app.WriteProfileInt(options.c_str(), "Profile", 1);

  m_aInclude.clear();
  m_aExclude.clear();
  SaveList(m_include, m_include.section, &m_aInclude);
  SaveList(m_include, url + "-Include", nullptr);
  SaveList(m_exclude, m_exclude.section, &m_aExclude);
  SaveList(m_exclude, url + "-Exclude", nullptr);

  m_app.WriteProfileInt(options.c_str(), "MaxLevel", m_pJobDoc->Settings().MaxLevel);
  WriteMailSettings(m_app, options, m_mail);
  WriteMailSettings(m_app, "Options", m_mail);
  return true;
}

StartingPoint CNewUrlDialog2::Values() const {
  StartingPoint v;
  v.url = m_csStartUrl;
  v.checkExternal = m_bCheckExternal;
  v.include = m_aInclude;
  v.exclude = m_aExclude;
  v.mail = m_mail;
  v.post = m_bPost != 0;
  v.postQuery = m_csPostQuery;
  return v;
}

// ---- The window

namespace {

class NewUrlDialog : public ModelDialog {
 public:
  NewUrlDialog(wxWindow* parent, CNewUrlDialog2& model)
      : ModelDialog(parent, "Wexo's starting point", model, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER), m_model(model) {
    SetName("NewUrlDialog");
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(new wxStaticText(this, wxID_ANY,
                              "What address do you want to check?\n"
                              "Enter the root URL of the site, e.g. http://www.example.com/~user/ for a personal\n"
                              "home directory on a web server. All local pages linked from it are checked too.\n"
                              "Local files are checked the same way: choose one with \"Local file...\"."),
             0, wxALL, 8);

    auto* urlRow = new wxBoxSizer(wxHORIZONTAL);
    m_url = new wxComboBox(this, wxID_ANY, wxString(), wxDefaultPosition, wxSize(420, -1), 0, nullptr, wxCB_DROPDOWN);
    m_url->SetName(CNewUrlDialog2::kUrl);
    urlRow->Add(m_url, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    urlRow->Add(MakeButton("Local file...", "LocalFile", [this] { m_model.OnLocalFile(); }), 0);
    top->Add(urlRow, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);

    auto* external = new wxCheckBox(this, wxID_ANY, "Check external links");
    external->SetName(CNewUrlDialog2::kCheckExternal);
    top->Add(external, 0, wxALL, 8);
    auto* post = new wxCheckBox(this, wxID_ANY, "root URL is for a HTML FORM submitted with POST (read the FAQ!)");
    post->SetName(CNewUrlDialog2::kPost);
    post->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { m_model.OnPostClicked(); });
    top->Add(post, 0, wxLEFT | wxRIGHT, 8);
    auto* postRow = new wxBoxSizer(wxHORIZONTAL);
    auto* postLabel = new wxStaticText(this, wxID_ANY, "POST query string:");
    postLabel->SetName(CNewUrlDialog2::kPostQueryLabel);
    postRow->Add(postLabel, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    auto* postQuery = new wxTextCtrl(this, wxID_ANY);
    postQuery->SetName(CNewUrlDialog2::kPostQuery);
    postRow->Add(postQuery, 1);
    top->Add(postRow, 0, wxEXPAND | wxALL, 8);

    auto* group = new wxStaticBoxSizer(wxHORIZONTAL, this, "Include / Exclude:");
    group->Add(MakeList(
                   group->GetStaticBox(), "Consider URLs beginning with this as 'internal':", "Include",
                   [this] { m_model.OnAddInclude(); }, [this] { m_model.OnDeleteInclude(); },
                   [this] { m_model.OnSelchangeInclude(); }, [this] { m_model.OnInactiveInclude(); }),
               1, wxEXPAND | wxALL, 4);
    group->Add(MakeList(
                   group->GetStaticBox(), "Do not check any URLs beginning with this:", "Exclude",
                   [this] { m_model.OnAddExclude(); }, [this] { m_model.OnDeleteExclude(); },
                   [this] { m_model.OnSelchangeExclude(); }, [this] { m_model.OnInactiveExclude(); }),
               1, wxEXPAND | wxALL, 4);
    top->Add(group, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(MakeButton("More &options...", "MoreOptions", [this] { m_model.OnMoreOptions(); }), 0, wxRIGHT, 8);
    buttons->Add(MakeButton("e-&mail...", "EMail", [this] { m_model.OnEmail(); }), 0);
    buttons->AddStretchSpacer();
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetName(CNewUrlDialog2::kOk);
    ok->SetDefault();
    buttons->Add(ok, 0, wxRIGHT, 8);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0);
    top->Add(buttons, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);

    // Typing and choosing load the URL's profile; filling the box from the model sends neither.
    m_url->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
      // Choosing from the list changes the text too; the choice is handled once, below.
      const int selected = m_url->GetSelection();
      if (selected != wxNOT_FOUND && m_url->GetString(selected) == m_url->GetValue()) return;
      m_model.OnEditchangeUrl();
    });
    m_url->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { m_model.OnSelchangeUrl(); });
  }

 private:
  template <class F>
  wxButton* MakeButton(wxWindow* parent, const char* label, const char* name, F action) {
    auto* button = new wxButton(parent, wxID_ANY, label);
    button->SetName(name);
    button->Bind(wxEVT_BUTTON, [action](wxCommandEvent&) { action(); });
    return button;
  }
  template <class F>
  wxButton* MakeButton(const char* label, const char* name, F action) {
    return MakeButton(this, label, name, action);
  }

  // One list of the group: its label, the edit with Add and Delete, the lines, Inactive.
  template <class Add, class Delete, class Select, class Toggle>
  wxSizer* MakeList(wxWindow* box, const char* label, const std::string& which, Add add, Delete remove, Select select,
                    Toggle toggle) {
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(new wxStaticText(box, wxID_ANY, label), 0, wxBOTTOM, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    auto* edit = new wxTextCtrl(box, wxID_ANY);
    edit->SetName(which + "Edit");
    row->Add(edit, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    row->Add(MakeButton(box, "Add", (which + "Add").c_str(), add), 0, wxRIGHT, 4);
    row->Add(MakeButton(box, "Delete", (which + "Delete").c_str(), remove), 0);
    column->Add(row, 0, wxEXPAND | wxBOTTOM, 4);
    auto* lines = new wxListBox(box, wxID_ANY, wxDefaultPosition, wxSize(300, 140), 0, nullptr, wxLB_SINGLE);
    lines->SetName(which + "List");
    lines->Bind(wxEVT_LISTBOX, [select](wxCommandEvent&) { select(); });
    column->Add(lines, 1, wxEXPAND | wxBOTTOM, 4);
    auto* inactive = new wxCheckBox(box, wxID_ANY, "Inactive");
    inactive->SetName(which + "Inactive");
    inactive->Bind(wxEVT_CHECKBOX, [toggle](wxCommandEvent&) { toggle(); });
    column->Add(inactive, 0);
    return column;
  }

  CNewUrlDialog2& m_model;
  wxComboBox* m_url = nullptr;
};

}  // namespace

bool ShowNewUrlDialog(wxWindow* parent, CNewUrlDialog2& model) {
  NewUrlDialog dialog(parent, model);
  model.m_runOptionSheet = [&dialog, &model] { ShowOptionSheet(&dialog, model.m_pJobDoc); };
  model.m_runEMailDialog = [&dialog](CEMailDlg& mail) { return ShowEMailDialog(&dialog, mail); };
  const bool ok = dialog.ShowModal() == wxID_OK;
  model.m_runOptionSheet = nullptr;
  model.m_runEMailDialog = nullptr;
  return ok;
}

bool WxHost::StartingPointDialog(CWexoDoc& doc, StartingPoint& values) {
  CMainFrame* frame = wxGetApp().Frame();
  if (!frame || QuitRequested()) return false;
  CNewUrlDialog2 model(doc, frame->m_saRecentUrls);
  if (!ShowNewUrlDialog(frame, model)) return false;
  values = model.Values();
  return true;
}
