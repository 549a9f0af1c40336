// What a run removes when SIGINT, SIGTERM or SIGHUP ends it: its temporary folder and the
// temporary files of the outputs being written.
#pragma once

#include <string>

namespace platform {

// From now on SIGINT, SIGTERM and SIGHUP remove the run's temporary folder (RunTempFolder) and
// every path armed below, then end the process as the signal would. A signal that is ignored
// stays ignored. The handler only writes to a pipe; a thread of its own does the removing.
void CleanUpOnSignals();

// Keeps path for removal on such a signal; the returned slot is given to DisarmOnSignal once
// the file is gone or renamed. Arm before the file is made, so a signal right after it still
// finds it. Once a signal is being handled this waits for the end of the process.
int ArmOnSignal(const std::string& path);
// Forgets the slot's path; slot becomes -1 (nothing for -1).
void DisarmOnSignal(int& slot);

}  // namespace platform
