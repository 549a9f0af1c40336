// The document file (.wxo): a saved check that can be opened again and resumed.
#pragma once

#include <string>

class CWexoDoc;

// The schema of the record class and the settings version this program writes.
constexpr unsigned kLinkInfoSchema = 17;
constexpr unsigned kDocumentVersion = 10;

// Writes the document to a temporary file beside path and renames it over path, so a
// failed save leaves the previous file as it was. False with a message in error.
bool SaveDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error);

// Loads a document file into doc (a new document whose m_pView is set, no worker running).
// Nothing is applied unless the whole file was read and found sound: on false, error holds
// the message and doc is as it was, with no schedule posted. On true the check resumes
// (UM_SCHEDULE posted) and the document is unmodified.
bool OpenDocumentFile(CWexoDoc& doc, const std::string& path, std::string& error);
