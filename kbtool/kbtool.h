// pelloquin-kb: the knowledge base from the command line, over the program's own core.
//
//   pelloquin-kb [--file PATH] COMMAND [ARGUMENT...]
//
// Commands: search TEXT, export --format csv|json|md [OUT], import FILE, backup OUT, check, stats
// (see packaging/man/pelloquin-kb.1). Without --file the tool uses the knowledge base the program
// would open. It never creates a knowledge base and never writes to one except by import; every
// other command opens the file for reading alone, and a missing or foreign file is left as it is.
//
// Exit status: 0 success; 1 the command failed (check: found something wrong; import: a row
// failed, or it was cancelled); 2 bad arguments, a knowledge base file that is missing or not a
// knowledge base, or a file to import of no kind that can be imported.
//
// Where the entries live is chosen in one place, MakeStore, from the options parsed into
// TToolOptions, so that another kind of store is one more option there.
//
// Thread safety: RunKbTool is meant for one thread (the tool's main).
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "knowledgestore.h"
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
    std::string file;  // --file; empty: the knowledge base the program would open
    std::string command;
    std::vector<std::string> arguments;
};

// Parses the arguments after the program's name; raises EToolUsage. Sets help when asked for it.
TToolOptions ParseToolOptions(const std::vector<std::string>& args, bool& help);

// The knowledge base file the options name. Raises EToolUsage when it is missing or is not a
// knowledge base, having opened it for reading alone.
std::string KnowledgeBaseFileOf(const TToolOptions& options);

// The store the options name, opened for reading alone (ReadOnly) or for writing (Existing);
// raises EToolUsage as KnowledgeBaseFileOf.
std::unique_ptr<TKnowledgeStore> MakeStore(const TToolOptions& options, TOpenMode mode);

// Runs the tool; returns its exit status. interrupted, when given, is asked during long commands
// (export, import), which then stop, leaving nothing behind.
int RunKbTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::function<bool()>& interrupted = {});
