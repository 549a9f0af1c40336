// Removal of temporary body files off the user-interface thread.
#pragma once

#include <string>

// Queues a file for removal by a background thread.
void RemoveFileLater(const std::string& path);
// Returns once every queued file has been removed (at an orderly quit, and in tests).
void FlushFileRemovals();
