// What the end of a check writes and mails. The report library implements it; the engine
// only calls it, so the engine never depends on the report.
#pragma once

#include <string>

class CWexoDoc;

class ICheckOutputs {
 public:
  virtual ~ICheckOutputs() = default;
  // Each returns false after it has shown its failure.
  virtual bool ExportTabFile(CWexoDoc& doc, const std::string& path) = 0;
  virtual bool ExportPageMap(CWexoDoc& doc, const std::string& path) = 0;
  virtual bool CreateReport(CWexoDoc& doc, const std::string& path) = 0;
  virtual bool SaveDocument(CWexoDoc& doc, const std::string& path) = 0;
  virtual bool ExportSitemap(CWexoDoc& doc, const std::string& path) = 0;
  virtual bool MailReport(CWexoDoc& doc) = 0;
  virtual void LaunchReport(CWexoDoc& doc) = 0;
};

// The outputs the program uses; nullptr (the default) writes nothing.
ICheckOutputs* CheckOutputs();
void SetCheckOutputs(ICheckOutputs* outputs);
