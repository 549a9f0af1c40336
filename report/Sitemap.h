// The XML sitemap (Sitemaps protocol 0.9) of a check's valid internal pages and documents,
// and the GraphViz graph of the links between its valid pages.
#pragma once

#include <string>

class CWexoDoc;

// Both write through WriteExport: false (after the message) when a file could not be written.
// The sitemap leaves out URLs of 2,048 characters or more. Up to 50,000 URLs it is one file at
// path; beyond, path is a sitemap index naming files of 50,000 URLs each, written beside it
// as "<name>-1<.ext>", "<name>-2<.ext>" ... and named in the index by their URLs beside the
// root URL's folder.
bool ExportSitemap(const CWexoDoc& doc, const std::string& path);
bool ExportGraphViz(const CWexoDoc& doc, const std::string& path);
