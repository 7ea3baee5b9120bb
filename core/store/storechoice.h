// Which knowledge base the program opens: the file on this computer, or an office server.
//
// The choice is kept in the user's settings (usersettings.h) as one line in the form that the
// environment variable PELLOQUIN_DATABASE takes, and that variable, when set and not empty,
// overrides it for the run. The form: a connection string ("service=office", "host=kb.office
// dbname=kb", key=value pairs) or a URI (postgresql://...) means the server; anything else is the
// path of a knowledge base file; empty means the default file. A text that holds a key=value pair
// or starts with a URI scheme is taken for a connection string even when libpq cannot read it
// (a misspelt keyword), so that opening it says what is wrong instead of making a file of that
// name; a path that could pass for one is written starting with / or ./.
// Passwords are never kept: they belong in libpq's password file (~/.pgpass) or service file,
// and every message that shows a connection string or what libpq said about one shows it
// through WithoutPasswords.
//
// Thread safety: plain functions; they read the environment and touch only the settings files.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/store/knowledgestore.h"
#include "port/filesystem.h"

inline constexpr std::string_view kDatabaseVariable = "PELLOQUIN_DATABASE";

struct TStoreChoice {
    enum class TKind { File, Server };
    enum class TSource { Default, Saved, Environment };

    TKind kind = TKind::File;
    // File: the path, "" for the default file. Server: the connection string.
    std::string where;
    // Where the choice came from; one made by the environment cannot be changed in the program.
    TSource source = TSource::Default;

    bool IsServer() const { return kind == TKind::Server; }
    bool operator==(const TStoreChoice&) const = default;
};

// The choice a text names, in the form above.
TStoreChoice ParseChoice(std::string_view text);
// The server named by a connection string, a URI, or a service name alone ("office" stands for
// "service=office"). Raises when libpq cannot read it, with libpq's reason (WithoutPasswords).
TStoreChoice ServerChoice(std::string_view connection);
// The knowledge base file at path ("" for the default file).
TStoreChoice FileChoice(std::string_view path);

// text (a message, or a connection string) with every password in it written as ***: a password
// keyword's value (password=..., password = '...'), a URI's user:password@ and its password
// query value; and, anywhere in text, each password that conninfo holds in one of those places
// (libpq's messages quote the pieces of a string they could not read). conninfo may be one
// that libpq cannot read.
std::string WithoutPasswords(std::string_view text, std::string_view conninfo = {});

// The environment's choice, else the saved one, else the default file.
TStoreChoice CurrentChoice();
// Keeps the choice for the next starts (a file's path made absolute). Raises when it cannot be
// written, or when a server's connection string holds a password.
void SaveChoice(const TStoreChoice& choice);
// The line SaveChoice would keep; raises as it would (a password), writing nothing.
std::string KeptChoiceText(const TStoreChoice& choice);

// The file a file choice opens: its path, or the default file (its folder made when missing).
std::string ChoiceFile(const TStoreChoice& choice);
// A store for the choice, not yet open.
std::unique_ptr<TKnowledgeStore> MakeStore(const TStoreChoice& choice);
// A store for a command line's server argument (as ServerChoice reads it).
std::unique_ptr<TKnowledgeStore> MakeServerStore(std::string_view connection);

// True the first time a knowledge base file on a network file system is asked about, and never
// again for that file: the answer is recorded in the user's settings. (isNetwork is the test of
// the file system, replaceable in tests.)
bool WarnOfNetworkFileNow(const std::string& file,
                          bool (*isNetwork)(const std::string&) = IsNetworkFileSystem);
