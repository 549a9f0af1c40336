// What the end of a check writes and mails. The report library implements it; the engine
// only calls it, so the engine never depends on the report.
#pragma once

#include <string>

class CWexoDoc;

class ICheckOutputs {
 public:
  virtual ~ICheckOutputs() = default;
  // Each returns false after it has shown its failure; the end of a check makes the run's exit
  // code from these results.
  [[nodiscard]] virtual bool ExportTabFile(const CWexoDoc& doc, const std::string& path) = 0;
  [[nodiscard]] virtual bool ExportPageMap(const CWexoDoc& doc, const std::string& path) = 0;
  [[nodiscard]] virtual bool CreateReport(const CWexoDoc& doc, const std::string& path) = 0;
  // Saving marks the document unmodified.
  [[nodiscard]] virtual bool SaveDocument(CWexoDoc& doc, const std::string& path) = 0;
  [[nodiscard]] virtual bool ExportSitemap(const CWexoDoc& doc, const std::string& path) = 0;
  [[nodiscard]] virtual bool MailReport(const CWexoDoc& doc) = 0;
  virtual void LaunchReport(const CWexoDoc& doc) = 0;
};
