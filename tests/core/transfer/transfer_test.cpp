// Export and import: an export read back into an empty knowledge base gives the same entries byte
// for byte (CSV, whose cells never begin as formulas, JSON, and another knowledge base file);
// import keeps what is stored, says what it skipped and why rows failed, and stores nothing when it
// is cancelled or its file breaks off; through the engine, imported entries are searched at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <sqlite3.h>

#include "core/engine.h"
#include "core/knowledgebase.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "core/transfer/entryexport.h"
#include "core/transfer/entryimport.h"
#include "kbfixture.h"
#include "core/knowledgebase.h"
#include "literalpass.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"
#include "tempdir.h"
#include "textsearch/cvvector.h"

namespace {

TImportSummary ImportFile(const std::string& kbFile, const std::string& path,
                          const TProgress& progress = {}) {
    TSQLiteStore store(kbFile, TOpenMode::Existing);
    return store.ImportEntries(*OpenEntrySource(path), progress, nullptr);
}

void Export(const std::string& kbFile, TExportFormat format, const std::string& path) {
    TSQLiteStore store(kbFile, TOpenMode::ReadOnly);
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(ExportEntries(store, format, out, {}));
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The texts of a Markdown export, read back: the lines between each fence and its closing twin.
std::vector<std::string> MarkdownTexts(const std::string& markdown) {
    std::vector<std::string> texts;
    std::istringstream lines(markdown);
    std::string line, fence;
    while (std::getline(lines, line)) {
        if (fence.empty()) {
            if (line.starts_with("```")) {
                fence = line;
                texts.emplace_back();
            }
        } else if (line == fence) {
            if (!texts.back().empty()) texts.back().pop_back();  // the last line's break
            fence.clear();
        } else {
            texts.back() += line + "\n";
        }
    }
    return texts;
}

// The first character of every field of a CSV file that is not empty (inside its quotes for a
// quoted one).
std::string FieldStarts(std::string_view csv) {
    std::string starts;
    bool atStart = true, quoted = false;
    for (size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (atStart && c != '\r' && c != '\n') {  // an empty field at the end of a record
            atStart = false;
            if (c == '"') {
                quoted = true;
                if (i + 1 < csv.size()) starts += csv[i + 1];
                continue;
            }
            starts += c;
        }
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == ',' || c == '\n') {
            atStart = true;
        }
    }
    return starts;
}

std::string WithLineFeeds(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i] == '\r' ? '\n' : text[i];
    }
    return out;
}

TEST(Transfer, AnExportImportedIntoAnEmptyKnowledgeBaseGivesTheSameEntriesByteForByte) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        TTempDir dir;
        const std::string source = dir.File("source.dat");
        MakeKnowledgeBase(source);
        {
            TSQLiteDatabase DB(source);
            AddScriptEntries(DB, rng, 80);
            kb::SaveEntry(DB, "", "");  // a real save: fresh ID, the user's date format
            // Texts a spreadsheet would run as formulas, and texts with the apostrophe that
            // marks a spreadsheet's text cell.
            const char* formulas[] = {"=1+1",      "+SUM(A1:A9)", "-2", "@cmd", "\tindented",
                                      "\r\nbreak", "'quoted",     "''", "'",    "="};
            for (size_t i = 0; i < std::size(formulas); i += 2)
                kb::SaveEntry(DB, formulas[i], formulas[i + 1]);
        }
        const std::vector<std::string> rows = RowsOf(source);
        for (auto [format, name] :
             {std::pair{TExportFormat::Csv, "csv"}, std::pair{TExportFormat::Json, "json"}}) {
            SCOPED_TRACE(name);
            const std::string exported = dir.File(std::string("export.") + name);
            const std::string target = dir.File(std::string("target-") + name + ".dat");
            Export(source, format, exported);
            MakeKnowledgeBase(target);
            const TImportSummary summary = ImportFile(target, exported);
            EXPECT_EQ(summary.imported, 86u);
            if (format == TExportFormat::Csv) {
                EXPECT_EQ(FieldStarts(FileBytes(exported)).find_first_of("=+-@\t\r"),
                          std::string::npos);
            }
            EXPECT_EQ(summary.failed, 0u) << testing::PrintToString(summary.failures);
            EXPECT_EQ(RowsOf(target), rows);
            // Again: every entry is there already.
            EXPECT_EQ(ImportFile(target, exported).skipped, 86u);
            EXPECT_EQ(RowsOf(target), rows);
        }

        // Markdown, for reading: every text in its own fence, line breaks as LF.
        const std::string markdown = dir.File("export.md");
        Export(source, TExportFormat::Markdown, markdown);
        std::vector<std::string> expected;
        {
            TSQLiteDatabase DB(source, TOpenMode::ReadOnly);
            kb::TEntryCursor entries(DB);
            for (TStoredEntry entry; entries.Next(entry);) {
                expected.push_back(WithLineFeeds(Utf8FromStored(entry.problem)));
                expected.push_back(WithLineFeeds(Utf8FromStored(entry.solution)));
            }
        }
        EXPECT_EQ(MarkdownTexts(FileBytes(markdown)), expected);

        // Another knowledge base file is copied byte for byte, also texts that are not in the
        // form this program writes (marked but not UTF-8; bytes Windows-1252 leaves undefined).
        {
            TSQLiteDatabase DB(source);
            const std::string odd = "\xEF\xBB\xBF\xC3( \x81\x8D\x9D";
            DB.ExecSQL(kb::InsertTextSQL("odd", "", "P", odd));
            DB.ExecSQL(kb::InsertTextSQL("odd", "then", "S", "caf\xE9"));
            DB.ExecSQL(kb::InsertVectorSQL("odd", "P", EncodeCV(odd)->Text()));
            DB.ExecSQL(kb::InsertVectorSQL("odd", "S", EncodeCV("caf\xE9")->Text()));
        }
        const std::string target = dir.File("target-dat.dat");
        MakeKnowledgeBase(target);
        EXPECT_EQ(ImportFile(target, source).imported, 87u);
        EXPECT_EQ(RowsOf(target), RowsOf(source));
    }
}

TEST(Import, SkipsStoredIDsAndGivesEveryFailedRowItsPlaceAndReason) {
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(kbFile);
        DB.ExecSQL(kb::InsertTextSQL("a1", "", "P", "stored"));
        DB.ExecSQL(kb::InsertVectorSQL("a2", "P", "stored=1\r\n"));  // an orphan vector's ID
    }
    // Another program's CSV: a byte-order mark, its own order of columns, an extra one, no
    // created, LF line ends.
    const std::string csv = dir.File("in.csv");
    WriteFile(csv,
              "\xEF\xBB\xBF Problem, ID ,extra,solution\n"
              "p,a1,x,s\n"                                         // 2: stored already
              "p,a2,x,s\n"                                         // 3: stored already (a vector)
              "\"multi\r\nline, \"\"quoted\"\"\",n1,x,\xC5\xBC\n"  // 4: imported
              "\n"                                                 // 6: blank, skipped
              "p,,x,s\n"                                           // 7: no ID
              "p,n2,x\n"                                           // 8: a field short
              "p,n1,x,s\n"                                         // 9: repeats n1
              "\xFF,n3,x,s\n"                                      // 10: not UTF-8
              "\"p\"q,n4,x,s\n"                                    // 11: after a closing quote
              "p,n5,x,s\r\n"                                       // 12: imported
              "\"unclosed,n6,x,s\n");                              // 13: the file ends in it
    const TImportSummary summary = ImportFile(kbFile, csv);
    EXPECT_EQ(summary.imported, 2u);
    EXPECT_EQ(summary.skipped, 3u);
    EXPECT_EQ(summary.failures,
              (std::vector<std::string>{"line 7: the entry has no ID",
                                        "line 8: 3 fields where the first line names 4",
                                        "line 10: the problem text is not valid UTF-8",
                                        "line 11: a character follows a closing quote",
                                        "line 13: a quoted field is not closed"}));
    EXPECT_EQ(summary.failed, summary.failures.size());
    {
        TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly);
        EXPECT_EQ(kb::ReadDescription(DB, "n1", "P"), "multi\r\nline, \"quoted\"");
        EXPECT_EQ(kb::ReadDescription(DB, "n1", "S"), StoredFromUtf8("\xC5\xBC"));
        EXPECT_EQ(DB.GetTableString("select vectordata from vectors where ID='n1' and "
                                    "texttype='P'"),
                  EncodeCV("multi\r\nline, \"quoted\"")->Text());
        EXPECT_EQ(DB.GetTableString("select count(*) from textdata where ID='a1'"), "1");
    }

    // JSON with escapes the export never writes, members in any order and of any kind.
    const std::string json = dir.File("in.json");
    WriteFile(json,
              " [ {\"solution\":\"s\\u00e9\\ud83d\\ude00\\/\",\"problem\":\"p\",\"id\":\"j1\","
              "\"created\":\"c\",\"other\":[1,-2.5e3,{\"x\":null},true]},\n"
              "{\"id\":\"j2\",\"problem\":5,\"solution\":\"s\"},\n"
              "{\"id\":\"j3\",\"solution\":\"s\"},\n"
              "\"not an object\",\n"
              "{\"id\":\"j4\",\"problem\":\"\\ud800\",\"solution\":\"s\"},\n"
              "{\"id\":\"a1\",\"problem\":\"p\",\"solution\":\"s\"}\n] \n");
    const TImportSummary fromJson = ImportFile(kbFile, json);
    EXPECT_EQ(fromJson.imported, 1u);
    EXPECT_EQ(fromJson.skipped, 1u);
    EXPECT_EQ(fromJson.failures,
              (std::vector<std::string>{"entry 2 (line 2): \"problem\" is not a string",
                                        "entry 3 (line 3): the entry has no \"problem\"",
                                        "entry 4 (line 4): the entry is not an object",
                                        "entry 5 (line 5): the problem text is not valid UTF-8"}));
    TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly);
    EXPECT_EQ(kb::ReadDescription(DB, "j1", "S"), StoredFromUtf8("s\xC3\xA9\xF0\x9F\x98\x80/"));
    EXPECT_EQ(DB.GetTableString("select created from textdata where ID='j1' and texttype='S'"),
              "c");
}

TEST(Import, StoresNothingWhenCancelledOrWhenItsFileBreaksOff) {
    TTempDir dir;
    std::mt19937 rng(7);
    const std::string source = dir.File("source.dat"), kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(source);
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(source);
        AddScriptEntries(DB, rng, 1000);
        TSQLiteDatabase target(kbFile);
        AddScriptEntries(target, rng, 5);
    }
    const std::vector<std::string> before = RowsOf(kbFile);
    const std::string csv = dir.File("all.csv"), json = dir.File("all.json");
    Export(source, TExportFormat::Csv, csv);
    Export(source, TExportFormat::Json, json);

    // Cancelled at the first question, after several hundred rows, and at the very end.
    for (int stopAt : {1, 3, 4}) {
        int asked = 0;
        const TImportSummary summary = ImportFile(kbFile, csv, [&](uint64_t done, uint64_t total) {
            EXPECT_LE(done, total);
            return ++asked < stopAt;
        });
        EXPECT_TRUE(summary.cancelled);
        EXPECT_EQ(summary.imported, 0u);
        EXPECT_EQ(RowsOf(kbFile), before);
    }

    // A JSON file cut off in the middle: the entries before the break are not kept either.
    const std::string whole = FileBytes(json);
    WriteFile(json, whole.substr(0, whole.size() / 2));
    EXPECT_THROW(ImportFile(kbFile, json), EImportFile);
    EXPECT_EQ(RowsOf(kbFile), before);

    // Files that are no export at all are refused before anything is read.
    WriteFile(csv, "just some notes\nabout printers\n");
    EXPECT_THROW(OpenEntrySource(csv), EImportFile);
    EXPECT_THROW(OpenEntrySource(dir.File("missing.csv")), EImportFile);
    EXPECT_THROW(OpenEntrySource(dir.Path()), EImportFile);
    {
        TSQLiteDatabase other(dir.File("other.db"));
        other.ExecSQL("create table notes (t text)");
    }
    EXPECT_THROW(OpenEntrySource(dir.File("other.db")), EImportFile);
    EXPECT_EQ(RowsOf(kbFile), before);
}

TEST(Import, ThroughTheEngineImportedEntriesAreSearchedAtOnce) {
    TTempDir dir;
    std::mt19937 rng(11);
    const std::string source = dir.File("source.dat"), kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(source);
    {
        TSQLiteDatabase DB(source);
        DB.ExecSQL("PRAGMA synchronous=OFF");  // a test file: no disk syncs
        FillRandomly(DB, rng, 300);
        AddScriptEntries(DB, rng, 50);
    }
    {
        TSQLiteDatabase DB(kbFile);
        DB.ExecSQL("PRAGMA synchronous=OFF");
        kb::CreateMissingTables(DB);
        FillRandomly(DB, rng, 100);
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
    const std::string query = "printer jam toner driver";
    auto waitIdle = [&] {
        for (int i = 0; i < 30000 && !engine.Idle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    engine.Search(query);
    waitIdle();

    const std::string exported = dir.File("export.json");
    {
        std::ofstream out(exported, std::ios::binary);
        TSQLiteStore store(source, TOpenMode::ReadOnly);
        ASSERT_TRUE(ExportEntries(store, TExportFormat::Json, out, {}));
    }
    const int passes = engine.PassesRun();
    const TImportSummary summary = engine.Import(*OpenEntrySource(exported));
    EXPECT_GT(summary.imported, 300u);
    waitIdle();
    // The import searched the last text again, over old and new entries alike.
    EXPECT_GT(engine.PassesRun(), passes);
    TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_TRUE(last);
    EXPECT_EQ(HitsOf(*last), LiteralPass(*EncodeCV(query), DB));
}

TEST(Import, AKnowledgeBaseWhoseTextsAreComputedIsRefusedWhole) {
    TTempDir dir;
    const std::string foreign = dir.File("foreign.dat");
    {
        TSQLiteDatabase DB(foreign);
        DB.ExecSQL(
            "create table textdata (ID varchar(40), created text, credited varchar(255), "
            "texttype varchar(1), description text generated always as (zeroblob(1000000)) "
            "virtual)");
        DB.ExecSQL("create table vectors (ID varchar(40), texttype varchar(1), vectordata text)");
        DB.ExecSQL("insert into textdata (ID, texttype) values ('a', 'P'), ('a', 'S')");
        DB.ExecSQL("create table settings (ID varchar(40), value varchar(40))");
    }
    EXPECT_THROW(OpenEntrySource(foreign), EImportFile);
}

}  // namespace

namespace {

// A text of exactly size bytes: blanks (which cost the term vector nothing) between two words.
std::string LongText(size_t size, char last = 'z') {
    std::string text(size, ' ');
    text.replace(0, 4, "long");
    text.back() = last;
    return text;
}

// The most memory SQLite held while run ran.
int64_t SQLitePeakDuring(const std::function<void()>& run) {
    sqlite3_int64 current = 0, peak = 0;
    sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &current, &peak, 1);
    run();
    sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &current, &peak, 0);
    return peak;
}

}  // namespace

TEST(Import, ATextOverTheLimitFailsItsRowAndIsNeverReadWhole) {
    constexpr size_t kLimit = kMaxImportedText;
    TTempDir dir;
    const std::string kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(kbFile);
    auto stored = [&](const std::string& ID) {
        TSQLiteDatabase DB(kbFile, TOpenMode::ReadOnly);
        return kb::ReadDescription(DB, ID, "P");
    };

    // CSV: at the limit passes, also after the apostrophe an export puts before '='; one byte
    // over fails, quoted or not; the rows after an overlong field are read as ever.
    const std::string csv = dir.File("in.csv");
    {
        std::ofstream out(csv, std::ios::binary);
        out << "id,problem,solution\r\n"
            << "a," << LongText(kLimit) << ",s\r\n"                      // 2
            << "b," << LongText(kLimit + 1) << ",s\r\n"                  // 3: over
            << "c,'=" << LongText(kLimit - 1) << ",s\r\n"                // 4
            << "d,s,\"\"\"" << LongText(kLimit, '\n') << "\"\r\n"  // 5: over, quoted
            << "f,after,s\r\n";                                          // 7
    }
    TImportSummary summary = ImportFile(kbFile, csv);
    EXPECT_EQ(summary.imported, 3u);
    EXPECT_EQ(summary.failures,
              (std::vector<std::string>{"line 3: the problem text is over 16 MB",
                                        "line 5: the solution text is over 16 MB"}));
    EXPECT_EQ(stored("a"), LongText(kLimit));
    EXPECT_EQ(stored("c"), "=" + LongText(kLimit - 1));
    EXPECT_EQ(stored("f"), "after");

    // JSON: the limit counts the UTF-8 bytes an escape stands for.
    const std::string json = dir.File("in.json");
    {
        std::ofstream out(json, std::ios::binary);
        out << "[{\"id\":\"j1\",\"problem\":\"" << LongText(kLimit - 2) << "\\u00e9\","
            << "\"solution\":\"s\"},\n"
            << "{\"id\":\"j2\",\"problem\":\"" << LongText(kLimit - 1) << "\\u00e9\","
            << "\"solution\":\"s\"},\n"
            << "{\"id\":\"j3\",\"problem\":\"p\",\"solution\":\"s\"}]\n";
    }
    summary = ImportFile(kbFile, json);
    EXPECT_EQ(summary.imported, 2u);
    EXPECT_EQ(summary.failures,
              (std::vector<std::string>{"entry 2 (line 2): the problem text is over 16 MB"}));
    EXPECT_EQ(stored("j1"), StoredFromUtf8(LongText(kLimit - 2) + "\xC3\xA9"));

    // Another knowledge base file: texts stored as text at and over the limit.
    const std::string foreign = dir.File("foreign.dat");
    MakeKnowledgeBase(foreign);
    {
        TSQLiteDatabase DB(foreign);
        const std::string half = std::to_string(kLimit / 2);
        DB.ExecSQL("insert into textdata values ('k1','',NULL,'P',hex(zeroblob(" + half + ")))");
        DB.ExecSQL("insert into textdata values ('k1','',NULL,'S','s')");
        DB.ExecSQL("insert into textdata values ('k2','',NULL,'P','p')");
        DB.ExecSQL("insert into textdata values ('k2','',NULL,'S',hex(zeroblob(" + half +
                   "))||'0')");
    }
    summary = ImportFile(kbFile, foreign);
    EXPECT_EQ(summary.imported, 1u);
    EXPECT_EQ(summary.failures,
              (std::vector<std::string>{"entry k2: the solution text is over 16 MB"}));
    EXPECT_EQ(stored("k1"), std::string(kLimit, '0'));

    // A blob far over the limit is failed on its length alone: SQLite never holds it.
    const std::string blob = dir.File("blob.dat");
    MakeKnowledgeBase(blob);
    {
        TSQLiteDatabase DB(blob);
        DB.ExecSQL("PRAGMA synchronous=OFF");
        DB.ExecSQL("insert into textdata values ('z1','',NULL,'P',zeroblob(" +
                   std::to_string(2 * kLimit) + "))");
        DB.ExecSQL("insert into textdata values ('z2','',NULL,'P','p')");
    }
    const int64_t peak = SQLitePeakDuring([&] { summary = ImportFile(kbFile, blob); });
    EXPECT_EQ(summary.imported, 1u);
    EXPECT_EQ(summary.failures,
              (std::vector<std::string>{"entry z1: the problem text is over 16 MB"}));
    EXPECT_LT(peak, static_cast<int64_t>(kLimit / 4));
}

namespace {

// A stored text of any form a file may hold, NUL-free: empty; Windows-1252 bytes of every code;
// the mark before bytes that are mostly no UTF-8; the mark before UTF-8 that Windows-1252 could
// hold, or could not; two marks; the form this program makes of a text.
std::string AnyStoredText(std::mt19937& rng) {
    auto bytes = [&rng](size_t most) {
        std::string text(std::uniform_int_distribution<size_t>(0, most)(rng), ' ');
        for (char& c : text)
            c = static_cast<char>(std::uniform_int_distribution<int>(1, 255)(rng));
        return text;
    };
    const std::string mark(kUtf8Mark);
    switch (std::uniform_int_distribution<int>(0, 7)(rng)) {
        case 0:
            return "";
        case 1:
            return bytes(40);
        case 2:
            return mark + bytes(20);
        case 3:
            return mark + Utf8FromStored(bytes(20));  // what Windows-1252 can hold, as UTF-8
        case 4:
            return mark + ScriptText(rng, 4);
        case 5:
            return mark + mark + bytes(10);
        case 6:
            return mark;
        default:
            return StoredFromUtf8(ScriptText(rng, 4));
    }
}

}  // namespace

TEST(Transfer, EveryStoredTextAndNullCreatedValueComesBackByteForByteFromCsvAndJson) {
    TTempDir dir;
    const std::string source = dir.File("source.dat");
    MakeKnowledgeBase(source);
    {
        std::mt19937 rng(25);
        TSQLiteDatabase DB(source);
        DB.ExecSQL("BEGIN");
        for (int i = 0; i < 400; ++i) {
            const std::string ID = "e" + std::to_string(i);
            const int kind = std::uniform_int_distribution<int>(0, 2)(rng);
            const std::string created = kind == 0 ? "NULL" : kind == 1 ? "''" : "'2024-05-06 07:08'";
            for (const char* type : {"P", "S"}) {
                const std::string text = AnyStoredText(rng);
                DB.ExecSQL("insert into textdata values ('" + ID + "'," + created + ",NULL,'" + type +
                           "','" + kb::DoubleApostrophes(text) + "')");
                DB.ExecSQL(kb::InsertVectorSQL(ID, type, EncodeCV(text)->Text()));
            }
        }
        DB.ExecSQL("COMMIT");
    }
    const std::vector<std::string> rows = RowsOf(source);
    for (auto [format, name] :
         {std::pair{TExportFormat::Csv, "csv"}, std::pair{TExportFormat::Json, "json"}}) {
        SCOPED_TRACE(name);
        const std::string exported = dir.File(std::string("all.") + name);
        const std::string target = dir.File(std::string("to-") + name + ".dat");
        {
            TSQLiteStore store(source, TOpenMode::ReadOnly);
            ASSERT_TRUE(ExportToFile(exported, source, [&](std::ostream& out) {
                return ExportEntries(store, format, out, {});
            }));
        }
        MakeKnowledgeBase(target);
        const TImportSummary summary = ImportFile(target, exported);
        EXPECT_EQ(summary.failures, std::vector<std::string>{});
        EXPECT_EQ(summary.imported, 400u);
        EXPECT_EQ(RowsOf(target), rows);
    }

    // An export without forms (an older one) imports as it always did: an empty created value
    // is '', a text that begins with U+FEFF is stored after the mark.
    const std::string old = dir.File("old.csv"), target = dir.File("old.dat");
    WriteFile(old, "id,created,problem,solution\r\no1,,\xEF\xBB\xBFhello,caf\xC3\xA9\r\n");
    MakeKnowledgeBase(target);
    EXPECT_EQ(ImportFile(target, old).imported, 1u);
    TSQLiteDatabase DB(target, TOpenMode::ReadOnly);
    EXPECT_EQ(DB.GetTableString("select typeof(created)||created from textdata where ID='o1' and "
                                "texttype='P'"),
              "text");
    EXPECT_EQ(kb::ReadDescription(DB, "o1", "P"), "\xEF\xBB\xBF\xEF\xBB\xBFhello");
    EXPECT_EQ(kb::ReadDescription(DB, "o1", "S"), "caf\xE9");
}
