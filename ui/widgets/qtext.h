// Conversion between the program's stored texts (storedtext.h: Windows-1252 bytes, or UTF-8 after
// its mark for a text the code page cannot hold) and Qt's strings. Stored bytes are never
// re-encoded; only what crosses into and out of widgets is converted.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// The text a stored form holds.
QString ToQString(std::string_view bytes);
// The stored form of a text; no character is lost.
std::string FromQString(const QString& text);

// The text of a multi-line text box as stored: line breaks as CR LF.
std::string FromEditorText(const QString& text);
// A stored text for a multi-line text box: CR LF and lone CR become line breaks.
QString ToEditorText(std::string_view bytes);

// A text (stored form) of blanks and control characters alone, which no search could list.
bool IsBlankText(std::string_view bytes);
