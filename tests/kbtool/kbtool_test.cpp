// pelloquin-kb: search prints exactly the engine's pass (and the plain row-by-row pass) with the
// list's scores; check finds each kind of damage it names and nothing on a sound file; bad
// arguments and files that are no knowledge base give status 2 and are never changed; stats
// counts; an import killed at any moment leaves the knowledge base as it was, and an export that
// outgrows the file size limit leaves the file it was to replace.
#include "kbtool/kbtool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "core/engine.h"
#include "core/transfer/entryexport.h"
#include "kbfixture.h"
#include "core/knowledgebase.h"
#include "literalpass.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"
#include "textsearch/scoretext.h"
#include "textsearch/similarity.h"

namespace {

namespace fs = std::filesystem;

struct TRun {
    int status;
    std::string out, err;
};

TRun Tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunKbTool(args, out, err);
    return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A field as the tool must write it.
std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

TEST(KbToolSearch, PrintsTheEnginesPassInItsOrderWithTheListsScoresAndTextTypes) {
    TTempDir dir;
    std::mt19937 rng(17);
    const std::string kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(kbFile);
        DB.ExecSQL("PRAGMA synchronous=OFF");  // a test file: no disk syncs
        FillRandomly(DB, rng, 400);
        AddScriptEntries(DB, rng, 150);
    }
    std::mutex mutex;
    std::shared_ptr<TSearchPass> last;
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [&](std::shared_ptr<TSearchPass> pass) {
        std::lock_guard<std::mutex> lock(mutex);
        last = std::move(pass);
    };
    TKnowledgeEngine engine(std::make_unique<TSQLiteStore>(kbFile), std::move(callbacks));
    ASSERT_EQ(engine.OpenNow().error, "");
    TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly);

    std::vector<std::string> queries = {"printer", "printer jam paper tray", "Принтер", ""};
    for (int i = 0; i < 12; ++i)
        queries.push_back(i % 2 ? ScriptText(rng, 5) : RandomText(rng, 6));
    size_t lines = 0;
    for (const std::string& query : queries) {
        SCOPED_TRACE(query);
        const TRun run = Tool({"--file", kbFile, "search", "--ranking", "classic", query});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<std::string> printed = Lines(run.out);
        lines += printed.size();

        engine.Search(StoredFromUtf8(query));
        for (int i = 0; i < 30000 && !engine.Idle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::shared_ptr<TSearchPass> pass;
        {
            std::lock_guard<std::mutex> lock(mutex);
            pass = last;
        }
        ASSERT_TRUE(pass);
        const auto queryVector = EncodeCV(StoredFromUtf8(query));
        std::vector<std::string> expected;
        for (int p = pass->tree->Count() - 1; p >= 0; --p) {
            const TcvResults& hit = *pass->tree->Items(p)->data;
            const std::string_view type = pass->TextTypeOf(hit);
            expected.push_back(ScoreText(hit.Proximity) + "\t" + Escaped(LabelUtf8(hit.ID)) + "\t" +
                               std::string(type) + "\t" + Escaped(hit.Title) + "\t" +
                               Escaped(hit.excerpt));
            // The text type is the one of the text that scored: its vector gives the score.
            TcvVector stored;
            stored.SetText(DB.GetTableString("select vectordata from vectors where ID='" +
                                             kb::DoubleApostrophes(hit.ID) + "' and texttype='" +
                                             std::string(type) + "'"));
            EXPECT_EQ(Proximity(*queryVector, stored), hit.Proximity);
        }
        EXPECT_EQ(printed, expected);

        // And the plain pass, row by row, agrees on every score, ID, title and excerpt.
        const std::vector<THit> literal = LiteralPass(*queryVector, DB);
        ASSERT_EQ(printed.size(), literal.size());
        for (size_t i = 0; i < literal.size(); ++i) {
            std::vector<std::string> fields(1);
            for (char c : printed[i]) {
                if (c == '\t')
                    fields.emplace_back();
                else
                    fields.back() += c;
            }
            ASSERT_EQ(fields.size(), 5u) << printed[i];
            EXPECT_EQ(fields[0], ScoreText(literal[i].score));
            EXPECT_EQ(fields[1], Escaped(LabelUtf8(literal[i].ID)));
            EXPECT_EQ(fields[3], Escaped(literal[i].Title));
            EXPECT_EQ(fields[4], Escaped(literal[i].excerpt));
        }
    }
    EXPECT_GT(lines, 500u);  // the queries do find things
}

// The knowledge base with one kind of damage, and what check must say about it.
struct TDamage {
    const char* name;
    std::vector<std::string> statements;
    std::vector<std::string> findings;
};

TEST(KbToolCheck, FindsEachKindOfDamageItNamesAndNothingOnASoundFile) {
    TTempDir dir;
    std::mt19937 rng(23);
    const std::string sound = dir.File("sound.dat");
    MakeKnowledgeBase(sound);
    std::string A;
    {
        TSQLiteDatabase DB(sound);
        AddScriptEntries(DB, rng, 40);
        A = kb::SaveEntry(DB, "printer jams", "clean the rollers");
        kb::SaveEntry(DB, "", "");
    }
    const TRun clean = Tool({"--file", sound, "check"});
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.out, "");

    const std::string where = " where ID='" + A + "' and texttype='P'";
    const std::string vector = "update vectors set vectordata=";
    const std::vector<TDamage> damages = {
        {"no settings", {"drop table settings"}, {"settings: the table is missing"}},
        {"no FONTSIZE", {"delete from settings"}, {"settings: there is no FONTSIZE row"}},
        {"FONTSIZE not a number",
         {"update settings set value='12pt'"},
         {"settings: FONTSIZE '12pt' is not a whole number"}},
        {"no problem text", {"delete from textdata" + where}, {"entry " + A + ": no problem text"}},
        {"no solution vector",
         {"delete from vectors where ID='" + A + "' and texttype='S'"},
         {"entry " + A + ": no solution vector"}},
        {"no texts at all",
         {"delete from textdata where ID='" + A + "'"},
         {"orphan vector " + A + " P", "orphan vector " + A + " S"}},
        {"an orphan vector",
         {"insert into vectors values ('ghost','P','printer=1\r\n')"},
         {"orphan vector ghost P"}},
        {"another text type",
         {"insert into textdata values ('" + A + "','',NULL,'X','x')"},
         {"entry " + A + ": a text of unknown text type 'X'"}},
        {"a count that is no number",
         {vector + "'printer=x\r\njam=1\r\n'" + where},
         {"vector " + A + " P: line 1 'printer=x' is not term=count"}},
        {"a line without =",
         {vector + "'printer=1\r\njam\r\n'" + where},
         {"vector " + A + " P: line 2 'jam' is not term=count"}},
        {"a line without a term",
         {vector + "'=4'" + where},
         {"vector " + A + " P: line 1 '=4' is not term=count"}},
        {"an empty count",
         {vector + "'jam='" + where},
         {"vector " + A + " P: line 1 'jam=' is not term=count"}},
        {"a negative count",
         {vector + "'jam=-2'" + where},
         {"vector " + A + " P: line 1 'jam=-2' is not term=count"}},
        {"an overflowing count",
         {vector + "'jam=99999999999'" + where},
         {"vector " + A + " P: line 1 'jam=99999999999' is not term=count"}},
        {"a NUL",
         {vector + "'printer=1'||char(0)||'x'" + where},
         {"vector " + A + " P: it holds a NUL character"}},
        {"a vector of another text",
         {vector + "'" + EncodeCV("scanner offline")->Text() + "'" + where},
         {"vector " + A + " P: not the term vector of its text"}},
        {"a trigger",
         {"create trigger grab after insert on textdata begin "
          "insert into settings values ('copied', new.ID); end"},
         {"schema: a trigger grab on textdata"}},
        {"a view", {"create view peek as select * from textdata"}, {"schema: a view peek"}},
        {"a generated column",
         {"alter table textdata add column shout text generated always as "
          "(upper(description)) virtual"},
         {"schema: a generated column shout in textdata"}},
        {"marked but not UTF-8",
         {"update textdata set description=cast(x'EFBBBFC328' as text)" + where,
          vector + "'" + EncodeCV("\xEF\xBB\xBF\xC3(")->Text() + "'" + where},
         {"text " + A + " P: marked as UTF-8 but not valid UTF-8"}},
    };
    for (const TDamage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const std::string file = dir.File("damaged.dat");
        fs::copy_file(sound, file, fs::copy_options::overwrite_existing);
        {
            TSQLiteDatabase DB(file);
            for (const std::string& statement : damage.statements)
                DB.ExecSQL(statement);
        }
        const TRun run = Tool({"--file", file, "check"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Lines(run.out), damage.findings);
    }

    // A damaged page: an index entry of textdata overwritten in the file.
    const std::string file = dir.File("damaged.dat");
    fs::copy_file(sound, file, fs::copy_options::overwrite_existing);
    int64_t page = 0, pageSize = 0;
    {
        TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
        page = DB.GetTable(
                     "select rootpage+0 from sqlite_master where name like "
                     "'sqlite_autoindex_textdata%'")
                   ->FieldAsInteger(0);
        pageSize = DB.GetTable("PRAGMA page_size")->FieldAsInteger(0);
    }
    {
        std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
        bytes.seekp(page * pageSize - 40);
        bytes.write("zzzzzzzzzzzzzzzzzzzz", 20);
    }
    const TRun run = Tool({"--file", file, "check"});
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.out.empty());
    EXPECT_TRUE(run.out.starts_with("integrity: ")) << run.out;
}

TEST(KbTool, BadArgumentsAndFilesThatAreNoKnowledgeBaseGiveStatusTwoAndStayAsTheyWere) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    MakeOneEntryKnowledgeBase(kbFile);
    const std::string text = dir.File("notes.txt"), empty = dir.File("empty.dat"),
                      other = dir.File("other.db"), missing = dir.File("missing.dat"),
                      out = dir.File("out");
    std::ofstream(text) << "id,created,problem,solution\r\n1,,a,b\r\n";
    std::ofstream(empty).flush();
    TSQLiteDatabase(other).ExecSQL("create table textdata (x)");  // no vectors
    const std::vector<std::string> files = {kbFile, text, empty, other};
    std::vector<std::string> before;
    for (const std::string& f : files)
        before.push_back(FileBytes(f));

    std::vector<std::vector<std::string>> runs = {
        {},
        {"--help-me"},
        {"--file"},
        {"--file=", "stats"},
        {"--file", kbFile, "--file", kbFile, "stats"},
        {"--file", kbFile},
        {"--file", kbFile, "frobnicate"},
        {"--file", kbFile, "search"},
        {"--file", kbFile, "search", "two", "texts"},
        {"--file", kbFile, "export"},
        {"--file", kbFile, "export", "--format", "xml"},
        {"--file", kbFile, "export", "--format"},
        {"--file", kbFile, "export", "--format", "csv", kbFile},
        {"--file", kbFile, "export", "--format", "csv", "a", "b"},
        {"--file", kbFile, "import"},
        {"--file", kbFile, "import", missing},
        {"--file", kbFile, "import", dir.Path()},
        {"--file", kbFile, "import", empty},
        {"--file", kbFile, "import", other},
        {"--file", kbFile, "import", kbFile},
        {"--file", kbFile, "backup"},
        {"--file", kbFile, "backup", kbFile},
        {"--file", kbFile, "check", "extra"},
        {"--file", kbFile, "stats", "extra"},
    };
    for (const std::string& file : {text, empty, other, missing, dir.Path()}) {
        for (std::vector<std::string> command : {std::vector<std::string>{"search", "printer"},
                                                 {"export", "--format", "json", out},
                                                 {"import", text},
                                                 {"backup", out},
                                                 {"check"},
                                                 {"stats"}}) {
            // An import makes a file that is not there (its own test).
            if (file == missing && command[0] == "import") continue;
            command.insert(command.begin(), {"--file", file});
            runs.push_back(command);
        }
    }
    for (const auto& args : runs) {
        SCOPED_TRACE(testing::PrintToString(args));
        const TRun run = Tool(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("pelloquin-kb: ")) << run.err;
        EXPECT_EQ(run.out, "");
    }
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(FileBytes(files[i]), before[i]) << files[i];
    for (const char* left : {"missing.dat", "out", "kb.dat-journal", "other.db-journal"})
        EXPECT_FALSE(fs::exists(dir.File(left))) << left;
    EXPECT_EQ(Tool({"--help"}).status, 0);
}

TEST(KbToolImport, IntoAFileThatIsNotThereMakesTheKnowledgeBaseFirstAndAForeignFileStaysRefused) {
    TTempDir dir;
    const std::string source = dir.File("source.dat"), csv = dir.File("all.csv");
    MakeOneEntryKnowledgeBase(source);
    ASSERT_EQ(Tool({"--file", source, "export", "--format", "csv", csv}).status, 0);

    // Nothing is made for a file that cannot be imported.
    const std::string fresh = dir.File("new.dat"), notes = dir.File("notes.txt");
    std::ofstream(notes) << "just some notes\n";
    EXPECT_EQ(Tool({"--file", fresh, "import", notes}).status, 2);
    EXPECT_FALSE(fs::exists(fresh));

    const TRun run = Tool({"--file", fresh, "import", csv});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "imported: 1\nskipped, already stored: 0\nfailed: 0\n");
    EXPECT_EQ(RowsOf(fresh), RowsOf(source));
    EXPECT_EQ(TSQLiteDatabase(fresh, TOpenMode::ReadOnly).GetTableString(kb::kSelectFontSize),
              "10");

    const std::string foreign = dir.File("foreign.db");
    TSQLiteDatabase(foreign).ExecSQL("create table notes (t text)");
    const std::string before = FileBytes(foreign);
    EXPECT_EQ(Tool({"--file", foreign, "import", csv}).status, 2);
    EXPECT_EQ(FileBytes(foreign), before);
}

TEST(KbTool, StatsCountEntriesTextsDistinctTermsAndBytes) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(kbFile);
        kb::SaveEntry(DB, "printer jams", "Printers jammed");  // one term each: printer, jam
        kb::SaveEntry(DB, "toner", "");
        DB.ExecSQL("insert into vectors values ('orphan','P','scanner=1\r\n')");
    }
    const TRun run = Tool({"--file", kbFile, "stats"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "entries: 2\ntexts: 4\nterms: 4\nhistory: 0 versions, 0 bytes\ndeleted entries: "
              "0\nfile size: " +
                  std::to_string(fs::file_size(kbFile)) + " bytes\n");
}

// history, deleted, restore and prune-history; the reading ones leave an earlier version's file
// as it was, without the history table.
TEST(KbToolHistory, ListsRestoresAndPrunesAndReadingLeavesAnEarlierFileAsItWas) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    {
        TSQLiteDatabase DB(kbFile);
        DB.ExecSQL(kb::kCreateTextdata);
        DB.ExecSQL(kb::kCreateVectors);
        DB.ExecSQL(kb::kCreateSettings);
        DB.ExecSQL(kb::kInsertFontSize);
        kb::SaveEntry(DB, "printer jams\r\nin tray 2", "clean the rollers");
    }
    const std::string bytes = FileBytes(kbFile);
    TSQLiteDatabase look(kbFile, TOpenMode::ReadOnly);
    const std::string ID = look.GetTableString("select ID from textdata limit 1");
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"history", ID}, {"deleted"}, {"stats"}}) {
        std::vector<std::string> args{"--file", kbFile};
        args.insert(args.end(), command.begin(), command.end());
        EXPECT_EQ(Tool(args).status, 0) << command[0];
    }
    EXPECT_EQ(FileBytes(kbFile), bytes);
    EXPECT_FALSE(look.TableExists("history"));

    {
        TSQLiteStore store(kbFile);
        store.Open();
        store.SetWriterName("ana");
        store.ReplaceEntry(ID, "printer squeaks", "oil it", {}, nullptr);
        store.DeleteEntry(ID, nullptr);
    }
    auto history = Lines(Tool({"--file", kbFile, "history", ID}).out);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_TRUE(history[0].ends_with("\tdeleted\tana\tprinter squeaks")) << history[0];
    EXPECT_TRUE(history[1].ends_with("\tedited\tana\tprinter jams")) << history[1];
    const auto deleted = Lines(Tool({"--file", kbFile, "deleted"}).out);
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_TRUE(deleted[0].ends_with("\tana\t" + ID + "\tprinter squeaks")) << deleted[0];
    EXPECT_NE(Tool({"--file", kbFile, "stats"}).out.find("history: 2 versions"), std::string::npos);

    // The first version back, by its number; then a version that is not there.
    const std::string first = history[1].substr(0, history[1].find('\t'));
    EXPECT_EQ(Tool({"--file", kbFile, "restore", ID, first}).status, 0);
    EXPECT_EQ(kb::ReadDescription(look, ID, kb::kProblem), "printer jams\r\nin tray 2");
    EXPECT_EQ(Tool({"--file", kbFile, "restore", ID, "9999"}).status, kExitFailed);
    EXPECT_EQ(Tool({"--file", kbFile, "restore", ID, "x"}).status, kExitUsage);
    // Back from a delete: nothing replaced, no version more; no longer deleted.
    EXPECT_EQ(Lines(Tool({"--file", kbFile, "history", ID}).out).size(), 2u);
    EXPECT_EQ(Tool({"--file", kbFile, "deleted"}).out, "");
    EXPECT_EQ(Tool({"--file", kbFile, "prune-history"}).status, kExitUsage);
    EXPECT_EQ(Tool({"--file", kbFile, "prune-history", "--older-than", "1"}).out,
              "removed: 0 versions\n");
    // The search the program runs finds the entry restored.
    TKnowledgeEngine engine(std::make_unique<TSQLiteStore>(kbFile), {});
    ASSERT_EQ(engine.OpenNow().error, "");
    EXPECT_EQ(engine.LiveTexts(), 2u);
}

// Starts pelloquin-kb on args with its output thrown away, its files no larger than fileLimit.
pid_t Start(const std::vector<std::string>& args, rlim_t fileLimit = RLIM_INFINITY) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(PELLOQUIN_KB_TOOL)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(PELLOQUIN_KB_TOOL, argv.data());
        _exit(127);
    }
    return pid;
}

TEST(KbToolImport, AnImportKilledAtAnyMomentLeavesTheKnowledgeBaseAsItWas) {
    TTempDir dir;
    std::mt19937 rng(29);
    const std::string source = dir.File("source.dat"), kbFile = dir.File("kb.dat");
    const std::string csv = dir.File("entries.csv");
    MakeKnowledgeBase(source);
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(source);
        AddScriptEntries(DB, rng, 1000, 150);  // megabytes: more than the import's cache holds
        TSQLiteDatabase target(kbFile);
        AddScriptEntries(target, rng, 30);
    }
    {
        TSQLiteStore store(source, TOpenMode::ReadOnly);
        std::ofstream out(csv, std::ios::binary);
        ASSERT_TRUE(ExportEntries(store, TExportFormat::Csv, out, {}));
    }
    const std::vector<std::string> rows = RowsOf(kbFile);
    const std::string bytes = FileBytes(kbFile);
    int killedWriting = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const pid_t pid = Start({"--file", kbFile, "import", csv});
        // Killed soon after the import has begun to write (its journal is there), or, every
        // other round, after its pages outgrew its cache and went into the file itself.
        auto begun = [&] {
            return round % 2 ? fs::file_size(kbFile) != bytes.size()
                             : fs::exists(kbFile + "-journal");
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        bool ended = false;
        while (!begun() && std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_FALSE(ended) << "the import ended before it could be killed";
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 200)(rng)));
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the import ended before it was killed";
        // Once the import's pages outgrow its cache, it writes them into the file.
        killedWriting += FileBytes(kbFile) != bytes;
        // The next program to open the file for writing rolls the import back.
        {
            TSQLiteDatabase DB(kbFile);
            EXPECT_EQ(DB.GetTableString("PRAGMA integrity_check"), "ok");
        }
        EXPECT_EQ(RowsOf(kbFile), rows);
        EXPECT_EQ(FileBytes(kbFile), bytes);
    }
    RecordProperty("kills_after_the_file_was_written", killedWriting);
    EXPECT_GT(killedWriting, 0);
}

TEST(KbToolExport, AnExportThatOutgrowsTheFileSizeLimitFailsAndLeavesTheOldFile) {
    TTempDir dir;
    std::mt19937 rng(31);
    const std::string kbFile = dir.File("kb.dat"), old = dir.File("entries.csv");
    MakeKnowledgeBase(kbFile);
    AddScriptEntries(*std::make_unique<TSQLiteDatabase>(kbFile), rng, 200);
    std::ofstream(old) << "the export of last week";
    const pid_t pid = Start({"--file", kbFile, "export", "--format", "csv", old}, 8192);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    EXPECT_EQ(WEXITSTATUS(status), kExitFailed);
    EXPECT_EQ(FileBytes(old), "the export of last week");
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
}

}  // namespace

namespace {

// The names of the files in a folder.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(KbTool, NoJournalLogOrSharedMemoryFileIsLeftBesideASourceOrAFailedCopy) {
    TTempDir dir;
    std::mt19937 rng(11);
    const std::string wal = dir.File("wal.dat"), kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(wal);
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(wal);
        AddScriptEntries(DB, rng, 300, 40);
        DB.GetTable("PRAGMA journal_mode=WAL");
    }
    ASSERT_EQ(Names(dir.Path()), (std::set<std::string>{"kb.dat", "wal.dat"}));

    // A file in write-ahead-log mode that nothing has open: read, imported from, copied.
    const std::vector<std::vector<std::string>> reads = {
        {"--file", wal, "check"},
        {"--file", wal, "stats"},
        {"--file", wal, "search", "printer"},
        {"--file", wal, "export", "--format", "csv", dir.File("all.csv")},
        {"--file", kbFile, "import", wal},
        {"--file", wal, "backup", dir.File("copy.dat")},
        {"--file", dir.File("copy.dat"), "check"}};
    for (const auto& args : reads) {
        SCOPED_TRACE(args[2]);
        EXPECT_EQ(Tool(args).status, kExitOk);
    }
    EXPECT_EQ(Names(dir.Path()),
              (std::set<std::string>{"all.csv", "copy.dat", "kb.dat", "wal.dat"}));

    // Open elsewhere, its -wal and -shm are that connection's, and stay; nothing else is left.
    {
        TSQLiteDatabase other(wal);
        other.GetTable("select count(*) from textdata");
        ASSERT_TRUE(fs::exists(wal + "-wal"));
        fs::remove(dir.File("copy.dat"));
        EXPECT_EQ(Tool({"--file", wal, "backup", dir.File("copy.dat")}).status, kExitOk);
        EXPECT_EQ(Tool({"--file", dir.File("fresh.dat"), "import", wal}).status, kExitOk);
        EXPECT_EQ(Names(dir.Path()),
                  (std::set<std::string>{"all.csv", "copy.dat", "fresh.dat", "kb.dat", "wal.dat",
                                         "wal.dat-shm", "wal.dat-wal"}));
    }

    // A copy that fails part-way (a file size limit), of either journal mode, leaves nothing.
    for (const std::string& source : {wal, kbFile}) {
        SCOPED_TRACE(source);
        const auto before = Names(dir.Path());
        const pid_t pid = Start({"--file", source, "backup", dir.File("small.dat")}, 64 << 10);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
        EXPECT_EQ(Names(dir.Path()), before);
    }
}
