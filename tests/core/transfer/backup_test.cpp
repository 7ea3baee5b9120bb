// Backups: the rotation keeps what it promises for any set of dates; the automatic backup runs
// once a day, makes a checked copy equal to the file and rotates old ones out without touching
// other files; a failure is a message, never an exception, and never touches the knowledge base;
// a copy made while another connection writes is still one whole state of the file.
#include "core/transfer/backup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "kbfixture.h"
#include "core/knowledgebase.h"
#include "port/localformat.h"
#include "tempdir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

sys_days WeekOf(sys_days date) {
    return date - (weekday(date) - Monday);
}

TEST(BackupRotation, KeepsTheNewestSevenAndTheNewestOfEachOfTheFourWeeksBeforeThem) {
    std::mt19937 rng(2026);
    const sys_days origin = sys_days(2026y / January / 1);
    for (int round = 0; round < 3000; ++round) {
        const int span = std::uniform_int_distribution<int>(1, 150)(rng);
        const int count = std::uniform_int_distribution<int>(0, 50)(rng);
        std::vector<sys_days> dates;
        for (int i = 0; i < count; ++i)
            dates.push_back(origin + days(std::uniform_int_distribution<int>(0, span)(rng)));
        const std::set<sys_days> keep = BackupsToKeep(dates);

        std::set<sys_days> all(dates.begin(), dates.end());
        std::vector<sys_days> newest(all.rbegin(), all.rend());
        newest.resize(std::min(newest.size(), kDailyBackups));
        std::set<sys_days> dailyWeeks, weeklyWeeks;
        for (sys_days d : newest) {
            EXPECT_TRUE(keep.contains(d));
            dailyWeeks.insert(WeekOf(d));
        }
        // Each other copy kept is the newest of a week of its own that holds no daily copy.
        for (sys_days d : keep) {
            ASSERT_TRUE(all.contains(d));
            if (std::find(newest.begin(), newest.end(), d) != newest.end()) continue;
            EXPECT_FALSE(dailyWeeks.contains(WeekOf(d)));
            EXPECT_TRUE(weeklyWeeks.insert(WeekOf(d)).second);
            EXPECT_EQ(*std::prev(all.upper_bound(WeekOf(d) + days(6))), d);
        }
        EXPECT_LE(weeklyWeeks.size(), kWeeklyBackups);
        // Nothing more could have been kept: a week left without a copy is older than every
        // weekly copy, and only when all four are taken.
        for (sys_days d : all) {
            const sys_days week = WeekOf(d);
            if (dailyWeeks.contains(week) || weeklyWeeks.contains(week)) continue;
            EXPECT_EQ(weeklyWeeks.size(), kWeeklyBackups);
            EXPECT_LT(week, *weeklyWeeks.begin());
        }
        // Rotating what was kept keeps all of it.
        EXPECT_EQ(BackupsToKeep(std::vector<sys_days>(keep.begin(), keep.end())), keep);
    }
}

std::set<sys_days> DatedBackups(const std::string& kbFile) {
    std::set<sys_days> dates;
    for (const auto& entry : fs::directory_iterator(BackupFolder(kbFile))) {
        if (auto date = BackupDate(kbFile, entry.path().filename().string())) dates.insert(*date);
    }
    return dates;
}

TEST(AutomaticBackup, OneCheckedCopyADayRotatedOverTwoMonthsOfUse) {
    TTempDir dir;
    const std::string kbFile = kb::KnowledgeBaseFile(dir.Path());
    MakeKnowledgeBase(kbFile);
    const std::string folder = BackupFolder(kbFile);
    fs::create_directories(folder);
    // Files of other names are the user's.
    const std::string notes = folder + "/notes.txt", odd = folder + "/pelloquin-2026-13-45.dat";
    std::ofstream(notes) << "mine";
    std::ofstream(odd) << "mine too";
    EXPECT_EQ(BackupName(kbFile, 2026y / December / 8), "pelloquin-2026-12-08.dat");

    std::mt19937 rng(5);
    std::vector<sys_days> made;
    const sys_days first = sys_days(2026y / November / 2);
    for (int day = 0; day < 60; ++day) {
        if (day > 0 && rng() % 5 == 0) continue;  // the program was not started that day
        SCOPED_TRACE(day);
        {
            TSQLiteDatabase DB(kbFile);
            AddScriptEntries(DB, rng, 3);
        }
        const auto now = sys_days(first + days(day)) + hours(12);
        const sys_days today = sys_days(LocalDate(now));
        const TBackupResult result = RunAutomaticBackup(kbFile, now);
        ASSERT_EQ(result.status, TBackupResult::TStatus::Made) << result.message;
        EXPECT_EQ(result.file, folder + "/" + BackupName(kbFile, LocalDate(now)));
        EXPECT_EQ(RowsOf(result.file), RowsOf(kbFile));
        made.push_back(today);
        // Later the same day: nothing to do.
        EXPECT_EQ(RunAutomaticBackup(kbFile, now + minutes(1)).status,
                  TBackupResult::TStatus::NotDue);

        const std::set<sys_days> kept = DatedBackups(kbFile);
        EXPECT_LE(kept.size(), kDailyBackups + kWeeklyBackups);
        for (size_t i = 0; i < std::min(made.size(), kDailyBackups); ++i)
            EXPECT_TRUE(kept.contains(made[made.size() - 1 - i]));
        for (sys_days d : kept)
            EXPECT_NE(std::find(made.begin(), made.end(), d), made.end());
        // After some weeks of use the copies reach four weeks back.
        if (day >= 45) {
            EXPECT_LE(*kept.begin(), today - days(28));
        }
    }
    EXPECT_EQ(FileBytes(notes), "mine");
    EXPECT_EQ(FileBytes(odd), "mine too");
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_FALSE(entry.path().string().ends_with(".part")) << entry.path();
}

TEST(AutomaticBackup, CopiesDatedAfterTodayStayOutOfTheRotationAndADamagedCopyOfTodayIsMadeAgain) {
    TTempDir dir;
    const std::string kbFile = kb::KnowledgeBaseFile(dir.Path());
    MakeOneEntryKnowledgeBase(kbFile);
    const std::string folder = BackupFolder(kbFile);
    fs::create_directories(folder);
    // Seven starts with the clock at 2099.
    const sys_days future = sys_days(2099y / January / 1);
    for (int day = 0; day < 7; ++day)
        fs::copy_file(kbFile, folder + "/" + BackupName(kbFile, future + days(day)));
    // Then forty days of the right clock: the real copies rotate as if the others were not there.
    const sys_days first = sys_days(2026y / November / 2);
    std::vector<sys_days> made;
    for (int day = 0; day < 40; ++day) {
        const auto now = sys_days(first + days(day)) + hours(12);
        ASSERT_EQ(RunAutomaticBackup(kbFile, now).status, TBackupResult::TStatus::Made);
        made.push_back(sys_days(LocalDate(now)));
    }
    std::set<sys_days> present;
    for (const auto& entry : fs::directory_iterator(folder))
        present.insert(*BackupDate(kbFile, entry.path().filename().string()));
    std::set<sys_days> expected = BackupsToKeep(made);
    for (int day = 0; day < 7; ++day)
        expected.insert(future + days(day));
    EXPECT_EQ(present, expected);

    // Today's copy damaged: the next start makes it again, and it is sound.
    const auto now = sys_days(first + days(40)) + hours(12);
    const std::string today = folder + "/" + BackupName(kbFile, LocalDate(now));
    std::ofstream(today) << "not a database";
    EXPECT_EQ(RunAutomaticBackup(kbFile, now).status, TBackupResult::TStatus::Made);
    EXPECT_EQ(RowsOf(today), RowsOf(kbFile));
    EXPECT_EQ(RunAutomaticBackup(kbFile, now).status, TBackupResult::TStatus::NotDue);
}

TEST(AutomaticBackup, AFailureIsAMessageOnlyAndTheKnowledgeBaseStaysAsItWas) {
    TTempDir dir;
    const std::string kbFile = kb::KnowledgeBaseFile(dir.Path());
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(kbFile);
        kb::SaveEntry(DB, "printer jams", "clean the rollers");
    }
    const std::string before = FileBytes(kbFile);
    const auto now = system_clock::now();

    std::ofstream(BackupFolder(kbFile)) << "a file where the folder should be";
    const TBackupResult failed = RunAutomaticBackup(kbFile, now);
    EXPECT_EQ(failed.status, TBackupResult::TStatus::Failed);
    EXPECT_TRUE(
        failed.message.starts_with("The daily backup of the knowledge base could not be made: "))
        << failed.message;
    EXPECT_TRUE(failed.message.ends_with(". The knowledge base itself is unchanged."));
    EXPECT_EQ(FileBytes(kbFile), before);

    // Nothing to back up yet: no file, or a file the first start has not given its tables.
    const std::string other = dir.File("sub/pelloquin.dat");
    EXPECT_EQ(RunAutomaticBackup(other, now).status, TBackupResult::TStatus::NoKnowledgeBase);
    fs::create_directories(dir.File("sub"));
    TSQLiteDatabase(other).ExecSQL("create table notes (t text)");
    const TBackupResult none = RunAutomaticBackup(other, now);
    EXPECT_EQ(none.status, TBackupResult::TStatus::NoKnowledgeBase);
    EXPECT_TRUE(fs::is_empty(BackupFolder(other)));
}

TEST(BackUpNow, TheCopyIsOneWholeStateOfTheFileWhileAnotherConnectionWrites) {
    TTempDir dir;
    std::mt19937 rng(9);
    const std::string kbFile = dir.File("kb.dat");
    MakeKnowledgeBase(kbFile);
    {
        TSQLiteDatabase DB(kbFile);
        AddScriptEntries(DB, rng, 2000);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> saved{0};
    std::thread writer([&] {
        TSQLiteDatabase DB(kbFile);
        while (!stop) {
            try {
                kb::SaveEntry(DB, "printer jams again", "restart the spooler");
                ++saved;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } catch (const ESQLiteException&) {
                // The copy held its read lock just then.
            }
        }
    });
    for (int i = 0; i < 5; ++i) {
        const std::string copy = dir.File("copy" + std::to_string(i) + ".dat");
        try {
            BackUpNow(kbFile, copy);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        TSQLiteDatabase DB(copy, TOpenMode::ReadOnly);
        EXPECT_EQ(DB.GetTableString("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(DB.GetTableString("select count(*) from vectors"),
                  DB.GetTableString("select count(*) from textdata"));
        EXPECT_EQ(DB.GetTableString("select count(*) from textdata"),
                  DB.GetTableString("select 2*count(distinct ID) from textdata"));
    }
    stop = true;
    writer.join();
    RecordProperty("saves_beside_the_copies", saved.load());

    // A file in the way is replaced; the copy equals the file.
    const std::string out = dir.File("out.dat");
    std::ofstream(out) << "an old file";
    BackUpNow(kbFile, out);
    EXPECT_EQ(RowsOf(out), RowsOf(kbFile));

    // Never onto itself, never from a file that is no knowledge base; nothing is left behind.
    const std::string before = FileBytes(kbFile);
    EXPECT_THROW(BackUpNow(kbFile, kbFile), Exception);
    EXPECT_EQ(FileBytes(kbFile), before);
    const std::string foreign = dir.File("foreign.db");
    TSQLiteDatabase(foreign).ExecSQL("create table notes (t text)");
    EXPECT_THROW(BackUpNow(foreign, dir.File("never.dat")), Exception);
    EXPECT_THROW(BackUpNow(dir.File("missing.dat"), dir.File("never.dat")), Exception);
    EXPECT_FALSE(fs::exists(dir.File("missing.dat")));
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("never")) << entry.path();
}

}  // namespace
