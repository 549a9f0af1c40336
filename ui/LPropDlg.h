// The modeless URL-properties window: one record's URL, its title or link text, the records
// its page links to and the pages that link to it. The main frame keeps the one window and
// refills it for each request; double-clicking a list line opens that URL in the browser.
#pragma once

#include <string>

#include "ui/ResizeDialog.h"

class CLinkInfo;
class CWexoDoc;
class wxCommandEvent;
class wxListBox;

class CLPropDlg : public CResizeDialog {
 public:
  // Builds and shows the window under the frame.
  explicit CLPropDlg(wxWindow* parent);

  // Fills the window from a record of doc; the record lives as long as doc.
  void ShowLink(const CWexoDoc& doc, const CLinkInfo& link);
  // Whether the window shows a record of doc.
  bool ShowsDocument(const CWexoDoc* doc) const { return doc != nullptr && doc == m_pDoc; }
  // Forgets the record: the fields and lists are emptied (its document closes).
  void Clear();

  bool OnInitDialog() override;

  // The count labels.
  static std::string LinksOutLabel(unsigned count);
  static std::string LinksInLabel(unsigned count);
  // The section of the window's placement.
  static constexpr const char* kSection = "URL properties";

 private:
  void OnOK();
  void OnCancel();
  void OnDblclkList(wxCommandEvent& event);

  std::string m_csUrl;
  wxListBox* m_lbLinks = nullptr;
  wxListBox* m_lbReferrers = nullptr;
  const CWexoDoc* m_pDoc = nullptr;
};
