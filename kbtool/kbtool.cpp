#include "kbtool/kbtool.h"

#include <charconv>
#include <ctime>
#include <filesystem>
#include <optional>
#include <ostream>
#include <unordered_set>

#include "core/transfer/backup.h"
#include "core/transfer/entryexport.h"
#include "core/transfer/entryimport.h"
#include "core/transfer/targetfile.h"
#include "kbtool/kbcheck.h"
#include "kbtool/kbserver.h"
#include "core/knowledgebase.h"
#include "core/store/pgstore.h"
#include "core/searchindex.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "port/localformat.h"
#include "textsearch/cvvector.h"
#include "textsearch/scoretext.h"

namespace fs = std::filesystem;

namespace {

// How long a command waits for a program's write to the file to end (as the store's own
// connections of a tool do).
constexpr int kBusyMs = 10000;

constexpr std::string_view kUsage =
    "usage: pelloquin-kb [--file PATH | --server CONNINFO] COMMAND [ARGUMENT...]\n"
    "\n"
    "  search [--ranking best|classic] TEXT\n"
    "                                     the hits the program lists for TEXT, best first\n"
    "  export --format csv|json|md [OUT]  every entry, to OUT or the standard output\n"
    "  import FILE                        the new entries of an export or a knowledge base file\n"
    "  backup OUT                         a checked copy of the knowledge base file\n"
    "  check                              what is damaged in the knowledge base file\n"
    "  stats                              entries, texts, terms, the size of the file and of\n"
    "                                     the history\n"
    "  history ID                         the earlier versions of an entry, newest first\n"
    "  deleted                            the deleted entries, newest first\n"
    "  restore ID [VERSION]               brings back an entry deleted, or an earlier version\n"
    "                                     (default: the newest kept)\n"
    "  prune-history --older-than DAYS    removes the versions replaced more than DAYS ago\n"
    "\n"
    "--server names an office server: a connection string (\"host=kb.office dbname=kb\"),\n"
    "a postgresql:// URI or a service name. Without --file or --server: the knowledge base\n"
    "the program opens, or the one PELLOQUIN_DATABASE names.\n";

// Bad arguments, as opposed to an unusable file: the usage hint follows the message.
class EBadArguments : public EToolUsage {
public:
    using EToolUsage::EToolUsage;
};

void NoArguments(const TToolOptions& options) {
    if (!options.arguments.empty()) {
        throw EBadArguments(options.command + " takes no arguments");
    }
}

std::string OneArgument(const TToolOptions& options, std::string_view what) {
    if (options.arguments.size() != 1) {
        throw EBadArguments(options.command + " takes one argument: " + std::string(what));
    }
    return options.arguments[0];
}

// The file of a file choice, the default one for "" (its folder not made).
std::string FileOf(const TStoreChoice& choice) {
    return choice.where.empty() ? kb::KnowledgeBaseFile(kb::KnowledgeBaseDirectory())
                                : choice.where;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

TProgress ProgressOf(const std::function<bool()>& interrupted) {
    if (!interrupted) return {};
    return [&interrupted](uint64_t, uint64_t) { return !interrupted(); };
}

// backup and check read a file's pages; a server keeps its own.
void RequireFile(const TToolOptions& options, const TStoreChoice& choice) {
    if (!choice.IsServer()) return;
    throw EToolUsage(options.command +
                     " works on a knowledge base file, not on an office server; export saves "
                     "the server's entries");
}

int Search(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    std::optional<TRanking> ranking;
    std::vector<std::string> rest;
    const auto& args = options.arguments;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name;
        if (args[i] == "--ranking") {
            if (i + 1 == args.size()) throw EBadArguments("--ranking needs best or classic");
            name = args[++i];
        } else if (args[i].starts_with("--ranking=")) {
            name = args[i].substr(10);
        } else {
            rest.push_back(args[i]);
            continue;
        }
        ranking = RankingNamed(name);
        if (!ranking) throw EBadArguments("there is no ranking " + name);
    }
    if (rest.size() != 1) {
        throw EBadArguments(
            "search takes one argument: the problem text (in quotes when it has several words)");
    }
    const std::string& text = rest[0];
    const auto store = MakeStore(choice, TOpenMode::ReadOnly);
    TSearchIndex index(ranking.value_or(SavedRanking()));
    store->LoadAll(index);
    index.Settle();
    // As the engine's pass: the typed text in its stored form, searched (for Classic,
    // vectorised); the whole text, as if typed and the caret moved on.
    const auto pass = index.Ranking() == TRanking::BestMatch
                          ? index.SearchBest(StoredFromUtf8(text), false)
                          : index.Search(*EncodeCV(StoredFromUtf8(text)));
    for (int p = pass->tree->Count() - 1; p >= 0; --p) {
        const auto* node = pass->tree->Items(p);
        if (!node || !node->data) continue;
        const TcvResults& hit = *node->data;
        out << ScoreText(hit.Proximity) << '\t' << OutputField(LabelUtf8(hit.ID)) << '\t'
            << OutputField(LabelUtf8(pass->TextTypeOf(hit))) << '\t' << OutputField(hit.Title)
            << '\t' << OutputField(hit.excerpt) << '\n';
    }
    return kExitOk;
}

int Export(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out,
           const std::function<bool()>& interrupted) {
    std::optional<TExportFormat> format;
    std::optional<std::string> path;
    const auto& args = options.arguments;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name;
        if (args[i] == "--format") {
            if (i + 1 == args.size()) throw EBadArguments("--format needs csv, json or md");
            name = args[++i];
        } else if (args[i].starts_with("--format=")) {
            name = args[i].substr(9);
        } else if (!path && !args[i].starts_with("-")) {
            path = args[i];
            continue;
        } else {
            throw EBadArguments("export does not take " + args[i]);
        }
        format = ExportFormatNamed(name);
        if (!format) throw EBadArguments("there is no export format " + name);
    }
    if (!format) throw EBadArguments("export needs --format csv, json or md");
    const std::string kbFile = choice.IsServer() ? std::string() : KnowledgeBaseFileOf(choice);
    const auto store = MakeStore(choice, TOpenMode::ReadOnly);
    auto write = [&](std::ostream& to) {
        return ExportEntries(*store, *format, to, ProgressOf(interrupted));
    };
    if (!(path ? ExportToFile(*path, kbFile, write) : write(out))) {
        throw Exception("the export was cancelled");
    }
    return kExitOk;
}

int Import(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out,
           std::ostream& err, const std::function<bool()>& interrupted) {
    const std::string path = OneArgument(options, "the file to import");
    // A file that is not there yet is made as the program makes it at its first start, once the
    // file to import is known to be one.
    std::error_code error;
    const bool newFile =
        !choice.IsServer() && !fs::exists(fs::symlink_status(FileOf(choice), error));
    if (!choice.IsServer() && !newFile && SameFile(path, KnowledgeBaseFileOf(choice))) {
        throw EBadArguments("a knowledge base cannot import itself");
    }
    std::unique_ptr<TEntrySource> source;
    try {
        source = OpenEntrySource(path);
    } catch (const ESQLiteException& e) {
        throw EToolUsage(path + " cannot be read: " + e.what());
    } catch (const EImportFile& e) {
        throw EToolUsage(e.what());
    }
    if (newFile) TSQLiteStore(ChoiceFile(choice), TOpenMode::Create).Open();
    const auto store = MakeStore(choice, TOpenMode::Existing);
    const TImportSummary summary = store->ImportEntries(*source, ProgressOf(interrupted), nullptr);
    if (summary.cancelled) throw Exception("the import was cancelled; nothing was imported");
    for (const std::string& failure : summary.failures)
        err << "pelloquin-kb: " << path << ", " << failure << '\n';
    if (summary.failed > summary.failures.size()) {
        err << "pelloquin-kb: " << summary.failed - summary.failures.size()
            << " more rows failed\n";
    }
    out << "imported: " << summary.imported << "\nskipped, already stored: " << summary.skipped
        << "\nfailed: " << summary.failed << '\n';
    return summary.failed == 0 ? kExitOk : kExitFailed;
}

int Backup(const TToolOptions& options, const TStoreChoice& choice) {
    const std::string path = OneArgument(options, "the file to write the copy to");
    RequireFile(options, choice);
    BackUpNow(KnowledgeBaseFileOf(choice), path);
    return kExitOk;
}

int Check(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    NoArguments(options);
    RequireFile(options, choice);
    const std::string kbFile = KnowledgeBaseFileOf(choice);
    TSQLiteDatabase DB(kbFile, ReadingMode(kbFile), kBusyMs);
    std::vector<std::string> findings;
    try {
        findings = CheckKnowledgeBase(DB);
    } catch (const ESQLiteException& e) {
        findings.push_back(std::string("integrity: ") + e.what());  // too damaged to go on
    }
    for (const std::string& finding : findings)
        out << finding << '\n';
    return findings.empty() ? kExitOk : kExitFailed;
}

void PrintHistorySize(const THistorySize& size, std::ostream& out) {
    out << "history: " << size.versions << " versions, " << size.bytes << " bytes\n"
        << "deleted entries: " << size.deleted << '\n';
}

int Stats(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    NoArguments(options);
    if (choice.IsServer()) {
        // The server's tables have no size of the kind a file has: the counts alone.
        const TKbCounts counts = TServerLook(choice.where).Counts();
        out << "entries: " << counts.entries << "\ntexts: " << counts.texts
            << "\nterms: " << counts.terms << '\n';
        PrintHistorySize(MakeStore(choice, TOpenMode::ReadOnly)->HistorySize(), out);
        return kExitOk;
    }
    const std::string kbFile = KnowledgeBaseFileOf(choice);
    TSQLiteDatabase DB(kbFile, ReadingMode(kbFile), kBusyMs);
    std::unordered_set<std::string> terms;
    {
        TSQLiteCursor vectors(DB, "select vectordata from vectors");
        while (vectors.Next())
            AddTermsOf(vectors.Text(0), terms);
    }
    out << "entries: " << kb::CountEntries(DB)
        << "\ntexts: " << DB.GetTable("select count(*) from textdata")->FieldAsInteger(0)
        << "\nterms: " << terms.size() << '\n';
    // Before the file's size, which a server has not: the lines the server prints come first.
    PrintHistorySize(kb::HistorySize(DB), out);
    out << "file size: " << fs::file_size(kbFile) << " bytes\n";
    return kExitOk;
}

// A whole number of at least min, or bad arguments saying what.
int64_t WholeNumber(const std::string& text, int64_t min, const std::string& what) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min) throw EBadArguments(what);
    return value;
}

// The first line of a stored text, as UTF-8.
std::string FirstLine(std::string_view stored) {
    std::string text = Utf8FromStored(stored);
    text.resize(std::min(text.find_first_of("\r\n"), text.size()));
    return text;
}

std::string_view EventName(char event) {
    return event == 'D' ? "deleted" : "edited";
}

int History(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    const std::string ID = OneArgument(options, "the entry's ID");
    const auto store = MakeStore(choice, TOpenMode::ReadOnly);
    for (const TEntryVersion& v : store->History(StoredFromUtf8(ID))) {
        out << v.seq << '\t' << OutputField(FormatDateTime(v.at)) << '\t' << EventName(v.event)
            << '\t' << OutputField(LabelUtf8(v.who)) << '\t'
            << OutputField(FirstLine(v.entry.problem)) << '\n';
    }
    return kExitOk;
}

int Deleted(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    NoArguments(options);
    const auto store = MakeStore(choice, TOpenMode::ReadOnly);
    for (const TEntryVersion& v : store->Deleted()) {
        out << OutputField(FormatDateTime(v.at)) << '\t' << OutputField(LabelUtf8(v.who)) << '\t'
            << OutputField(LabelUtf8(v.entry.ID)) << '\t'
            << OutputField(FirstLine(v.entry.problem)) << '\n';
    }
    return kExitOk;
}

int Restore(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    const auto& args = options.arguments;
    if (args.empty() || args.size() > 2) {
        throw EBadArguments("restore takes the entry's ID and, if not the newest, a version");
    }
    const int64_t seq =
        args.size() == 2 ? WholeNumber(args[1], 1, "a version is a number that history lists")
                         : 0;
    const auto store = MakeStore(choice, TOpenMode::Existing);
    store->Restore(StoredFromUtf8(args[0]), seq, nullptr);
    out << "restored: " << args[0] << '\n';
    return kExitOk;
}

int PruneHistory(const TToolOptions& options, const TStoreChoice& choice, std::ostream& out) {
    const auto& args = options.arguments;
    std::optional<std::string> days;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--older-than" && i + 1 < args.size() && !days) {
            days = args[++i];
        } else if (args[i].starts_with("--older-than=") && !days) {
            days = args[i].substr(13);
        } else {
            throw EBadArguments("prune-history takes --older-than DAYS");
        }
    }
    if (!days) throw EBadArguments("prune-history needs --older-than DAYS");
    const int64_t count = WholeNumber(*days, 0, "--older-than needs a number of days");
    if (count > 1000000) throw EBadArguments("--older-than needs a number of days");
    const int64_t cutoff = static_cast<int64_t>(std::time(nullptr)) - count * 86400;
    const auto store = MakeStore(choice, TOpenMode::Existing);
    out << "removed: " << store->PruneHistory(cutoff) << " versions\n";
    return kExitOk;
}

}  // namespace

TToolOptions ParseToolOptions(const std::vector<std::string>& args, bool& help) {
    TToolOptions options;
    help = false;
    bool haveFile = false, haveServer = false;
    // --NAME VALUE or --NAME=VALUE, once, with a value that is not empty.
    auto valueOption = [&](size_t& i, std::string_view name, std::string_view what, bool& have,
                           std::string& value) {
        const std::string& arg = args[i];
        const std::string option = "--" + std::string(name);
        if (arg != option && !arg.starts_with(option + "=")) return false;
        if (have) throw EBadArguments(option + " is given twice");
        have = true;
        if (arg == option) {
            if (i + 1 == args.size()) throw EBadArguments(option + " needs " + std::string(what));
            value = args[++i];
        } else {
            value = arg.substr(option.size() + 1);
        }
        if (value.empty()) throw EBadArguments(option + " needs " + std::string(what));
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options.command.empty()) {
            options.arguments.push_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return options;
        } else if (valueOption(i, "file", "a path", haveFile, options.file) ||
                   valueOption(i, "server", "a connection string", haveServer, options.server)) {
            if (haveFile && haveServer) {
                throw EBadArguments("--file and --server cannot be given together");
            }
        } else if (arg.starts_with("-")) {
            throw EBadArguments("there is no option " + arg);
        } else {
            options.command = arg;
        }
    }
    static const std::unordered_set<std::string> kCommands = {
        "search", "export", "import",  "backup",       "check",
        "stats",  "history", "deleted", "restore", "prune-history"};
    if (options.command.empty()) throw EBadArguments("no command given");
    if (!kCommands.contains(options.command)) {
        throw EBadArguments("there is no command " + options.command);
    }
    return options;
}

TStoreChoice ChoiceOf(const TToolOptions& options) {
    if (!options.file.empty()) return FileChoice(options.file);
    if (!options.server.empty()) {
        try {
            return ServerChoice(options.server);
        } catch (const Exception& e) {
            throw EBadArguments("--server needs a connection string that can be read: " +
                                std::string(e.what()));
        }
    }
    return CurrentChoice();
}

std::string KnowledgeBaseFileOf(const TStoreChoice& choice) {
    const std::string file = FileOf(choice);
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status)) throw EToolUsage("there is no knowledge base at " + file);
    if (!fs::is_regular_file(status)) throw EToolUsage(file + " is not a knowledge base file");
    try {
        TSQLiteDatabase DB(file, ReadingMode(file), kBusyMs);
        if (!kb::IsKnowledgeBase(DB)) throw kb::ENotAKnowledgeBase(file);
    } catch (const kb::ENotAKnowledgeBase& e) {
        throw EToolUsage(e.what());
    } catch (const ESQLiteException& e) {
        // SQLite's reason is enough here; the statement it came from is the layer's own.
        std::string_view reason = e.what();
        if (const size_t at = reason.rfind("\" : "); at != std::string_view::npos) {
            reason.remove_prefix(at + 4);
        }
        std::string message = file + " is not a knowledge base: " + std::string(reason);
        if (fs::exists(file + "-journal", error)) {
            message +=
                " (a program stopped while writing to it; the next program that opens it for "
                "writing, such as Pelloquin, restores it)";
        }
        throw EToolUsage(message);
    }
    return file;
}

std::unique_ptr<TKnowledgeStore> MakeStore(const TStoreChoice& choice, TOpenMode mode) {
    if (choice.IsServer()) {
        TServerLook{choice.where};  // reachable, and with the tables, which Open would make
        auto store = std::make_unique<TPgStore>(choice.where);
        store->Open();
        return store;
    }
    auto store = std::make_unique<TSQLiteStore>(KnowledgeBaseFileOf(choice), mode);
    store->Open();
    return store;
}

int RunKbTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::function<bool()>& interrupted) {
    try {
        bool help = false;
        const TToolOptions options = ParseToolOptions(args, help);
        if (help) {
            out << kUsage;
            return kExitOk;
        }
        const TStoreChoice choice = ChoiceOf(options);
        const std::string& command = options.command;
        if (command == "search") return Search(options, choice, out);
        if (command == "export") return Export(options, choice, out, interrupted);
        if (command == "import") return Import(options, choice, out, err, interrupted);
        if (command == "backup") return Backup(options, choice);
        if (command == "check") return Check(options, choice, out);
        if (command == "history") return History(options, choice, out);
        if (command == "deleted") return Deleted(options, choice, out);
        if (command == "restore") return Restore(options, choice, out);
        if (command == "prune-history") return PruneHistory(options, choice, out);
        return Stats(options, choice, out);
    } catch (const EBadArguments& e) {
        err << "pelloquin-kb: " << e.what() << "\nTry 'pelloquin-kb --help'.\n";
        return kExitUsage;
    } catch (const EToolUsage& e) {
        err << "pelloquin-kb: " << e.what() << '\n';
        return kExitUsage;
    } catch (const ETargetRefused& e) {
        err << "pelloquin-kb: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "pelloquin-kb: " << e.what() << '\n';
        return kExitFailed;
    }
}
