// Text between the engine (UTF-8) and the toolkit.
#pragma once

#include <string>

#include <wx/string.h>

// Decoded leniently: invalid bytes become U+FFFD, never an empty string.
wxString FromUtf8(const std::string& text);
// What the engine and the INI get: UTF-8.
inline std::string ToUtf8(const wxString& text) { return text.utf8_string(); }
