// One line of a body file as the parsers see it.
#pragma once

#include <string>

#include "platform/TextFile.h"

class IWexoHost;

// The next line with one blank appended and every tab, CR and LF turned into a blank; false
// at the end of the file. A line the reader hands over in pieces gets its blank after the
// last piece only, so the pieces joined are the line. A read error asks once whether to go
// on: Yes treats the body as ended (and it stays ended), No also quits the program through
// the host.
bool ReadLine(platform::LineReader& file, std::string& line, IWexoHost& host);
// The same without the question: false at the end of the file and after a read error
// (file.Failed() then tells which).
bool ReadLine(platform::LineReader& file, std::string& line);
// Asks the question of a failed read (ReadFailureQuestion); No quits the program.
void AskAfterReadFailure(const std::string& question, IWexoHost& host);
