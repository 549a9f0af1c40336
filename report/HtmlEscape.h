// Escaping of texts written into the report and the XML exports.
#pragma once

#include <string>

// In place: '"', '&', '\'', '<' and '>' become their entities, bytes of 0x80 and above a
// percent escape ("%E9"), so the result is ASCII. Inserted text is never escaped again.
void EscapeHtml(std::string& text);
