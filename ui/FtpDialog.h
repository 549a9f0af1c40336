// The window of the FTP access dialog of the report's orphan search, over its model.
#pragma once

class FtpDialogModel;
class wxWindow;

// Shows the dialog modally; true for OK (the model has stored the section), false for Cancel.
bool ShowFtpDialog(wxWindow* parent, FtpDialogModel& model);
