// pelloquin-kb: the knowledge base from the command line, over the program's own core.
//
//   pelloquin-kb [--file PATH | --server CONNINFO] COMMAND [ARGUMENT...]
//
// Commands: search [--ranking best|classic] TEXT, export --format csv|json|md [OUT], import FILE,
// backup OUT, check, stats, history ID, deleted, restore ID [VERSION], prune-history --older-than
// DAYS
// (see packaging/man/pelloquin-kb.1). Without --file or --server the tool uses the knowledge base
// the program would open (storechoice.h: PELLOQUIN_DATABASE, else the user's choice, else the
// default file), an office server included. It writes to a knowledge base only by import (which
// makes a file that is not there yet as the program does at its first start), restore and
// prune-history, each one transaction; every other command opens the file for reading alone
// (an earlier version's file is not given the history table), and a missing or foreign file, or
// a server database without the tables, is left as it is. backup and check are about a file: on a server they are refused.
//
// Exit status: 0 success; 1 the command failed (check: found something wrong; import: a row
// failed, or it was cancelled; the server was lost during the command); 2 bad arguments, a
// knowledge base file that is missing or not a knowledge base, a server that cannot be reached
// or holds no knowledge base, a file to import of no kind that can be imported, or a target that
// an export or a backup must not replace (the knowledge base or one of its files, a folder, a
// device, a named pipe: core/transfer/targetfile.h). A failed or cancelled export or backup
// leaves its target as it was.
//
// Where the entries live is chosen in one place, ChoiceOf, from the options parsed into
// TToolOptions, and the store made for that choice in one other, MakeStore.
//
// Thread safety: RunKbTool is meant for one thread (the tool's main).
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "core/store/knowledgestore.h"
#include "core/store/storechoice.h"
#include "sqlite/sqlitedb.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Bad arguments, or a knowledge base that cannot be used: exit status 2.
class EToolUsage : public Exception {
public:
    using Exception::Exception;
};

// The options before the command, and the command with its arguments.
struct TToolOptions {
    std::string file;    // --file
    std::string server;  // --server, as given
    std::string command;
    std::vector<std::string> arguments;
};

// Parses the arguments after the program's name; raises EToolUsage. Sets help when asked for it.
TToolOptions ParseToolOptions(const std::vector<std::string>& args, bool& help);

// Where the options point: the file of --file, the server of --server, or else the knowledge
// base the program would open. Raises EToolUsage for a server libpq cannot read the name of.
TStoreChoice ChoiceOf(const TToolOptions& options);

// The knowledge base file of a file choice ("" for the default file, whose folder is not made).
// Raises EToolUsage when it is missing or is not a knowledge base, having opened it for reading
// alone.
std::string KnowledgeBaseFileOf(const TStoreChoice& choice);

// The store of the choice, opened for reading alone (ReadOnly) or for writing (Existing); raises
// EToolUsage as KnowledgeBaseFileOf, or when the server cannot be reached or holds no knowledge
// base (whose tables it does not make).
std::unique_ptr<TKnowledgeStore> MakeStore(const TStoreChoice& choice, TOpenMode mode);

// Runs the tool; returns its exit status. interrupted, when given, is asked during long commands
// (export, import), which then stop, leaving nothing behind.
int RunKbTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::function<bool()>& interrupted = {});
