// Settings that belong to the user rather than to a knowledge base, kept in the user's
// configuration folder ($XDG_CONFIG_HOME/Pelloquin, or ~/.config/Pelloquin): which knowledge base
// to open, the text size while the entries are on an office server, the name recorded with the
// user's writes, and which files the user has been warned about. Each setting is a small text file
// of its own, so that two programs writing different settings never undo each other's write; a file
// is replaced whole (written beside it, then renamed), so a reader never sees half of one.
//
// Thread safety: the functions touch only the files; the last of two writers of one setting wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The folder, whether it exists or not; "" when the user has no home folder.
std::string UserSettingsFolder();

// The setting's text, or none when it was never written or cannot be read.
std::optional<std::string> ReadUserSetting(std::string_view name);
// Writes the setting, making the folder when missing; raises Exception when it cannot.
void WriteUserSetting(std::string_view name, std::string_view value);

// The name the user set to be recorded with their saves and edits ("" when none was set).
std::string ChosenWriterName();
// Keeps name (blanks around it dropped); an empty one goes back to the login name. Raises
// Exception when it cannot be written.
void SaveWriterName(std::string_view name);
// The name recorded with the user's writes: the one chosen, else the login name.
std::string WriterName();
