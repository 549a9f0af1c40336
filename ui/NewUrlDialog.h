// The starting-point dialog of a new check: the root URL with its recent list, the include and
// exclude prefixes, POST, the e-mail copy, and the per-URL profile that remembers them. The
// model runs without a display; ShowNewUrlDialog is its window.
//
// Profile sections: [Recent URL List] URL0..URL99; [Include] and [Exclude] (String%d and
// Enable%d from 1); per root URL, "<url>-Options", "<url>-Include" and "<url>-Exclude", named
// by the URL as it stands in the box at OK. Text in the settings file is UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/Host.h"
#include "platform/DataExchange.h"

class CEMailDlg;
class CWexoApp;
class CWexoDoc;
class wxWindow;

class CNewUrlDialog2 : public DialogModel {
 public:
  // doc: the new job, whose depth the dialog sets; recentUrls: the frame's list, newest first,
  // which OK updates.
  CNewUrlDialog2(CWexoDoc& doc, std::vector<std::string>& recentUrls);

  bool OnInitDialog() override;
  bool OnOK() override;
  // Loads the settings last used with url when it has a profile; asks first when the lists or
  // the e-mail settings were changed here.
  void LoadUrlProfile(const std::string& url);

  // The user's actions.
  void OnLocalFile();
  void OnMoreOptions();
  void OnAddInclude() { AddEntry(m_include); }
  void OnAddExclude() { AddEntry(m_exclude); }
  void OnDeleteInclude() { DeleteEntry(m_include); }
  void OnDeleteExclude() { DeleteEntry(m_exclude); }
  void OnSelchangeInclude() { FollowSelection(m_include); }
  void OnSelchangeExclude() { FollowSelection(m_exclude); }
  void OnInactiveInclude() { ToggleEntry(m_include); }
  void OnInactiveExclude() { ToggleEntry(m_exclude); }
  // The URL box's text was edited (by the user: filling it from here sends nothing).
  void OnEditchangeUrl();
  // A recent URL was chosen from the box's list.
  void OnSelchangeUrl();
  void OnEmail();
  void OnPostClicked();

  // What OK hands to the document.
  StartingPoint Values() const;
  // The lines of a list: " \t" + prefix (active) or "!\t" + prefix (inactive).
  const std::vector<std::string>& IncludeLines() const { return m_include.lines; }
  const std::vector<std::string>& ExcludeLines() const { return m_exclude.lines; }

  std::string m_csIncludeEdit;
  std::string m_csExcludeEdit;
  std::string m_csStartUrl;
  int m_bCheckExternal;
  int m_bPost = 0;
  std::string m_csPostQuery;
  std::vector<std::string> m_aInclude;
  std::vector<std::string> m_aExclude;
  MailSettings m_mail;  // the dialog's copy of the e-mail settings
  CWexoDoc* m_pJobDoc;
  int m_bListsModified = 0;

  // The windows behind More options and e-mail; the view sets them (tests set their own).
  std::function<void()> m_runOptionSheet;
  std::function<bool(CEMailDlg&)> m_runEMailDialog;

  // Control names.
  static constexpr const char* kUrl = "Url";
  static constexpr const char* kCheckExternal = "CheckExternal";
  static constexpr const char* kPost = "Post";
  static constexpr const char* kPostQuery = "PostQuery";
  static constexpr const char* kPostQueryLabel = "PostQueryLabel";
  static constexpr const char* kOk = "OK";

  // One prefix list and its controls.
  struct PrefixList {
    const char* section;  // "Include" or "Exclude"
    const char* edit;
    const char* list;
    const char* remove;
    const char* inactive;
    std::vector<std::string> lines;
  };

 protected:
  void DoDataExchange(DataExchange& dx) override;

 private:
  void AddEntry(PrefixList& list);
  void DeleteEntry(PrefixList& list);
  void FollowSelection(PrefixList& list);
  void ToggleEntry(PrefixList& list);
  // Replaces a list's lines with a section's entries.
  void LoadList(PrefixList& list, const std::string& section);
  // Saves a list to a section, clearing the section's older numbers first; fills active.
  void SaveList(const PrefixList& list, const std::string& section, std::vector<std::string>* active) const;
  void ShowLines(const PrefixList& list);
  void SetDepth(int depth);

  CWexoApp& m_app;
  std::vector<std::string>& m_saRecentUrls;
  // The URL box's list as filled at the start.
  std::vector<std::string> m_urlItems;
  PrefixList m_include{"Include", "IncludeEdit", "IncludeList", "IncludeDelete", "IncludeInactive", {}};
  PrefixList m_exclude{"Exclude", "ExcludeEdit", "ExcludeList", "ExcludeDelete", "ExcludeInactive", {}};
};

// Runs the dialog modally over model; true when closed with OK.
bool ShowNewUrlDialog(wxWindow* parent, CNewUrlDialog2& model);
