// The outputs of a finished check, as the program wires them into the engine.
#pragma once

#include "engine/CheckOutputs.h"

class ReportOutputs : public ICheckOutputs {
 public:
  bool ExportTabFile(CWexoDoc& doc, const std::string& path) override;
  bool ExportPageMap(CWexoDoc& doc, const std::string& path) override;
  bool CreateReport(CWexoDoc& doc, const std::string& path) override;
  bool SaveDocument(CWexoDoc& doc, const std::string& path) override;
  bool ExportSitemap(CWexoDoc& doc, const std::string& path) override;
  bool MailReport(CWexoDoc& doc) override;
  void LaunchReport(CWexoDoc& doc) override;
};
