// The rows go through COPY, a table at a time, the vector rows in the file's rowid order so that
// their keys on the server follow the file's load order. Rows are skipped where the server's
// keys or types cannot hold them: a second row of the same ID and text type (files not made by
// this program can hold one; the first wins, as the file's lookups find it), and IDs or text
// types that are not short UTF-8 text.
#include "core/store/servercopy.h"

#include <filesystem>
#include <functional>
#include <set>
#include <unordered_set>

#include "pg/pgdb.h"
#include "core/store/pgstore.h"
#include "core/store/sqlitestore.h"
#include "core/storedtext.h"

namespace {

constexpr size_t kCopyChunk = 1 << 20;
constexpr size_t kProgressRows = 1000;

bool FitsKey(std::string_view ID, std::string_view texttype) {
    const long IDLength = Utf8Characters(ID), typeLength = Utf8Characters(texttype);
    return IDLength >= 0 && IDLength <= 40 && typeLength >= 0 && typeLength <= 1;
}

// Sends COPY data in chunks.
class TCopyStream {
public:
    TCopyStream(TPgConnection& c, std::string_view sql) : fc(c) { fc.StartCopy(sql); }
    std::string& Row() { return fdata; }
    void EndRow() {
        fdata += '\n';
        if (fdata.size() >= kCopyChunk) {
            fc.PutCopyData(fdata);
            fdata.clear();
        }
    }
    void Finish() {
        if (!fdata.empty()) fc.PutCopyData(fdata);
        fc.EndCopy();
    }

private:
    TPgConnection& fc;
    std::string fdata;
};

}  // namespace

TCopyResult CopyEntriesToServer(const std::string& file, TPgStore& server,
                                const std::function<void(size_t, size_t)>& progress) {
    if (!std::filesystem::exists(file)) throw Exception("There is no knowledge base file " + file);
    TSQLiteStore source(file);
    source.Open();
    TSQLiteDatabase& DB = *source.Database();
    server.Open();

    TCopyResult result;
    server.WriteEntries([&](TPgConnection& c) {
        std::unordered_set<std::string> there;
        {
            const TPgResult IDs = c.Query("select ID from textdata union select ID from vectors");
            for (int r = 0; r < IDs.Rows(); ++r)
                there.emplace(IDs.Bytes(r, 0));
        }
        const size_t total = static_cast<size_t>(
            DB.GetTable("select (select count(*) from textdata) + (select count(*) from vectors)")
                ->FieldAsInteger(0));
        size_t done = 0;
        auto step = [&] {
            if (progress && ++done % kProgressRows == 0) progress(done, total);
        };

        // Copied IDs in the file's order of first save, which the server's change log keeps.
        std::vector<std::string> copied;
        std::unordered_set<std::string> copiedSet;
        std::set<std::string> skipped;
        std::set<std::pair<std::string, std::string>> keys;
        auto take = [&](std::string_view ID, std::string_view texttype) {
            const std::string id(ID);
            if (there.contains(id)) {
                skipped.insert(id);
                return false;
            }
            if (!FitsKey(ID, texttype) || !keys.emplace(id, texttype).second) {
                ++result.refusedRows;
                return false;
            }
            if (copiedSet.insert(id).second) copied.push_back(id);
            return true;
        };

        // Each table's rows in the file's order, every row starting with its ID.
        auto copyTable = [&](const char* copySQL, const char* selectSQL,
                             const std::function<void(std::string&, TSQLiteCursor&)>& rest) {
            TCopyStream out(c, copySQL);
            TSQLiteCursor rows(DB, selectSQL);
            while (rows.Next()) {
                step();
                if (!take(rows.Text(0), rows.Text(1))) continue;
                std::string& row = out.Row();
                AppendCopyText(row, rows.Text(0));
                row += '\t';
                rest(row, rows);
                out.EndRow();
            }
            out.Finish();
        };
        auto appendBytes = [](std::string& row, TSQLiteCursor& rows, int bytes, int isNull) {
            if (rows.Integer(isNull))
                row += "\\N";
            else
                AppendCopyBytes(row, rows.Text(bytes));
        };

        copyTable("copy textdata (ID, created, credited, texttype, description) from stdin",
                  "select ID, texttype, created, cast(description as blob), description is null, "
                  "created is null from textdata order by rowid",
                  [&](std::string& row, TSQLiteCursor& rows) {
                      // The date as the file shows it, in UTF-8.
                      const std::string created(rows.Text(2));
                      if (rows.Integer(5))
                          row += "\\N";
                      else
                          AppendCopyText(
                              row, Utf8Characters(created) < 0 ? Utf8FromStored(created) : created);
                      row += "\t\\N\t";
                      AppendCopyText(row, rows.Text(1));
                      row += '\t';
                      appendBytes(row, rows, 3, 4);
                  });
        keys.clear();
        copyTable("copy vectors (ID, texttype, vectordata) from stdin",
                  "select ID, texttype, cast(vectordata as blob), vectordata is null from vectors "
                  "order by rowid",
                  [&](std::string& row, TSQLiteCursor& rows) {
                      AppendCopyText(row, rows.Text(1));
                      row += '\t';
                      appendBytes(row, rows, 2, 3);
                  });
        if (progress) progress(total, total);
        result.copied = copied.size();
        result.alreadyThere = skipped.size();
        return copied;
    });
    return result;
}
