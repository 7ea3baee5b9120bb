// Faults from outside the program, met through the real main window: a knowledge base that cannot
// be written, a file that is not a knowledge base, a knowledge base locked by another process,
// damaged settings, damaged or orphaned vector rows, and texts with a NUL byte or a megabyte of
// text. Each one ends in a clear error box (or in none, where the damage can be stepped over),
// with the program still running and nothing stored lost.
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <csignal>

#include <QClipboard>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "core/knowledgebase.h"
#include "core/storedtext.h"
#include "textsearch/locks.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "textsearch/similarity.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "ui/widgets/qtext.h"
#include "uitest.h"

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every row of the three tables, in a fixed order, through a connection of its own.
std::string Contents(const std::string& file) {
    TSQLiteDatabase DB(file);
    std::string dump;
    for (const char* query : {"select ID,texttype,created,description from textdata order by 1,2",
                              "select ID,texttype,vectordata from vectors order by 1,2",
                              "select ID,value from settings order by 1,2"}) {
        auto t = DB.GetTable(query);
        for (; !t->Eof(); t->Next()) {
            for (unsigned c = 0; c < t->ColCount(); ++c)
                dump += t->FieldAsString(c) + "|";
            dump += "\n";
        }
        dump += "--\n";
    }
    return dump;
}

// The knowledge base's directory made read-only for the rest of a scope, the file itself left
// writable. Root writes through every permission, so a test run as root also gives up its
// effective user ID for the scope (to nobody's), and the operating system then refuses the
// journal that SQLite must create beside the file before any write, as it does for any user.
class TReadOnlyDirectory {
public:
    explicit TReadOnlyDirectory(const std::string& dir) : fdir(dir) {
        using fs::perms;
        fs::permissions(kb::KnowledgeBaseFile(dir), perms::group_write | perms::others_write,
                        fs::perm_options::add);
        fs::permissions(dir, perms::owner_read | perms::owner_exec | perms::group_read |
                                 perms::group_exec | perms::others_read | perms::others_exec);
        if (geteuid() == 0) fdropped = seteuid(kNobody) == 0;
    }
    ~TReadOnlyDirectory() {
        if (fdropped) {
            (void)!seteuid(0);
            // Changing IDs made the process undumpable, which would keep LeakSanitizer out.
            prctl(PR_SET_DUMPABLE, 1);
        }
        fs::permissions(fdir, fs::perms::owner_all);
    }
    TReadOnlyDirectory(const TReadOnlyDirectory&) = delete;
    TReadOnlyDirectory& operator=(const TReadOnlyDirectory&) = delete;

    // Whether writes are refused: false only for root when giving up its ID failed.
    bool Effective() const { return geteuid() != 0; }

private:
    static constexpr uid_t kNobody = 65534;
    std::string fdir;
    bool fdropped = false;
};

// Another process (the sqlite3 command) holding a write transaction on the file until released.
class TOtherWriter {
public:
    explicit TOtherWriter(const std::string& file) : ffile(file) {
        const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (sqlite.isEmpty()) return;
        fprocess.start(sqlite, {QString::fromStdString(file)});
        if (!fprocess.waitForStarted(5000)) return;
        Send("BEGIN IMMEDIATE;\ninsert into settings values ('OTHER','kept');\n");
        fholding = WaitUntil([&] { return IsLocked(); }, 10000);
    }
    ~TOtherWriter() {
        if (fprocess.state() != QProcess::NotRunning) {
            Send(".quit\n");
            fprocess.closeWriteChannel();
            if (!fprocess.waitForFinished(5000)) fprocess.kill();
        }
    }
    TOtherWriter(const TOtherWriter&) = delete;
    TOtherWriter& operator=(const TOtherWriter&) = delete;

    bool Holding() const { return fholding; }
    // Commits its transaction and ends.
    void Commit() {
        Send("COMMIT;\n.quit\n");
        fprocess.closeWriteChannel();
        fprocess.waitForFinished(5000);
    }

private:
    void Send(const char* commands) {
        fprocess.write(commands);
        fprocess.waitForBytesWritten(5000);
    }
    // Whether a writer of our own would find the file locked.
    bool IsLocked() const {
        sqlite3* probe = nullptr;
        sqlite3_open_v2(ffile.c_str(), &probe, SQLITE_OPEN_READWRITE, nullptr);
        const int rc = sqlite3_exec(probe, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(probe);
        return rc == SQLITE_BUSY;
    }

    std::string ffile;
    QProcess fprocess;
    bool fholding = false;
};

class FaultTest : public MainWindowTest {
protected:
    std::string File() const { return kb::KnowledgeBaseFile(dir.Path()); }

    // A knowledge base holding these entries, written before the window opens.
    std::vector<std::string> Seed(
        std::initializer_list<std::pair<std::string, std::string>> entries,
        const std::string& thenSQL = {}) {
        std::vector<std::string> ids;
        TSQLiteDatabase DB(File());
        kb::CreateMissingTables(DB);
        for (const auto& [problem, solution] : entries)
            ids.push_back(kb::SaveEntry(DB, problem, solution));
        if (!thenSQL.empty()) DB.ExecSQL(thenSQL);
        return ids;
    }

    void Search(const QString& text) {
        form->ProblemText->setPlainText(text);
        WaitForSearches();
    }
    std::vector<std::string> ShownTitles() const {
        std::vector<std::string> titles;
        for (int p = form->ScoredHits().Count() - 1; p >= 0; --p)
            titles.emplace_back(form->ScoredHits().Items(p)->data->Title);
        return titles;
    }

    // The view window of the hit at rank (0 = best), opened by a click on its caption.
    TShowItem* OpenView(int rank) {
        vRenderPanel& panel = *form->Results;
        int seen = -1;
        const TcvResults* last = nullptr;
        for (int y = 0; y < panel.height(); ++y) {
            panel.Hover(10, y);
            panel.repaint();
            const TcvResults* r = panel.Hover(10, y);
            if (r && r != last && ++seen == rank) {
                const std::string ID(r->ID);
                QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(10, y + 2));
                WaitForWrites();
                return form->ViewWindows().Find(ID);
            }
            last = r;
        }
        ADD_FAILURE() << "no hit at rank " << rank;
        return nullptr;
    }

    // The latest box is an error box titled with the program's title, saying begin...contains.
    void ExpectError(const std::string& begin, const std::string& contains = {}) {
        ASSERT_FALSE(dialogs->shown.empty());
        const auto& box = dialogs->shown.back();
        EXPECT_TRUE(box.error);
        EXPECT_EQ(box.title, kApplicationTitle);
        EXPECT_TRUE(box.text.startsWith(QString::fromStdString(begin))) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QString::fromStdString(contains))) << box.text.toStdString();
        EXPECT_TRUE(box.text.endsWith(".")) << box.text.toStdString();
    }

    // No error path left the queue's lock held or the hourglass showing. (A search may still
    // hold the lock for a moment; a lock left held would keep it for good.)
    void ExpectNothingLeftHeld() {
        WaitForSearches();
        bool free = false;
        std::thread other([&] {
            TLockGuard lock(form->Session().TEST_Engine().TEST_DataLock(), 2000);
            free = lock.Owns();
        });
        other.join();
        EXPECT_TRUE(free);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    int Rows(const std::string& table) {
        TSQLiteDatabase DB(File());
        return static_cast<int>(DB.GetTable("select count(*) from " + table)->FieldAsInteger(0));
    }
};

TEST_F(FaultTest, AKnowledgeBaseThatCannotBeWrittenRefusesEachWriteAndKeepsEverything) {
    const auto ids = Seed({{"printer jams", "clean the rollers"}, {"scanner offline", "replug"}});
    TForm1& f = Open();
    f.show();
    const std::string before = Contents(File());
    {
        TReadOnlyDirectory readOnly(dir.Path());
        if (!readOnly.Effective()) GTEST_SKIP() << "root could not give up its user ID";
        // Reading goes on: the search still lists what is stored.
        Search("printer");
        EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer jams..."}));

        f.ProblemText->setPlainText("monitor flickers");
        f.SolutionText->setPlainText("replace the cable");
        f.Button1->click();
        WaitForWrites(f.Session());
        ASSERT_EQ(dialogs->Errors(), 1);
        ExpectError("The entry was not saved. Error executing SQL statement",
                    "attempt to write a readonly database");
        EXPECT_EQ(f.ProblemText->toPlainText(), "monitor flickers");
        EXPECT_EQ(f.SolutionText->toPlainText(), "replace the cable");
        ExpectNothingLeftHeld();

        // Delete from the view window: the entry, its window and its hit all stay.
        Search("printer");
        TShowItem* window = OpenView(0);
        ASSERT_NE(window, nullptr);
        dialogs->answers = {QMessageBox::Yes};
        window->Button1->click();
        WaitForWrites();
        ASSERT_EQ(dialogs->Errors(), 2);
        ExpectError("Error executing SQL statement", "attempt to write a readonly database");
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(f.ViewWindows().Find(ids[0]), window);
        Search("printer jams");
        EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer jams..."}));
        ExpectNothingLeftHeld();

        // A text size change shows at once but cannot be stored.
        f.Larger1->trigger();
        ASSERT_EQ(dialogs->Errors(), 3);
        ExpectError("Error executing SQL statement \"update settings");
        EXPECT_EQ(f.FontSize(), 11);
        EXPECT_EQ(Contents(File()), before);

        // A start in this state goes through (it writes back an unchanged size, which needs no
        // journal) and searches as usual, and changes nothing either.
        f.ProblemText->clear();
        f.SolutionText->clear();
        f.close();
        Open();
        EXPECT_EQ(dialogs->Errors(), 3);
        EXPECT_EQ(form->FontSize(), 10);
        Search("printer");
        EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer jams..."}));
        form.reset();
        EXPECT_EQ(Contents(File()), before);
    }
    // Writable again: the texts kept in the boxes can be saved at last, and deleting works.
    dialogs->shown.clear();
    TForm1& g = Open();
    g.ProblemText->setPlainText("monitor flickers");
    g.SolutionText->setPlainText("replace the cable");
    g.Button1->click();
    WaitForWrites(g.Session());
    DeleteNow(g.Session(), ids[1]);
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_EQ(Rows("textdata"), 4);
    Search("monitor");
    EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"monitor flickers..."}));
}

TEST_F(FaultTest, AFileThatIsNotAKnowledgeBaseIsReportedAndNeverWrittenTo) {
    // Text where the database should be, and a knowledge base whose first page was overwritten.
    std::string text;
    while (text.size() < 5000)
        text += "These are my notes, not a database. ";
    std::string damaged;
    {
        TTempDir other;
        {
            TSQLiteDatabase DB(kb::KnowledgeBaseFile(other.Path()));
            kb::CreateMissingTables(DB);
            kb::SaveEntry(DB, "printer jams", "clean the rollers");
        }
        damaged = ReadBytes(kb::KnowledgeBaseFile(other.Path()));
        std::fill(damaged.begin() + 100, damaged.begin() + 1000, '\x5a');
    }
    for (const auto& [kind, bytes] :
         {std::pair<std::string, std::string>{"text", text}, {"damaged", damaged}}) {
        SCOPED_TRACE(kind);
        std::ofstream(File(), std::ios::binary) << bytes;
        dialogs->shown.clear();
        TForm1& f = Open();
        f.show();
        ASSERT_EQ(dialogs->Errors(), 1);
        ExpectError("Error executing SQL");
        const QString reason = dialogs->shown.back().text;
        EXPECT_TRUE(reason.contains("file is not a database") || reason.contains("malformed"))
            << reason.toStdString();

        // The window works on: typing finds nothing, saving says it did not, texts stay.
        Search("printer jams");
        EXPECT_EQ(f.ScoredHits().Count(), 0);
        f.ProblemText->setPlainText("printer jams");
        f.SolutionText->setPlainText("clean the rollers");
        f.Button1->click();
        WaitForWrites(f.Session());
        EXPECT_EQ(dialogs->Errors(), 2);
        ExpectError("The entry was not saved.");
        EXPECT_EQ(f.ProblemText->toPlainText(), "printer jams");
        f.Larger1->trigger();
        ExpectNothingLeftHeld();
        dialogs->answers = {QMessageBox::No};
        EXPECT_TRUE(f.close());
        form.reset();
        EXPECT_EQ(ReadBytes(File()), bytes);
        EXPECT_FALSE(fs::exists(File() + "-journal"));
    }
}

TEST_F(FaultTest, AKnowledgeBaseLockedByAnotherProcessFailsSaveAndDeleteWithoutLoss) {
    const auto ids = Seed({{"printer jams", "clean the rollers"}});
    TForm1& f = Open();
    f.show();
    const std::string before = Contents(File());
    TOtherWriter other(File());
    if (!other.Holding()) GTEST_SKIP() << "the sqlite3 command is not available";

    f.ProblemText->setPlainText("printer offline");
    f.SolutionText->setPlainText("restart the spooler");
    f.Button1->click();
    WaitForWrites(f.Session());
    ASSERT_EQ(dialogs->Errors(), 1);
    ExpectError("The entry was not saved. Error executing SQL statement", "database is locked");
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer offline");
    ExpectNothingLeftHeld();

    Search("printer jams");
    TShowItem* window = OpenView(0);
    ASSERT_NE(window, nullptr);
    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    ASSERT_EQ(dialogs->Errors(), 2);
    ExpectError("Error executing SQL statement", "database is locked");
    EXPECT_TRUE(window->isVisible());
    Search("printer jams");
    EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer jams..."}));
    ExpectNothingLeftHeld();
    EXPECT_EQ(Contents(File()), before);

    // Once the other process has committed, both its write and ours go in, and so does the delete.
    other.Commit();
    f.ProblemText->setPlainText("printer offline");
    f.SolutionText->setPlainText("restart the spooler");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 2);
    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    EXPECT_EQ(dialogs->Errors(), 2);
    EXPECT_EQ(f.ViewWindows().Find(ids[0]), nullptr);
    TSQLiteDatabase DB(File());
    EXPECT_EQ(DB.GetTableString("select value from settings where ID='OTHER'"), "kept");
    EXPECT_EQ(Rows("textdata"), 2);
    EXPECT_EQ(Rows("vectors"), 2);
    Search("printer");
    EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer offline..."}));
}

struct TSettingsDamage {
    const char* damage;
    const char* message;
};

class DamagedTextSize : public FaultTest, public testing::WithParamInterface<TSettingsDamage> {};

TEST_P(DamagedTextSize, IsReportedAtStartAndTheEntriesStaySafe) {
    Seed({{"printer jams", "clean the rollers"}}, GetParam().damage);
    const std::string before = Contents(File());
    TForm1& f = Open();
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(dialogs->shown.back().text, GetParam().message);
    EXPECT_EQ(dialogs->shown.back().title, kApplicationTitle);
    EXPECT_EQ(Contents(File()), before);

    // A save goes through and brings every entry, old and new, into the search.
    f.ProblemText->setPlainText("printer offline");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 1);
    Search("printer");
    EXPECT_EQ(f.ScoredHits().Count(), 2);
    form.reset();
    EXPECT_EQ(Rows("textdata"), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DamagedTextSize,
    testing::Values(TSettingsDamage{"Delete from settings where ID='FONTSIZE'",
                                    "Table is at End of File."},
                    TSettingsDamage{"update settings set value='large' where ID='FONTSIZE'",
                                    "'0large' is not a valid integer value."},
                    TSettingsDamage{"update settings set value='12pt' where ID='FONTSIZE'",
                                    "'012pt' is not a valid integer value."},
                    TSettingsDamage{"update settings set value='-5' where ID='FONTSIZE'",
                                    "'0-5' is not a valid integer value."}));

// The titles of the hits a row-by-row pass over the stored vectors gives (score above the
// threshold, text row present) in the order the list shows them; the window must show exactly
// these.
std::vector<std::string> ReferenceTitles(const std::string& file, const std::string& typed) {
    TSQLiteDatabase DB(file);
    const auto query = EncodeCV(typed);
    std::vector<std::pair<float, std::string>> hits;
    auto rows = kb::LoadVectors(DB);
    for (; !rows->Eof(); rows->Next()) {
        TcvVector stored;
        stored.SetText(rows->FieldAsString(2));
        float score;
        try {
            score = Proximity(*query, stored);
        } catch (const EConvertError&) {
            continue;
        }
        if (!(score > 0.25f)) continue;
        auto text =
            DB.GetTable(kb::SelectDescriptionSQL(rows->FieldAsString(0), rows->FieldAsString(1)));
        if (text->Eof()) continue;
        hits.emplace_back(score, HitTitleUtf8(text->FieldAsString(0)));
    }
    // Among equal scores the hit found later is shown first.
    std::reverse(hits.begin(), hits.end());
    std::stable_sort(hits.begin(), hits.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> titles;
    for (const auto& hit : hits)
        titles.push_back(hit.second);
    return titles;
}

TEST_F(FaultTest, OrphanAndMalformedVectorRowsAreSteppedOverWithoutAMessage) {
    using namespace std::string_view_literals;
    const std::string_view damaged[] = {
        "printer=oops\r\n"sv,        "printer=99999999999\r\n"sv,  "printer=-1\r\n"sv,
        "printer= 1\r\n"sv,          "printer=0x10\r\n"sv,         "=printer\r\nprinter\r\n"sv,
        "\x01\x02printer=1\xff\r"sv, "printer=1\0printer=x\r\n"sv,
    };
    const auto ids = Seed({{"printer jams", "clean the rollers"},
                           {"printer offline", "restart the spooler"},
                           {"network printer", "check the cable"}});
    {
        TSQLiteDatabase DB(File());
        DB.ExecSQL(kb::InsertVectorSQL("orphan0", "P", "printer=1\r\n"));
        DB.ExecSQL(kb::InsertVectorSQL(ids[2], "X", "printer=1\r\n"));  // no text of that type
        int n = 0;
        for (const std::string_view vector : damaged) {
            const std::string ID = kb::SaveEntry(DB, "printer damaged " + std::to_string(n++), "");
            // Written as bytes, so that a NUL inside reaches the file.
            sqlite3_stmt* update = nullptr;
            sqlite3_prepare_v2(DB.Handle(),
                               "update vectors set vectordata=cast(? as text) where ID=? and "
                               "texttype='P'",
                               -1, &update, nullptr);
            sqlite3_bind_blob(update, 1, vector.data(), static_cast<int>(vector.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(update, 2, ID.c_str(), -1, SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(update), SQLITE_DONE);
            sqlite3_finalize(update);
        }
    }
    TForm1& f = Open();
    f.show();
    ASSERT_EQ(dialogs->Errors(), 0);
    for (const char* typed : {"printer", "printer jams", "printer damaged", "network printer"}) {
        SCOPED_TRACE(typed);
        Search(typed);
        const auto expected = ReferenceTitles(File(), typed);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(ShownTitles(), expected);
    }
    EXPECT_EQ(dialogs->Errors(), 0);

    // The entries around the damage open, delete and save as usual.
    Search("network printer");
    TShowItem* window = OpenView(0);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->ProblemText->toPlainText(), "network printer");
    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    f.ProblemText->setPlainText("printer toner low");
    f.Button1->click();
    WaitForWrites(f.Session());
    Search("printer toner");
    EXPECT_EQ(ShownTitles(), ReferenceTitles(File(), "printer toner"));
    EXPECT_EQ(ShownTitles().front(), "printer toner low...");
    EXPECT_EQ(dialogs->Errors(), 0);
    ExpectNothingLeftHeld();
}

TEST_F(FaultTest, ANulByteOrAMegabyteInAStoredTextIsShownAndSearchedSafely) {
    std::string megabyte;
    for (int i = 0; megabyte.size() < (1u << 20); ++i)
        megabyte += "scanner " + std::to_string(i % 977) + " paper feed roller worn ";
    const auto ids = Seed({{"scanner jams", "clean it"}});
    std::string withNul;
    {
        TSQLiteDatabase DB(File());
        // A text with a NUL byte, as another program could have stored it; it reads back cut there.
        withNul = kb::SaveEntry(DB, "scanner", "x");
        DB.ExecSQL(
            "update textdata set description=cast(x'7363616e6e657200746f6e6572' as text) "
            "where ID='" +
            withNul + "' and texttype='P'");
        DB.ExecSQL(
            "update vectors set vectordata='scanner=1'||char(13,10)||'toner=1'||char(13,10) "
            "where ID='" +
            withNul + "' and texttype='P'");
    }
    TForm1& f = Open();
    f.show();
    // And a megabyte solution saved through the window, stored byte for byte.
    f.ProblemText->setPlainText("scanner paper feed");
    f.SolutionText->setPlainText(QString::fromLatin1(megabyte));
    f.Button1->click();
    WaitForWrites(f.Session());
    ASSERT_EQ(dialogs->Errors(), 0);
    const std::string big = LastSavedID();
    EXPECT_EQ(kb::ReadDescription(FileDB(), big, kb::kSolution), megabyte);

    Search("scanner paper roller");
    EXPECT_EQ(ShownTitles(), ReferenceTitles(File(), "scanner paper roller"));
    bool sawBig = false, sawNul = false;
    for (int p = 0; p < f.ScoredHits().Count(); ++p) {
        const TcvResults& hit = *f.ScoredHits().Items(p)->data;
        if (hit.ID == big && hit.Title == HitTitleUtf8(megabyte)) {
            sawBig = true;
            EXPECT_EQ(hit.excerpt, HitExcerptUtf8(megabyte));
        }
    }
    Search("scanner toner");
    for (int p = 0; p < f.ScoredHits().Count(); ++p) {
        const TcvResults& hit = *f.ScoredHits().Items(p)->data;
        if (hit.ID == withNul) {
            sawNul = true;
            EXPECT_EQ(hit.Title, "scanner...");
            EXPECT_EQ(hit.excerpt, "");
        }
    }
    EXPECT_TRUE(sawBig);
    EXPECT_TRUE(sawNul);

    // Both open in a view window; the big one can be deleted like any other.
    TShowItem* nulWindow = OpenView(0);
    ASSERT_NE(nulWindow, nullptr);
    EXPECT_EQ(nulWindow->ProblemText->toPlainText(), "scanner");
    Search("scanner paper roller worn");
    TShowItem* bigWindow = OpenView(0);
    ASSERT_NE(bigWindow, nullptr);
    ASSERT_EQ(bigWindow->EntryID(), big);
    EXPECT_EQ(bigWindow->SolutionText->toPlainText().size(),
              static_cast<qsizetype>(megabyte.size()));
    dialogs->answers = {QMessageBox::Yes};
    bigWindow->Button1->click();
    WaitForWrites();
    EXPECT_EQ(dialogs->Errors(), 0);
    Search("scanner paper roller worn");
    EXPECT_EQ(ShownTitles(), ReferenceTitles(File(), "scanner paper roller worn"));
    EXPECT_EQ(Rows("textdata"), 4);
}

TEST_F(FaultTest, AnEntryWhoseIDHoldsAQuoteOpensAndDeletesItselfAlone) {
    const std::string hostile = "x' OR '1'='1";
    Seed({{"printer jams", "clean the rollers"}, {"scanner offline", "replug it"}},
         kb::InsertTextSQL(hostile, "", "P", "monitor flickers"));
    {
        TSQLiteDatabase DB(File());
        DB.ExecSQL(kb::InsertTextSQL(hostile, "", "S", "replace the cable"));
        for (const char* type : {"P", "S"})
            DB.ExecSQL(kb::InsertVectorSQL(hostile, type, EncodeCV("monitor flickers")->Text()));
    }
    TForm1& f = Open();
    f.show();
    Search("monitor flickers");
    TShowItem* window = OpenView(0);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->EntryID(), hostile);
    EXPECT_EQ(window->ProblemText->toPlainText(), "monitor flickers");
    EXPECT_EQ(window->SolutionText->toPlainText(), "replace the cable");
    dialogs->answers = {QMessageBox::Yes};
    window->Button1->click();
    WaitForWrites();
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_EQ(Rows("textdata"), 4);
    EXPECT_EQ(Rows("vectors"), 4);
    Search("printer scanner");
    EXPECT_EQ(ShownTitles().size(), 2u);
}

TEST_F(FaultTest, TextsHoldingANulAreSavedWithoutIt) {
    TForm1& f = Open();
    f.ProblemText->setPlainText(QString::fromLatin1("before\0after printer", 20));
    f.SolutionText->setPlainText(QString::fromLatin1("fix\0ed", 6));
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 0);
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
    EXPECT_EQ(kb::ReadDescription(FileDB(), LastSavedID(), kb::kProblem), "beforeafter printer");
    EXPECT_EQ(kb::ReadDescription(FileDB(), LastSavedID(), kb::kSolution), "fixed");
}

// Writes beyond the file-size limit fail as on a full disk.
class TFullDisk {
public:
    TFullDisk() {
        getrlimit(RLIMIT_FSIZE, &fold);
        fhandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = fold;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~TFullDisk() {
        setrlimit(RLIMIT_FSIZE, &fold);
        std::signal(SIGXFSZ, fhandler);
    }
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

private:
    rlimit fold{};
    void (*fhandler)(int) = nullptr;
};

TEST_F(FaultTest, AFirstStartOnAFullDiskIsFinishedByTheFirstSaveOnceThereIsRoom) {
    {
        TFullDisk full;
        Open();
    }
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(fs::file_size(File()), 0u);
    TForm1& f = *form;
    f.ProblemText->setPlainText("printer jams");
    f.SolutionText->setPlainText("clean the rollers");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 1);
    EXPECT_TRUE(f.ProblemText->toPlainText().isEmpty());
    EXPECT_EQ(Rows("textdata"), 2);
    EXPECT_EQ(Rows("settings"), 1);
    Search("printer");
    EXPECT_EQ(ShownTitles(), (std::vector<std::string>{"printer jams..."}));
}

// What the window itself spends on one change of the problem text, in milliseconds (the best of
// three, so that a busy machine does not count): the handler of the change, not Qt's layout of
// the text, which happened before.
double ChangeHandlerMs(TForm1& f) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        f.ProblemTextChange();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        WaitUntil([&] { return f.Session().TEST_Engine().Idle(); }, 60000);
    }
    return best;
}

#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kTimedBuild = true;
#else
constexpr bool kTimedBuild = false;  // sanitizers and unoptimised code: times are not the user's
#endif

TEST_F(FaultTest, PastingAMegabyteKeepsTheWindowResponsiveAndTheHitsRight) {
    Seed({{"printer jams on envelopes", "use the manual feed"},
          {"network printer offline", "restart the spooler"},
          {"paper feed roller worn", "replace the roller"}});
    TForm1& f = Open();
    f.show();

    std::mt19937 random(7);
    std::string document, uniqueWords, shortLines;
    for (int i = 0; document.size() < (1u << 20); ++i)
        document +=
            "the printer " + std::to_string(i % 977) + " jams when the paper feed is worn. ";
    // Every word new: the most work a text of this size can give the vectorising.
    for (int i = 0; uniqueWords.size() < (1u << 20); ++i) {
        if (i % 50 == 0) uniqueWords += "printer ";
        for (int k = 3 + static_cast<int>(random() % 8); k > 0; --k)
            uniqueWords += static_cast<char>('a' + random() % 26);
        uniqueWords += i % 12 == 11 ? "\r\n" : " ";
    }
    for (int i = 0; shortLines.size() < (1u << 20); ++i)
        shortLines += i % 2 ? "roller\r\n" : "a\r\n";

    const struct {
        const char* name;
        const std::string& text;
    } pastes[] = {
        {"document", document}, {"unique_words", uniqueWords}, {"short_lines", shortLines}};
    for (const auto& [kind, text] : pastes) {
        SCOPED_TRACE(kind);
        // A real paste through the clipboard, searched as any change is.
        QGuiApplication::clipboard()->setText(ToEditorText(text));
        f.ProblemText->selectAll();
        f.ProblemText->paste();
        WaitForSearches();
        ASSERT_EQ(f.ProblemBytes(), text);
        const auto expected = ReferenceTitles(File(), text);
        EXPECT_EQ(ShownTitles(), expected);
        EXPECT_FALSE(expected.empty());

        const double ms = ChangeHandlerMs(f);
        RecordProperty(std::string("change_ms_") + kind, std::to_string(ms));
        if (kTimedBuild) {
            EXPECT_LT(ms, 50.0);
        }
        WaitForSearches();
        EXPECT_EQ(ShownTitles(), expected);
    }
    EXPECT_EQ(dialogs->Errors(), 0);
}

}  // namespace
