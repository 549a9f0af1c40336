// The outputs of a finished check, as the program wires them into the engine.
#pragma once

#include "engine/CheckOutputs.h"

class ReportOutputs : public ICheckOutputs {
 public:
  bool ExportTabFile(const CWexoDoc& doc, const std::string& path) override;
  bool ExportPageMap(const CWexoDoc& doc, const std::string& path) override;
  bool CreateReport(const CWexoDoc& doc, const std::string& path) override;
  bool SaveDocument(CWexoDoc& doc, const std::string& path) override;
  bool ExportSitemap(const CWexoDoc& doc, const std::string& path) override;
  bool MailReport(const CWexoDoc& doc) override;
  void LaunchReport(const CWexoDoc& doc) override;
};
