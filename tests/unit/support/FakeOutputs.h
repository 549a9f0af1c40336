// Outputs that record what the end of a check asked of them and fail where told to.
#pragma once

#include <functional>
#include <string>

#include "engine/CheckOutputs.h"

class FakeOutputs : public ICheckOutputs {
 public:
  bool ExportTabFile(const CWexoDoc& doc, const std::string&) override { return Did("export", doc); }
  bool ExportPageMap(const CWexoDoc& doc, const std::string&) override { return Did("map", doc); }
  bool CreateReport(const CWexoDoc& doc, const std::string&) override { return Did("report", doc); }
  bool SaveDocument(CWexoDoc& doc, const std::string&) override { return Did("save", doc); }
  bool ExportSitemap(const CWexoDoc& doc, const std::string&) override { return Did("google", doc); }
  bool MailReport(const CWexoDoc& doc) override { return Did("mail", doc); }
  void LaunchReport(const CWexoDoc& doc) override { Did("launch", doc); }

  std::string failing;  // the names of the outputs that fail
  std::string calls;    // the names of the outputs asked for, in order
  // Sees the document as each output gets it.
  std::function<void(const std::string& what, const CWexoDoc& doc)> onCall;

 private:
  bool Did(const std::string& what, const CWexoDoc& doc) {
    calls += calls.empty() ? what : " " + what;
    if (onCall) onCall(what, doc);
    return failing.find(what) == std::string::npos;
  }
};
