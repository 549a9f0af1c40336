#include "ui/EMailDialog.h"

// Placeholder until the dialog is built: nothing is shown and nothing changes.
void CEMailDlg::DoDataExchange(DataExchange&) {}

bool ShowEMailDialog(wxWindow*, CEMailDlg&) { return false; }
