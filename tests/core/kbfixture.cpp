#include "kbfixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/knowledgebase.h"
#include "core/storedtext.h"
#include "textsearch/cvvector.h"

void MakeKnowledgeBase(const std::string& file) {
    TSQLiteDatabase DB(file);
    kb::CreateMissingTables(DB);
}

void MakeOneEntryKnowledgeBase(const std::string& file) {
    TSQLiteDatabase DB(file);
    kb::CreateMissingTables(DB);
    kb::SaveEntry(DB, "printer jams", "clean the rollers");
}

std::string ScriptText(std::mt19937& rng, int maxParts) {
    static const char* const kParts[] = {
        "printer jams",
        "zażółć gęślą jaźń",
        "Ελληνικά: ο εκτυπωτής",
        "Принтер не печатает",
        "打印机卡纸了",
        "プリンター",
        "emoji 😀🖨️👍🏽",
        "café naïve façade €5 “smart” ‘quotes’ — dash…",
        "it's",
        "don't 'quote' me",
        "say \"hello\"",
        "a, b, c,",
        "back\\slash \\n not a break",
        "tab\there",
        "ï»¿looks like a mark",
        "  blanks  ",
        "toner",
        "reboot the spooler",
        "``` backticks ````",
        "# not a heading",
        "\x7f\x01 controls",
        "x\u2028y",
    };
    static const char* const kSeparators[] = {" ", ", ", "\r\n", "\n", "\r\n\r\n", "\t"};
    std::uniform_int_distribution<int> parts(0, maxParts);
    std::uniform_int_distribution<size_t> part(0, std::size(kParts) - 1);
    std::uniform_int_distribution<size_t> separator(0, std::size(kSeparators) - 1);
    std::string text;
    for (int i = parts(rng); i > 0; --i) {
        if (!text.empty()) text += kSeparators[separator(rng)];
        text += kParts[part(rng)];
    }
    return text;
}

void AddScriptEntries(TSQLiteDatabase& DB, std::mt19937& rng, int entries, int maxParts) {
    static const char* const kOddIDs[] = {"it's", "a,b", "q\"uote", "ünïcode", "back\\slash"};
    static const char* const kCreated[] = {"12/08/26 10:54:55", "2026年12月08日 10:00", "",
                                           "08.12.2026", "8 déc. 2026"};
    std::uniform_int_distribution<int> pick(0, 19);
    DB.ExecSQL("BEGIN");  // one transaction: thousands of entries without a disk sync each
    for (int e = 0; e < entries; ++e) {
        const int k = pick(rng);  // a few odd IDs, with a number that keeps them apart
        const std::string ID = k < static_cast<int>(std::size(kOddIDs))
                                   ? kOddIDs[k] + std::to_string(rng())
                                   : kb::GuidToID(NewGuid());
        const std::string created = kCreated[pick(rng) % std::size(kCreated)];
        const std::string problem = StoredFromUtf8(ScriptText(rng, maxParts * 2 / 3));
        const std::string solution = StoredFromUtf8(ScriptText(rng, maxParts));
        DB.ExecSQL(kb::InsertTextSQL(ID, created, kb::kProblem, problem));
        DB.ExecSQL(kb::InsertTextSQL(ID, created, kb::kSolution, solution));
        DB.ExecSQL(kb::InsertVectorSQL(ID, kb::kProblem, EncodeCV(problem)->Text()));
        DB.ExecSQL(kb::InsertVectorSQL(ID, kb::kSolution, EncodeCV(solution)->Text()));
    }
    DB.ExecSQL("COMMIT");
}

std::vector<std::string> RowsOf(const std::string& file) {
    TSQLiteDatabase DB(file, TOpenMode::ReadOnly);
    std::vector<std::string> rows;
    // Every column as its type and bytes, so that NULL, '' and a number never look alike.
    const std::pair<const char*, int> tables[] = {
        {"select 'T',typeof(ID),cast(ID as blob),typeof(created),cast(created as blob),"
         "typeof(credited),texttype,cast(description as blob) from textdata",
         8},
        {"select 'V',typeof(ID),cast(ID as blob),texttype,cast(vectordata as blob) from vectors",
         5}};
    for (const auto& [query, columns] : tables) {
        TSQLiteCursor cursor(DB, query);
        while (cursor.Next()) {
            std::string row;
            for (int c = 0; c < columns; ++c) {
                const std::string_view value = cursor.Text(c);
                row += std::to_string(value.size()) + ":";
                row += value;
            }
            rows.push_back(std::move(row));
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
