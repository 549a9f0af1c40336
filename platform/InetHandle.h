#pragma once

#include <cstdint>

namespace platform {

// Id of an internet session in the process-wide handle table; 0 means none.
using HINTERNET = std::uint64_t;

// Closes a session handle. Callable from any thread: from a thread other than
// the session's owner it only marks the session cancelled and wakes it (its
// blocking call then fails with 12017); the owner frees the curl handles.
// Returns false when the id is not (or no longer) in the table.
bool InternetCloseHandle(HINTERNET handle);

}  // namespace platform
