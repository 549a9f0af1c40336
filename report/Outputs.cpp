#include "report/Outputs.h"

#include "engine/DocumentFile.h"
#include "engine/Host.h"
#include "report/Sitemap.h"
#include "report/TabExport.h"

namespace {

bool NotAvailable(const char* what) {
  Host().MessageBox(std::string(what) + " is not available yet", BoxKind::Error);
  return false;
}

}  // namespace

bool ReportOutputs::ExportTabFile(CWexoDoc& doc, const std::string& path) { return ::ExportTabFile(doc, path); }
bool ReportOutputs::ExportPageMap(CWexoDoc& doc, const std::string& path) { return ::ExportPageMap(doc, path); }
bool ReportOutputs::CreateReport(CWexoDoc&, const std::string&) { return NotAvailable("The HTML report (-report)"); }
bool ReportOutputs::SaveDocument(CWexoDoc& doc, const std::string& path) {
  std::string error;
  if (SaveDocumentFile(doc, path, error)) return true;
  Host().MessageBox(error, BoxKind::Error);
  return false;
}
bool ReportOutputs::ExportSitemap(CWexoDoc& doc, const std::string& path) { return ::ExportSitemap(doc, path); }
bool ReportOutputs::MailReport(CWexoDoc&) { return NotAvailable("Mailing the report"); }
void ReportOutputs::LaunchReport(CWexoDoc&) { NotAvailable("The HTML report"); }
