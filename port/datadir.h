// Where the program keeps its data. A copy of the program in a folder its user may write to (a
// portable copy, or the one scripts/run.sh installs) keeps its data beside it, as it always has;
// an installed copy keeps it in the user's data folder, so that nothing is ever written under
// the installation.
//
// Thread safety: the functions read only the process's environment and the file system.
#pragma once

#include <string>

// The folder of the running program's executable; "" when it cannot be found.
std::string ExecutableDirectory();

// The user's data folder: $XDG_DATA_HOME when it is an absolute path, otherwise
// ~/.local/share; "" when the user has no home folder.
std::string UserDataHome();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, otherwise
// ~/.config; "" when the user has no home folder.
std::string UserConfigHome();

// True when the process may create files in dir: its effective user and groups have the right,
// and dir is a folder on a file system mounted for writing.
bool IsWritableDirectory(const std::string& dir);

// programDir when the program may keep its data there, otherwise userDir. /usr belongs to the
// package manager and may be shared read-only, so a program there never writes beside itself,
// even when run by root. An empty userDir (no home) leaves the program's folder as the choice.
std::string ChooseDataDirectory(const std::string& programDir, const std::string& userDir);

// The login name of the process's effective user, from the account database; $LOGNAME or $USER
// when the account has no entry there; "" when neither says.
std::string LoginName();
