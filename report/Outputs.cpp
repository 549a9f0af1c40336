#include "report/Outputs.h"

#include "engine/DocumentFile.h"
#include "engine/Host.h"
#include "engine/WexoDoc.h"
#include "report/Report.h"
#include "report/ReportLaunch.h"
#include "report/Sitemap.h"
#include "report/TabExport.h"

bool ReportOutputs::ExportTabFile(const CWexoDoc& doc, const std::string& path) { return ::ExportTabFile(doc, path); }
bool ReportOutputs::ExportPageMap(const CWexoDoc& doc, const std::string& path) { return ::ExportPageMap(doc, path); }
bool ReportOutputs::CreateReport(const CWexoDoc& doc, const std::string& path) { return vCreateReport(doc, path); }
bool ReportOutputs::SaveDocument(CWexoDoc& doc, const std::string& path) {
  std::string error;
  if (SaveDocumentFile(doc, path, error)) return true;
  doc.Host().MessageBox(error, BoxKind::Error);
  return false;
}
bool ReportOutputs::ExportSitemap(const CWexoDoc& doc, const std::string& path) { return ::ExportSitemap(doc, path); }
bool ReportOutputs::MailReport(const CWexoDoc& doc) { return ::MailReport(doc); }
void ReportOutputs::LaunchReport(const CWexoDoc& doc) { vLaunchReport(doc); }
