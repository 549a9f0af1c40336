// The About dialog: the program's title and version, a notice line, and "FAQ", which opens
// the installed README in the browser (the program has no web page).
#pragma once

#include <string>

class wxWindow;

// The README the FAQ button opens: share/doc/wexo/README.md of the installation the program
// runs from, else README.md beside the program (a build folder).
std::string InstalledReadmePath();

// Shows the dialog modally.
void ShowAboutDialog(wxWindow* parent);
