#include "kbtool/kbtool.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <unordered_set>

#include "backup.h"
#include "entryexport.h"
#include "entryimport.h"
#include "kbtool/kbcheck.h"
#include "knowledgebase.h"
#include "searchindex.h"
#include "sqlitestore.h"
#include "storedtext.h"
#include "textsearch/cvrules.h"
#include "textsearch/cvvector.h"
#include "textsearch/scoretext.h"

namespace fs = std::filesystem;

namespace {

// How long a command waits for a program's write to the file to end (as the store's own
// connections of a tool do).
constexpr int kBusyMs = 10000;

constexpr std::string_view kUsage =
    "usage: pelloquin-kb [--file PATH] COMMAND [ARGUMENT...]\n"
    "\n"
    "  search TEXT                        the hits the program lists for TEXT, best first\n"
    "  export --format csv|json|md [OUT]  every entry, to OUT or the standard output\n"
    "  import FILE                        the new entries of an export or a knowledge base file\n"
    "  backup OUT                         a checked copy of the knowledge base\n"
    "  check                              what is damaged in the knowledge base\n"
    "  stats                              entries, texts, terms and the size of the file\n"
    "\n"
    "Without --file: the knowledge base the program opens.\n";

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

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

TProgress ProgressOf(const std::function<bool()>& interrupted) {
    if (!interrupted) return {};
    return [&interrupted](uint64_t, uint64_t) { return !interrupted(); };
}

int Search(const TToolOptions& options, std::ostream& out) {
    const std::string text =
        OneArgument(options, "the problem text (in quotes when it has several words)");
    const auto store = MakeStore(options, TOpenMode::ReadOnly);
    TSearchIndex index;
    store->LoadAll(index);
    // As the engine's pass: the typed text in its stored form, vectorised, searched.
    const auto pass = index.Search(*EncodeCV(StoredFromUtf8(text)));
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

int Export(const TToolOptions& options, std::ostream& out,
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
    const std::string kbFile = KnowledgeBaseFileOf(options);
    if (path && SameFile(*path, kbFile)) {
        throw EBadArguments("the export would overwrite the knowledge base");
    }
    const auto store = MakeStore(options, TOpenMode::ReadOnly);
    if (!path) {
        if (!ExportEntries(*store, *format, out, ProgressOf(interrupted))) {
            throw Exception("the export was cancelled");
        }
        return kExitOk;
    }
    bool whole = false;
    try {
        std::ofstream file(*path, std::ios::binary | std::ios::trunc);
        if (!file) throw Exception("cannot write " + *path);
        whole = ExportEntries(*store, *format, file, ProgressOf(interrupted));
        file.close();
        if (whole && !file) throw Exception("cannot write " + *path);
    } catch (...) {
        std::error_code ignored;
        fs::remove(*path, ignored);
        throw;
    }
    if (!whole) {
        std::error_code ignored;
        fs::remove(*path, ignored);
        throw Exception("the export was cancelled");
    }
    return kExitOk;
}

int Import(const TToolOptions& options, std::ostream& out, std::ostream& err,
           const std::function<bool()>& interrupted) {
    const std::string path = OneArgument(options, "the file to import");
    const std::string kbFile = KnowledgeBaseFileOf(options);
    if (SameFile(path, kbFile)) throw EBadArguments("a knowledge base cannot import itself");
    std::unique_ptr<TEntrySource> source;
    try {
        source = OpenEntrySource(path);
    } catch (const ESQLiteException& e) {
        throw EToolUsage(path + " cannot be read: " + e.what());
    } catch (const EImportFile& e) {
        throw EToolUsage(e.what());
    }
    const auto store = MakeStore(options, TOpenMode::Existing);
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

int Backup(const TToolOptions& options) {
    const std::string path = OneArgument(options, "the file to write the copy to");
    const std::string kbFile = KnowledgeBaseFileOf(options);
    if (SameFile(path, kbFile)) throw EBadArguments("the copy would overwrite the knowledge base");
    BackUpNow(kbFile, path);
    return kExitOk;
}

int Check(const TToolOptions& options, std::ostream& out) {
    NoArguments(options);
    TSQLiteDatabase DB(KnowledgeBaseFileOf(options), TOpenMode::ReadOnly, kBusyMs);
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

int Stats(const TToolOptions& options, std::ostream& out) {
    NoArguments(options);
    const std::string kbFile = KnowledgeBaseFileOf(options);
    TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly, kBusyMs);
    std::unordered_set<std::string> terms;
    {
        TSQLiteCursor vectors(DB, "select vectordata from vectors");
        std::string name;
        while (vectors.Next()) {
            cvrules::ForEachStoredLine(vectors.Text(0), [&](std::string_view line) {
                name.assign(cvrules::NameOf(line));
                terms.insert(name);
            });
        }
    }
    out << "entries: " << kb::CountEntries(DB)
        << "\ntexts: " << DB.GetTable("select count(*) from textdata")->FieldAsInteger(0)
        << "\nterms: " << terms.size() << "\nfile size: " << fs::file_size(kbFile) << " bytes\n";
    return kExitOk;
}

}  // namespace

TToolOptions ParseToolOptions(const std::vector<std::string>& args, bool& help) {
    TToolOptions options;
    help = false;
    bool haveFile = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options.command.empty()) {
            options.arguments.push_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return options;
        } else if (arg == "--file" || arg.starts_with("--file=")) {
            if (haveFile) throw EBadArguments("--file is given twice");
            haveFile = true;
            if (arg == "--file") {
                if (i + 1 == args.size()) throw EBadArguments("--file needs a path");
                options.file = args[++i];
            } else {
                options.file = arg.substr(7);
            }
            if (options.file.empty()) throw EBadArguments("--file needs a path");
        } else if (arg.starts_with("-")) {
            throw EBadArguments("there is no option " + arg);
        } else {
            options.command = arg;
        }
    }
    static const std::unordered_set<std::string> kCommands = {"search", "export", "import",
                                                              "backup", "check",  "stats"};
    if (options.command.empty()) throw EBadArguments("no command given");
    if (!kCommands.contains(options.command)) {
        throw EBadArguments("there is no command " + options.command);
    }
    return options;
}

std::string KnowledgeBaseFileOf(const TToolOptions& options) {
    const std::string file =
        options.file.empty() ? kb::KnowledgeBaseFile(kb::KnowledgeBaseDirectory()) : options.file;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!fs::exists(status)) throw EToolUsage("there is no knowledge base at " + file);
    if (!fs::is_regular_file(status)) throw EToolUsage(file + " is not a knowledge base file");
    try {
        TSQLiteDatabase DB(file, TOpenMode::ReadOnly, kBusyMs);
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

std::unique_ptr<TKnowledgeStore> MakeStore(const TToolOptions& options, TOpenMode mode) {
    auto store = std::make_unique<TSQLiteStore>(KnowledgeBaseFileOf(options), mode);
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
        const std::string& command = options.command;
        if (command == "search") return Search(options, out);
        if (command == "export") return Export(options, out, interrupted);
        if (command == "import") return Import(options, out, err, interrupted);
        if (command == "backup") return Backup(options);
        if (command == "check") return Check(options, out);
        return Stats(options, out);
    } catch (const EBadArguments& e) {
        err << "pelloquin-kb: " << e.what() << "\nTry 'pelloquin-kb --help'.\n";
        return kExitUsage;
    } catch (const EToolUsage& e) {
        err << "pelloquin-kb: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "pelloquin-kb: " << e.what() << '\n';
        return kExitFailed;
    }
}
