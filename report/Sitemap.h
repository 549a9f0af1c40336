// The XML sitemap (Sitemaps protocol 0.9) of a check's valid internal pages and documents,
// and the GraphViz graph of the links between its valid pages.
#pragma once

#include <string>

class CWexoDoc;

// Both write through WriteExport: false (after the message) when the file could not be written.
bool ExportSitemap(const CWexoDoc& doc, const std::string& path);
bool ExportGraphViz(const CWexoDoc& doc, const std::string& path);
