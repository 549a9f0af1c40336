// The options sheet: crawl and report options of one document, of every open document, or of
// the settings file's defaults.
#pragma once

class CWexoDoc;
class wxWindow;

// Runs the sheet modally. doc: the document whose options are shown (a new job's or a view's),
// or null for the settings file's [Options].
void ShowOptionSheet(wxWindow* parent, CWexoDoc* doc);
