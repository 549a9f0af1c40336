// The trace log: each step of opening a report or a URL in the browser, one line each,
// so that a launch that fails on a user's machine can be diagnosed afterwards.
//
// Threads: any thread; every line reaches the file in one write.
#pragma once

#include <string>
#include <string_view>

// Appends "<source>, <line>\t<local time>: <message>" to the file GetLogFilePath() names,
// the time as "%d.%m.%Y %H:%M:%S" and the message made from format (it brings its own
// "\n"), in text mode. The file is opened for each line and closed again; it is created
// mode 0600, and a symbolic link or anything but a plain file at its name is not written
// through. A line that cannot be written is lost silently.
void WriteTraceLog(const char* source, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Text that came from elsewhere (a server's reply, a page) as the trace log writes it, and as
// it may be shown on a terminal or in a box: control characters (C0, DEL, and C1 written in
// UTF-8) and bytes that are no valid UTF-8 become "\xNN", one escape a byte; everything else
// stays. With keepLayout, line feeds and tabs stay too.
std::string EscapedText(std::string_view text, bool keepLayout = false);
