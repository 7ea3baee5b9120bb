// The copy is made in steps, so that the program's writes are not held up by a long read lock;
// a write between steps makes SQLite start the copy over. PRAGMA data_version, read before the
// copy and after the rows are counted, tells whether any write came between them; if one did,
// the counts may belong to another state than the copy, and the copy is made again. The last
// attempt holds one read transaction over copy and counts, which no write can come between.
#include "core/transfer/backup.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/knowledgebase.h"
#include "core/transfer/targetfile.h"
#include "port/localformat.h"
#include "port/replacefile.h"
#include "sqlite/sqlitedb.h"

namespace fs = std::filesystem;
using std::chrono::sys_days;

namespace {

constexpr int kAttempts = 3;
// How long the copy waits for the program's writes to the file to finish.
constexpr int kBusyMs = 10000;
// Pages copied per step: 4 MB with SQLite's default page size, a few milliseconds of reading.
constexpr int kPagesPerStep = 1024;
// A temporary copy older than this was left by a program that stopped while making it.
constexpr auto kStaleCopy = std::chrono::hours(24);
constexpr std::string_view kPartSuffix = ".part";

struct TRowCounts {
    int64_t textdata = -1, vectors = -1, settings = -1;  // -1: no such table
    bool operator==(const TRowCounts&) const = default;
};

TRowCounts CountRows(TSQLiteDatabase& DB) {
    TRowCounts counts;
    for (auto [table, count] :
         {std::pair{"textdata", &counts.textdata}, std::pair{"vectors", &counts.vectors},
          std::pair{"settings", &counts.settings}}) {
        if (DB.TableExists(table)) {
            *count = DB.GetTable(std::string("select count(*) from ") + table)->FieldAsInteger(0);
        }
    }
    return counts;
}

int64_t DataVersion(TSQLiteDatabase& DB) {
    return DB.GetTable("PRAGMA data_version")->FieldAsInteger(0);
}

// Ends a read transaction on every path.
class TReadTransaction {
public:
    explicit TReadTransaction(TSQLiteDatabase& DB) : fDB(DB) {
        fDB.ExecSQL("BEGIN");
        fDB.GetTable("select count(*) from sqlite_master");  // takes the read lock now
    }
    ~TReadTransaction() {
        try {
            fDB.ExecSQL("COMMIT");
        } catch (const std::exception&) {
            // Nothing was written; closing the connection ends the transaction anyway.
        }
    }
    TReadTransaction(const TReadTransaction&) = delete;
    TReadTransaction& operator=(const TReadTransaction&) = delete;

private:
    TSQLiteDatabase& fDB;
};

void Check(const std::string& copy, const TRowCounts& expected) {
    TSQLiteDatabase DB(copy, ReadingMode(copy));
    const auto integrity = DB.GetTable("PRAGMA integrity_check");
    if (integrity->Count() != 1 || integrity->FieldAsString(0) != "ok") {
        throw Exception("the copy failed its integrity check: " + integrity->FieldAsString(0));
    }
    if (CountRows(DB) != expected) throw Exception("the copy does not hold every row");
}

// Copies kbFile to outPath through a checked temporary copy beside outPath.
void MakeCopy(const std::string& kbFile, const std::string& outPath) {
    TSQLiteDatabase source(kbFile, ReadingMode(kbFile), kBusyMs);
    if (!kb::IsKnowledgeBase(source)) throw kb::ENotAKnowledgeBase(kbFile);
    TFileBeside copy(outPath, kPartSuffix, TFileBeside::TWriter::ByPath);
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt == kAttempts;
        // An earlier attempt's copy is replaced whole by the next.
        std::optional<TReadTransaction> snapshot;
        if (last) snapshot.emplace(source);
        const int64_t before = DataVersion(source);
        source.BackupTo(copy.Path(), last ? -1 : kPagesPerStep, kBusyMs);
        const TRowCounts counts = CountRows(source);
        if (DataVersion(source) != before && !last) continue;
        snapshot.reset();
        Check(copy.Path(), counts);
        copy.Commit();
        return;
    }
}

// Whether a backup opens as a knowledge base that passes SQLite's integrity check.
bool IsSoundCopy(const std::string& copy) {
    try {
        TSQLiteDatabase DB(copy, ReadingMode(copy));
        return kb::IsKnowledgeBase(DB) && DB.GetTableString("PRAGMA integrity_check") == "ok";
    } catch (const std::exception&) {
        return false;
    }
}

// Temporary copies left by programs that stopped while making them.
void RemoveStaleCopies(const std::string& folder, const std::string& prefix) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(kPartSuffix)) continue;
        const auto written = entry.last_write_time(error);
        if (!error && fs::file_time_type::clock::now() - written > kStaleCopy) {
            fs::remove(entry.path(), error);
        }
    }
}

}  // namespace

std::set<sys_days> BackupsToKeep(std::vector<sys_days> dates) {
    std::sort(dates.begin(), dates.end(), std::greater<>());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    std::set<sys_days> keep(dates.begin(), dates.begin() + std::min(kDailyBackups, dates.size()));
    size_t weeks = 0;
    std::optional<sys_days> lastWeek;
    for (const sys_days date : dates) {
        if (weeks == kWeeklyBackups) break;
        const sys_days week = date - (std::chrono::weekday(date) - std::chrono::Monday);
        if (week == lastWeek) continue;
        lastWeek = week;
        // The newest of its week; when it is kept already, the week needs no other.
        if (keep.insert(date).second) ++weeks;
    }
    return keep;
}

std::string BackupFolder(const std::string& kbFile) {
    return (fs::path(kbFile).parent_path() / "backups").string();
}

std::string BackupName(const std::string& kbFile, std::chrono::year_month_day date) {
    const fs::path file(kbFile);
    char text[16];
    std::snprintf(text, sizeof text, "-%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return file.stem().string() + text + file.extension().string();
}

std::optional<sys_days> BackupDate(const std::string& kbFile, std::string_view name) {
    const fs::path file(kbFile);
    const std::string stem = file.stem().string() + "-", extension = file.extension().string();
    constexpr size_t kDate = 10;  // YYYY-MM-DD
    if (name.size() != stem.size() + kDate + extension.size() || !name.starts_with(stem) ||
        !name.ends_with(extension)) {
        return std::nullopt;
    }
    const std::string_view date = name.substr(stem.size(), kDate);
    int parts[3] = {0, 0, 0};
    for (size_t i = 0, part = 0; i < kDate; ++i) {
        if (i == 4 || i == 7) {
            if (date[i] != '-') return std::nullopt;
            ++part;
        } else if (date[i] >= '0' && date[i] <= '9') {
            parts[part] = parts[part] * 10 + (date[i] - '0');
        } else {
            return std::nullopt;
        }
    }
    const std::chrono::year_month_day ymd{std::chrono::year{parts[0]},
                                          std::chrono::month{static_cast<unsigned>(parts[1])},
                                          std::chrono::day{static_cast<unsigned>(parts[2])}};
    if (!ymd.ok()) return std::nullopt;
    return sys_days(ymd);
}

TBackupResult RunAutomaticBackup(const std::string& kbFile,
                                 std::chrono::system_clock::time_point now) {
    TBackupResult result;
    try {
        std::error_code error;
        if (!fs::is_regular_file(kbFile, error)) {
            result.status = TBackupResult::TStatus::NoKnowledgeBase;
            return result;
        }
        const std::chrono::year_month_day today = LocalDate(now);
        const std::string folder = BackupFolder(kbFile);
        fs::create_directories(folder);
        std::vector<sys_days> dates;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const auto date = BackupDate(kbFile, entry.path().filename().string());
            // A copy dated after today was made under a wrong clock: it is neither counted among
            // the newest nor ever removed by the rotation.
            if (!date || *date > sys_days(today)) continue;
            // Today's copy makes the backup not due, unless it is damaged: then it is made anew.
            if (*date == sys_days(today)) {
                if (IsSoundCopy(entry.path().string())) return result;
                continue;
            }
            dates.push_back(*date);
        }
        RemoveStaleCopies(folder, fs::path(kbFile).stem().string() + "-");
        result.file = (fs::path(folder) / BackupName(kbFile, today)).string();
        try {
            MakeCopy(kbFile, result.file);
        } catch (const kb::ENotAKnowledgeBase&) {
            // A first start that has not made its tables yet: nothing to keep.
            result.status = TBackupResult::TStatus::NoKnowledgeBase;
            result.file.clear();
            return result;
        }
        result.status = TBackupResult::TStatus::Made;
        dates.push_back(sys_days(today));
        const std::set<sys_days> keep = BackupsToKeep(dates);
        for (const sys_days date : dates) {
            if (keep.contains(date)) continue;
            const std::chrono::year_month_day ymd(date);
            fs::remove(fs::path(folder) / BackupName(kbFile, ymd), error);
        }
    } catch (const std::exception& e) {
        result.status = TBackupResult::TStatus::Failed;
        result.file.clear();
        std::string reason = e.what();
        if (reason.ends_with('.')) reason.pop_back();
        result.message = "The daily backup of the knowledge base could not be made: " + reason +
                         ". The knowledge base itself is unchanged.";
    }
    return result;
}

void BackUpNow(const std::string& kbFile, const std::string& outPath) {
    MakeCopy(kbFile, CheckedTarget(outPath, kbFile));
}
