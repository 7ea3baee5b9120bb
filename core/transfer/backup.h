// Backups of the knowledge base file.
//
// A copy is made with SQLite's online backup through a read-only connection of its own, so it
// runs beside the program (and any other) writing to the file: the copy is always one state the
// file was in. It is made under a temporary name, checked (SQLite's integrity check, and the rows
// of textdata, vectors and settings counted equal to the file's in the same state) and only then
// given its name, so that a backup under its name is always whole.
//
// Automatic backups go to the folder "backups" beside the file, one a day at most, named by the
// local date: pelloquin-2026-12-08.dat for pelloquin.dat. At start the program runs
// RunAutomaticBackup on a thread of its own; it makes a backup when none carries today's date (or
// when that one fails SQLite's integrity check, which it then replaces), and then removes those
// that the rotation (BackupsToKeep) no longer keeps: the seven newest, and one a week for four
// weeks before them. Backups dated after today (made under a wrong clock) are left out of the
// rotation and never removed. Files in that folder of any other name are never touched.
//
// Thread safety: the functions use only their arguments and the files they name; two programs
// backing up at once each make a whole copy, and the later one keeps the name.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The newest backups kept, whatever their dates.
inline constexpr size_t kDailyBackups = 7;
// Weeks before those, each keeping its newest backup.
inline constexpr size_t kWeeklyBackups = 4;

// The dates of the backups to keep, out of the dates of those there are: the kDailyBackups
// newest, and, going back week by week (Monday to Sunday), the newest backup of each week that
// holds none of those, for the kWeeklyBackups most recent such weeks.
std::set<std::chrono::sys_days> BackupsToKeep(std::vector<std::chrono::sys_days> dates);

// The folder of the automatic backups of the knowledge base file kbFile.
std::string BackupFolder(const std::string& kbFile);
// The name of the automatic backup of kbFile made on date, and the date of such a name.
std::string BackupName(const std::string& kbFile, std::chrono::year_month_day date);
std::optional<std::chrono::sys_days> BackupDate(const std::string& kbFile, std::string_view name);

struct TBackupResult {
    enum class TStatus {
        Made,             // a backup was made and checked; older ones were rotated out
        NotDue,           // there is a backup of today already
        NoKnowledgeBase,  // there is no knowledge base yet (a first start), or not one to copy
        Failed,           // see message; the knowledge base itself is unchanged
    };
    TStatus status = TStatus::NotDue;
    std::string file;     // the backup made
    std::string message;  // for the user, shown once: why the backup failed; empty otherwise
};

// The automatic backup of kbFile at the moment now (see the header comment). Never raises: a
// failure is its result, so that it can never stop the program.
TBackupResult RunAutomaticBackup(const std::string& kbFile,
                                 std::chrono::system_clock::time_point now);

// Copies kbFile to outPath, replacing a regular file there, and checks the copy. The target is
// refused (ETargetRefused, targetfile.h) when it is kbFile or one of its files, by any path, or
// is not a regular file; and kbFile when it is not a knowledge base. The copy is made beside the
// target and takes its place only when checked: on any failure the target is as it was, and no
// file is left. Raises with the reason.
void BackUpNow(const std::string& kbFile, const std::string& outPath);
