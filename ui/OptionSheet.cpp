#include "ui/OptionSheet.h"

// Placeholder until the sheet is built.
void ShowOptionSheet(wxWindow*, CWexoDoc*) {}
