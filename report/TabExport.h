// The TAB-separated exports of a check and the write convention every export follows.
#pragma once

#include <functional>
#include <string>

#include "platform/TextFile.h"

class CWexoDoc;
class IWexoHost;

// Writes an export in text mode through platform::OutputFile: a file is replaced only once the
// new one is complete, a device or FIFO is written in place. On any failure the partial file
// is removed, the old file stays, the error is shown by host, and the result is false.
// openFailure, when given, makes the message for a path that cannot be opened from the path
// and the errno.
bool WriteExport(IWexoHost& host, const std::string& path, const std::function<void(platform::TextFileWriter&)>& write,
                 std::string (*openFailure)(const std::string& path, int error) = nullptr);

bool ExportTabFile(const CWexoDoc& doc, const std::string& path);
bool ExportPageMap(const CWexoDoc& doc, const std::string& path);
