// The start and the end of a check: the roads that give a new document its roots (the command
// line with the root's profile, the starting-point dialog, a URL list) and the end of a check
// (.jar records, the batch outputs, mail, quit or the report question). The only part of a
// document that asks the host, the outputs and the command line for these; the document's
// OnNewDocument, StartUrlList and EndOfCheck forward here.
#pragma once

#include <string>

class CWexoApp;
class CWexoDoc;
class ICheckOutputs;
class IWexoHost;
enum class CheckStart;

class CheckRun {
 public:
  // Works on doc with the host, command line and outputs of its context.
  explicit CheckRun(CWexoDoc& doc);

  // A new check, started the way the document's creator asked for; false when none was
  // started (the dialog was cancelled, the URL list could not be read).
  bool Start(CheckStart start);
  // Each line of a chosen text file is a root.
  bool StartUrlList();
  // The check has nothing left: .jar records that were never found fail, a batch run writes
  // its outputs, mails and quits; an interactive one asks for the report.
  void End();

 private:
  bool StartFromCommandLine();
  bool StartFromDialog();
  // The root record, the root prefix and the first scheduler tick of a new check.
  void StartAtRoot(std::string root, bool post, const std::string& postData);
  // The batch outputs the command line asks for, each written whatever the others did.
  // wroteAny: one was asked for; false when one failed.
  bool WriteOutputs(bool& wroteAny);

  CWexoDoc& m_doc;
  IWexoHost& m_host;
  const CWexoApp& m_app;
  ICheckOutputs* m_outputs;
};
