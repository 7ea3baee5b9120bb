// The rows are counted per entry ID in one pass over both tables (only their keys), and the
// vectors are read once beside their texts; neither table is held in memory.
#include "kbtool/kbcheck.h"

#include <algorithm>
#include <map>

#include "core/knowledgebase.h"
#include "pg/pgdb.h"
#include "port/strconv.h"
#include "core/storedtext.h"
#include "textsearch/cvrules.h"
#include "textsearch/cvvector.h"

namespace {

// The rows one entry ID has, by table and text type.
struct TRows {
    int texts[2] = {0, 0};  // P, S
    int vectors[2] = {0, 0};
    std::vector<std::pair<bool, std::string>> others;  // (in textdata, type) of other types
};

// The program makes no views or generated columns, and no triggers but those that keep Best
// match's terms and its saved index: any other came from elsewhere, and would act (or read)
// unseen on every save.
void CheckSchema(TSQLiteDatabase& DB, std::vector<std::string>& findings) {
    const auto objects = DB.GetTable(
        "select type,name,tbl_name from sqlite_master where type in ('trigger','view') "
        "order by type,name");
    for (bool more = objects->MoveFirst(); more && !objects->Eof(); objects->Next()) {
        if (objects->FieldAsString(0) == "trigger" &&
            kb::IsOwnTrigger(DB, objects->FieldAsString(1)))
            continue;
        std::string finding = "schema: a " + objects->FieldAsString(0) + " " +
                              OutputField(LabelUtf8(objects->FieldAsString(1)));
        if (objects->FieldAsString(0) == "trigger") {
            finding += " on " + OutputField(LabelUtf8(objects->FieldAsString(2)));
        }
        findings.push_back(finding);
    }
    for (const char* table : {"textdata", "vectors", "settings"}) {
        for (const std::string& column : kb::GeneratedColumns(DB, table)) {
            findings.push_back("schema: a generated column " + OutputField(LabelUtf8(column)) +
                               " in " + table);
        }
    }
}

void CheckSettings(TSQLiteDatabase& DB, std::vector<std::string>& findings) {
    if (!DB.TableExists("settings")) {
        findings.push_back("settings: the table is missing");
        return;
    }
    const auto rows = DB.GetTable(kb::kSelectFontSize);
    std::string value = "0";
    if (rows->Count() > 0) value += rows->FieldAsString(0);
    if (rows->Count() == 0) {
        findings.push_back("settings: there is no FONTSIZE row");
    } else if (!TryStrToInt(value)) {
        findings.push_back("settings: FONTSIZE '" + OutputField(LabelUtf8(rows->FieldAsString(0))) +
                           "' is not a whole number");
    }
}

void CheckRows(TSQLiteDatabase& DB, std::vector<std::string>& findings) {
    std::map<std::string, TRows> entries;
    TSQLiteCursor rows(DB,
                       "select ID,texttype,1 from textdata union all "
                       "select ID,texttype,0 from vectors");
    while (rows.Next()) {
        TRows& entry = entries[std::string(rows.Text(0))];
        const std::string_view type = rows.Text(1);
        const bool text = rows.Integer(2) != 0;
        int* counts = text ? entry.texts : entry.vectors;
        if (type == kb::kProblem) {
            ++counts[0];
        } else if (type == kb::kSolution) {
            ++counts[1];
        } else {
            entry.others.emplace_back(text, type);
        }
    }
    for (const auto& [ID, entry] : entries) {
        const std::string id = OutputField(LabelUtf8(ID));
        const bool hasText = entry.texts[0] || entry.texts[1] ||
                             std::any_of(entry.others.begin(), entry.others.end(),
                                         [](const auto& other) { return other.first; });
        if (!hasText) {
            for (int t = 0; t < 2; ++t)
                for (int n = 0; n < entry.vectors[t]; ++n)
                    findings.push_back("orphan vector " + id + " " + (t ? "S" : "P"));
            for (const auto& other : entry.others)
                findings.push_back("orphan vector " + id + " " + OutputField(other.second));
            continue;
        }
        for (int t = 0; t < 2; ++t) {
            const std::string type = t ? "solution" : "problem";
            for (auto [count, what] :
                 {std::pair{entry.texts[t], " text"}, std::pair{entry.vectors[t], " vector"}}) {
                if (count == 0) findings.push_back("entry " + id + ": no " + type + what);
                if (count > 1) {
                    findings.push_back("entry " + id + ": " + std::to_string(count) + " " + type +
                                       what + "s");
                }
            }
        }
        for (const auto& [text, type] : entry.others) {
            findings.push_back("entry " + id + ": a " + (text ? "text" : "vector") +
                               " of unknown text type '" + OutputField(LabelUtf8(type)) + "'");
        }
    }
}

// Why a stored vector text is not term=count lines with valid counts, or "".
std::string MalformedVector(std::string_view vector) {
    if (vector.find('\0') != std::string_view::npos) return "it holds a NUL character";
    std::string why;
    int line = 0;
    cvrules::ForEachStoredLine(vector, [&](std::string_view text) {
        ++line;
        if (!why.empty()) return;
        const std::string_view name = cvrules::NameOf(text);
        const std::string_view count = cvrules::ValueAfter(text, name.size());
        if (name.empty() || count.empty() || !cvrules::TryZeroPrefixed(count)) {
            why = "line " + std::to_string(line) + " '" + OutputField(LabelUtf8(text)) +
                  "' is not term=count";
        }
    });
    return why;
}

void CheckVectors(TSQLiteDatabase& DB, std::vector<std::string>& findings) {
    // Read as blobs: a text column reads only up to a NUL, and a save makes the vector of the
    // whole text.
    TSQLiteCursor rows(DB,
                       "select v.ID,v.texttype,cast(v.vectordata as blob),"
                       "cast(t.description as blob),t.rowid is not null from vectors v left join "
                       "textdata t on t.ID=v.ID and t.texttype=v.texttype order by v.rowid");
    while (rows.Next()) {
        const std::string where = "vector " + OutputField(LabelUtf8(rows.Text(0))) + " " +
                                  OutputField(LabelUtf8(rows.Text(1)));
        const std::string_view vector = rows.Text(2);
        if (const std::string why = MalformedVector(vector); !why.empty()) {
            findings.push_back(where + ": " + why);
        } else if (rows.Integer(4) != 0 && EncodeCV(rows.Text(3))->Text() != vector) {
            findings.push_back(where + ": not the term vector of its text");
        }
    }
}

void CheckMarkedTexts(TSQLiteDatabase& DB, std::vector<std::string>& findings) {
    TSQLiteCursor rows(DB,
                       "select ID,texttype,cast(description as blob) from textdata where "
                       "substr(cast(description as blob),1,3)=x'EFBBBF' order by rowid");
    while (rows.Next()) {
        if (!IsMarkedUtf8(rows.Text(2))) {
            findings.push_back("text " + OutputField(LabelUtf8(rows.Text(0))) + " " +
                               OutputField(LabelUtf8(rows.Text(1))) +
                               ": marked as UTF-8 but not valid UTF-8");
        }
    }
}

}  // namespace

std::string OutputField(std::string_view utf8) {
    // The same four escapes as a field of PostgreSQL's COPY text.
    std::string out;
    out.reserve(utf8.size());
    AppendCopyText(out, utf8);
    return out;
}

std::vector<std::string> CheckKnowledgeBase(TSQLiteDatabase& DB) {
    std::vector<std::string> findings;
    const auto integrity = DB.GetTable("PRAGMA integrity_check");
    for (bool more = integrity->MoveFirst(); more && !integrity->Eof(); integrity->Next()) {
        if (integrity->FieldAsString(0) != "ok") {
            findings.push_back("integrity: " + OutputField(integrity->FieldAsString(0)));
        }
    }
    CheckSchema(DB, findings);
    CheckSettings(DB, findings);
    CheckRows(DB, findings);
    CheckVectors(DB, findings);
    CheckMarkedTexts(DB, findings);
    return findings;
}
