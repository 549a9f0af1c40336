// The options sheet: crawl and report options of one document, of every open document, or of
// the settings file's defaults. Two page models and the sheet's own order of starting,
// checking and applying them, all without a display; ShowOptionSheet is the window over them.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/DataExchange.h"

class CWexoApp;
class CWexoDoc;
class wxWindow;

// Every open document of the program, asked when the options are applied to all jobs.
using OpenDocuments = std::function<std::vector<CWexoDoc*>()>;

// What both pages share: the document they were given (may be null), where "all jobs" reaches,
// and the all-jobs check box. Each control is named by its [Options] key.
class COptionPage : public DialogModel {
 public:
  static constexpr const char* kAllJobs = "AllJobs";

  COptionPage(CWexoApp& app, CWexoDoc* doc, OpenDocuments documents)
      : m_app(app), m_pDoc(doc), m_documents(std::move(documents)) {}

  // The page opens: all-jobs checked (and disabled without a document), every value from the
  // document's copy, or from [Options] without one.
  bool OnInitDialog() override;
  // The page's values go to the page's document alone when all-jobs is unchecked and there is
  // one; otherwise into every open document (the page's own too) and then to [Options]. Every
  // document stored into is marked modified. False (nothing applied) when a value is refused.
  bool OnOK() override;

  int m_bAllJobs = 0;

 protected:
  struct OptionValue {
    const char* key;  // also the control's name
    int* value;
    bool wide = false;  // read from [Options] as a full int, not cut to the document's 16 bits
  };
  // The page's values in the order they are written to [Options].
  virtual std::vector<OptionValue> Values() = 0;
  // The check boxes among Values, exchanged in that order.
  void ExchangeFlags(DataExchange& dx, std::initializer_list<const char*> others);

  CWexoApp& m_app;
  CWexoDoc* m_pDoc;

 private:
  OpenDocuments m_documents;
};

// "Basic": threads, password prompts, redirects, report sections, depth.
class COptionPage1 : public COptionPage {
 public:
  static constexpr const char* kThreads = "Threads";
  static constexpr const char* kRangeMin = "ThreadsMin";
  static constexpr const char* kRangeMax = "ThreadsMax";
  static constexpr const char* kCurrent = "ThreadsCurrent";
  static constexpr const char* kMaxLevel = "MaxLevel";

  using COptionPage::COptionPage;

  bool OnInitDialog() override;
  // The slider moved. While it is dragged (tracking) "Current:" follows it unchecked; when a
  // move ends the page's values are taken, and when that fails (its message once per move)
  // "Current:" goes back to what it showed before the move.
  void OnVScroll(bool tracking);

  std::int16_t m_nRangeMin = 1;
  std::int16_t m_nRangeMax = 100;
  int m_nThreads = 30;  // the slider's position
  int m_bAskPassword = 0;
  int m_bRedirectIsError = 0;
  int m_bReportBroken1 = 0;
  int m_bReportBroken2 = 0;
  int m_bReportBrokenLocal = 0;
  int m_bReportRedir = 0;
  int m_bReportFtpGopher = 0;
  int m_bReportValid = 0;
  int m_bSiteMap = 0;
  int m_bReportStatistics = 0;
  int m_bReportOrphans = 0;
  int m_nMaxLevel = 0;

 protected:
  void DoDataExchange(DataExchange& dx) override;
  std::vector<OptionValue> Values() override;

 private:
  void ShowPosition();

  bool m_bTracking = false;
  std::string m_csBeforeMove;
};

// "Advanced": cookies, host failures, office files, local files, lower case, retries.
class COptionPage2 : public COptionPage {
 public:
  static constexpr const char* kMaxRetry = "MaxRetry";

  using COptionPage::COptionPage;

  int m_bAllowCookies = 0;
  int m_bFailSimilarHosts = 0;
  int m_bExcludeMSO = 0;
  int m_bAllowLocalFilesInRemoteCheck = 0;
  int m_bListLocalDirectories = 0;
  int m_bMakeLowerCase = 0;
  int m_nMaxRetry = 0;  // exchanged as a 16-bit number

 protected:
  void DoDataExchange(DataExchange& dx) override;
  std::vector<OptionValue> Values() override;
};

// The sheet: page 1 in front first; a page is started the first time it comes to the front;
// the page in front must take its values before another comes to the front or OK closes; OK
// applies every page that was shown, Cancel none.
class COptionSheet {
 public:
  COptionSheet(CWexoApp& app, CWexoDoc* doc, OpenDocuments documents);

  static constexpr int kPages = 2;
  DialogModel& Page(int index);
  // The page comes to the front, its controls attached: started the first time.
  void PageShown(int index, IDialogControls& controls);
  bool WasShown(int index) const { return m_shown[index]; }
  // Another page is to come to the front: false (the message shown) keeps this one.
  bool CanLeavePage(int index);
  // OK with front in front: false keeps the sheet open.
  bool OnOK(int front);

  COptionPage1 m_page1;
  COptionPage2 m_page2;

 private:
  bool m_shown[kPages] = {false, false};
};

// Runs the sheet modally. doc: the document whose options are shown (a new job's or a view's),
// or null for the settings file's [Options].
void ShowOptionSheet(wxWindow* parent, CWexoDoc* doc);
