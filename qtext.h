// Conversion between the program's 8-bit texts (Windows-1252 bytes, as stored in knowledge bases
// made on any platform) and Qt's strings. Stored bytes are never re-encoded; only what crosses
// into and out of widgets is converted.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Each byte as its Windows-1252 character; the five undefined bytes map to the C1 controls of the
// same code, as Windows does, so that every byte survives a round trip.
QString ToQString(std::string_view bytes);
// Each character as its Windows-1252 byte; a character without one becomes '?'.
std::string FromQString(const QString& text);

// The text of a multi-line text box as stored: line breaks as CR LF.
std::string FromEditorText(const QString& text);
// A stored text for a multi-line text box: CR LF and lone CR become line breaks.
QString ToEditorText(std::string_view bytes);
