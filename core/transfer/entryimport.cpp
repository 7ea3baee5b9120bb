// Export files are read byte by byte through a buffer, so that a file of any size takes little
// memory; progress is the share of the file's bytes read. A knowledge base file is read through
// the statements module's entry cursor.
#include "core/transfer/entryimport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <tuple>
#include <vector>

#include "core/knowledgebase.h"
#include "sqlite/sqlitedb.h"
#include "core/storedtext.h"
#include "core/transfer/entryexport.h"

namespace {

constexpr std::string_view kSQLiteHeader{"SQLite format 3\0", 16};

// Why a row fails whose value named is over the limit.
std::string OverLimit(std::string_view name) {
    return "the " + std::string(name) + " is over " + std::string(kMaxImportedTextName);
}

class TByteReader {
public:
    explicit TByteReader(const std::string& path) : fpath(path) {
        ffile = std::fopen(path.c_str(), "rb");
        if (!ffile) throw EImportFile(path + ": " + std::strerror(errno));
        std::error_code ignored;
        fsize = std::filesystem::file_size(path, ignored);
    }
    ~TByteReader() { std::fclose(ffile); }
    TByteReader(const TByteReader&) = delete;
    TByteReader& operator=(const TByteReader&) = delete;

    // The next byte, or -1 at the end.
    int Peek() {
        if (fpos == flength && !Fill()) return -1;
        return static_cast<unsigned char>(fbuffer[fpos]);
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) {
            ++fpos;
            ++foffset;
            if (c == '\n') ++fline;
        }
        return c;
    }
    // Whether the bytes ahead begin with s (s no longer than a buffer's start holds).
    bool AheadIs(std::string_view s) {
        if (fpos == flength) Fill();
        return std::string_view(fbuffer, flength).substr(fpos).starts_with(s);
    }
    void Skip(size_t n) {
        for (size_t i = 0; i < n; ++i)
            Get();
    }

    uint64_t Offset() const { return foffset; }
    uint64_t Size() const { return fsize; }
    uint64_t Line() const { return fline; }
    const std::string& Path() const { return fpath; }

private:
    bool Fill() {
        flength = std::fread(fbuffer, 1, sizeof fbuffer, ffile);
        fpos = 0;
        if (flength == 0 && std::ferror(ffile)) throw EImportFile(fpath + " could not be read");
        return flength > 0;
    }

    std::string fpath;
    std::FILE* ffile = nullptr;
    char fbuffer[1 << 16];
    size_t flength = 0;
    size_t fpos = 0;
    uint64_t foffset = 0;
    uint64_t fsize = 0;
    uint64_t fline = 1;
};

// The values of one row of an export as an entry, their forms as forms names them (entryexport.h);
// false with failure set when one is no UTF-8, or cannot be stored in its form.
bool TakeValues(std::string ID, std::string created, std::string_view problem,
                std::string_view solution, std::string_view forms, bool createdNull,
                TStoredEntry& entry, std::string& failure) {
    TStoredForm problemForm = TStoredForm::Usual, solutionForm = TStoredForm::Usual;
    for (size_t at = 0; at < forms.size();) {
        const size_t end = std::min(forms.find(' ', at), forms.size());
        const std::string_view word = forms.substr(at, end - at);
        at = end + 1;
        if (word.empty()) continue;
        const size_t colon = word.find(':');
        const std::string_view form = colon == std::string_view::npos ? "" : word.substr(colon);
        TStoredForm* text = word.starts_with("problem:")    ? &problemForm
                            : word.starts_with("solution:") ? &solutionForm
                                                            : nullptr;
        if (word == kFormCreatedNull) {
            createdNull = true;
        } else if (text && form == kFormUtf8) {
            *text = TStoredForm::Utf8;
        } else if (text && form == kFormWindows1252) {
            *text = TStoredForm::Windows1252;
        } else {
            failure = "the forms value names an unknown form \"" +
                      LabelUtf8(word.substr(0, 40)) + "\"";
            return false;
        }
    }
    const std::pair<std::string_view, std::string_view> values[] = {{"ID", ID},
                                                                    {"created value", created},
                                                                    {"problem text", problem},
                                                                    {"solution text", solution}};
    for (const auto& [name, value] : values) {
        if (!IsValidUtf8(value)) {
            failure = "the " + std::string(name) + " is not valid UTF-8";
            return false;
        }
    }
    for (const auto& [name, text, form, stored] :
         {std::tuple{"problem", problem, problemForm, &entry.problem},
          std::tuple{"solution", solution, solutionForm, &entry.solution}}) {
        std::optional<std::string> inForm = StoredInForm(text, form);
        if (!inForm) {
            failure = "the " + std::string(name) + " text cannot be stored as Windows-1252";
            return false;
        }
        *stored = std::move(*inForm);
    }
    entry.ID = std::move(ID);
    entry.createdNull = entry.solutionCreatedNull = createdNull;
    if (createdNull) created.clear();
    entry.solutionCreated = created;
    entry.created = std::move(created);
    return true;
}

class TCsvSource : public TEntrySource {
public:
    explicit TCsvSource(std::unique_ptr<TByteReader> in) : fin(std::move(in)) {
        std::vector<std::string> names;
        std::string failure;
        if (!ReadRecord(names, failure) || !failure.empty()) names.clear();
        for (size_t i = 0; i < names.size(); ++i) {
            std::string name;
            for (char c : names[i]) {
                if (c != ' ' && c != '\t') name += (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
            }
            int* column = name == "id"         ? &fid
                          : name == "created"  ? &fcreated
                          : name == "problem"  ? &fproblem
                          : name == "solution" ? &fsolution
                          : name == "forms"    ? &fforms
                                               : nullptr;
            if (column && *column < 0) *column = static_cast<int>(i);
        }
        if (fid < 0 || fproblem < 0 || fsolution < 0) {
            throw EImportFile(fin->Path() +
                              " is not an export of entries: its first line does not name the "
                              "columns id, created, problem and solution");
        }
        fcolumns = names.size();
    }

    bool Next(TStoredEntry& entry, std::string& failure) override {
        for (;;) {
            frecordLine = fin->Line();
            if (!ReadRecord(ffields, failure)) return false;
            if (!failure.empty()) return true;
            if (ffields.size() == 1 && ffields[0].empty() && !fquoted) continue;  // a blank line
            if (fcount != fcolumns) {
                failure = std::to_string(fcount) + " fields where the first line names " +
                          std::to_string(fcolumns);
                return true;
            }
            const std::pair<int, std::string_view> columns[] = {{fid, "ID"},
                                                                 {fcreated, "created value"},
                                                                 {fproblem, "problem text"},
                                                                 {fsolution, "solution text"}};
            for (const auto& [column, name] : columns) {
                if (column < 0) continue;
                if (ffields[column].starts_with('\'')) ffields[column].erase(0, 1);
                if (ffields[column].size() > kMaxImportedText) {
                    failure = OverLimit(name);
                    return true;
                }
            }
            TakeValues(std::move(ffields[fid]),
                       fcreated >= 0 ? std::move(ffields[fcreated]) : std::string(),
                       ffields[fproblem], ffields[fsolution],
                       fforms >= 0 ? std::string_view(ffields[fforms]) : std::string_view(), false,
                       entry, failure);
            return true;
        }
    }
    std::string Where() const override { return "line " + std::to_string(frecordLine); }
    uint64_t Done() const override { return fin->Offset(); }
    uint64_t Total() const override { return fin->Size(); }

private:
    // A field is collected up to this many bytes, which tells one over the limit even after its
    // leading apostrophe is taken off; the rest of it is read past. Fields after the first
    // kMaxFields of a record are counted only.
    static constexpr size_t kCollected = kMaxImportedText + 2;
    static constexpr size_t kMaxFields = 1024;

    static bool AtRecordEnd(int c) { return c < 0 || c == '\r' || c == '\n'; }
    static void Put(std::string& field, int c) {
        if (field.size() < kCollected) field += static_cast<char>(c);
    }

    void EndRecord() {
        if (fin->Peek() == '\r') fin->Get();
        if (fin->Peek() == '\n') fin->Get();
    }

    // One record into fields; false at the end of the file. A malformed record sets failure and
    // is read up to its end as far as it can be told.
    bool ReadRecord(std::vector<std::string>& fields, std::string& failure) {
        if (fin->Peek() < 0) return false;
        fields.assign(1, std::string());
        fcount = 1;
        fquoted = false;
        for (;;) {
            std::string& field = fcount <= kMaxFields ? fields.back() : fbeyond;
            fbeyond.clear();
            if (fin->Peek() == '"') {
                fquoted = true;
                fin->Get();
                for (;;) {
                    const int c = fin->Get();
                    if (c < 0) {
                        failure = "a quoted field is not closed";
                        return true;
                    }
                    if (c == '"') {
                        if (fin->Peek() != '"') break;
                        fin->Get();
                    }
                    Put(field, c);
                }
                const int after = fin->Peek();
                if (after != ',' && !AtRecordEnd(after)) {
                    failure = "a character follows a closing quote";
                    while (!AtRecordEnd(fin->Peek()))
                        fin->Get();
                    EndRecord();
                    return true;
                }
            } else {
                for (int c = fin->Peek(); c != ',' && !AtRecordEnd(c); c = fin->Peek())
                    Put(field, fin->Get());
            }
            if (fin->Peek() != ',') break;
            fin->Get();
            if (++fcount <= kMaxFields) fields.emplace_back();
        }
        EndRecord();
        return true;
    }

    std::unique_ptr<TByteReader> fin;
    int fid = -1, fcreated = -1, fproblem = -1, fsolution = -1, fforms = -1;
    size_t fcolumns = 0;
    std::vector<std::string> ffields;
    size_t fcount = 0;    // fields of the last record
    std::string fbeyond;  // a field past kMaxFields, not kept
    bool fquoted = false;  // the last record had a quoted field
    uint64_t frecordLine = 0;
};

class TJsonSource : public TEntrySource {
public:
    explicit TJsonSource(std::unique_ptr<TByteReader> in) : fin(std::move(in)) {
        Blanks();
        Expect('[');
        Blanks();
        if (fin->Peek() == ']') {
            fin->Get();
            End();
        }
    }

    bool Next(TStoredEntry& entry, std::string& failure) override {
        if (fended) return false;
        ++fentry;
        Blanks();
        fentryLine = fin->Line();
        std::string values[kKeys];
        bool present[kKeys] = {};
        if (fin->Peek() == '{') {
            Object(values, present, failure);
        } else {
            SkipValue(0);
            failure = "the entry is not an object";
        }
        Blanks();
        const int c = fin->Get();
        if (c == ']') {
            End();
        } else if (c != ',') {
            Error("expected ',' or ']' after an entry");
        }
        if (!failure.empty()) return true;
        for (int k : {kId, kProblem, kSolution}) {
            if (!present[k]) {
                failure = "the entry has no \"" + std::string(kNames[k]) + "\"";
                return true;
            }
        }
        TakeValues(std::move(values[kId]), std::move(values[kCreated]), values[kProblem],
                   values[kSolution], values[kForms], fcreatedNull, entry, failure);
        return true;
    }
    std::string Where() const override {
        return "entry " + std::to_string(fentry) + " (line " + std::to_string(fentryLine) + ")";
    }
    uint64_t Done() const override { return fin->Offset(); }
    uint64_t Total() const override { return fin->Size(); }

private:
    enum { kId, kCreated, kProblem, kSolution, kForms, kKeys };
    static constexpr std::string_view kNames[] = {"id", "created", "problem", "solution", "forms"};
    static constexpr int kMaxDepth = 256;

    [[noreturn]] void Error(const std::string& what) {
        throw EImportFile(fin->Path() + " is not valid JSON: line " + std::to_string(fin->Line()) +
                          ": " + what);
    }
    void Blanks() {
        for (int c = fin->Peek(); c == ' ' || c == '\t' || c == '\r' || c == '\n'; c = fin->Peek())
            fin->Get();
    }
    void Expect(char c) {
        if (fin->Get() != c) Error(std::string("expected '") + c + "'");
    }
    void End() {
        fended = true;
        Blanks();
        if (fin->Peek() >= 0) Error("something follows the end of the array");
    }

    void Object(std::string (&values)[kKeys], bool (&present)[kKeys], std::string& failure) {
        fcreatedNull = false;
        Expect('{');
        Blanks();
        if (fin->Peek() == '}') {
            fin->Get();
            return;
        }
        std::string key;
        for (;;) {
            Blanks();
            key.clear();
            String(&key);
            Blanks();
            Expect(':');
            Blanks();
            int known = -1;
            for (int k = 0; k < kKeys; ++k)
                if (key == kNames[k]) known = k;
            if (known < 0) {
                SkipValue(1);
            } else if (fin->Peek() == '"') {
                values[known].clear();
                String(&values[known]);
                present[known] = true;
                static constexpr std::string_view kValueNames[] = {
                    "ID", "created value", "problem text", "solution text", "forms value"};
                if (values[known].size() > kMaxImportedText && failure.empty())
                    failure = OverLimit(kValueNames[known]);
            } else if (known == kCreated && fin->Peek() == 'n') {
                SkipValue(1);  // null, the only word with an n: a NULL created value
                values[known].clear();
                fcreatedNull = true;
            } else {
                SkipValue(1);
                if (failure.empty()) failure = "\"" + key + "\" is not a string";
            }
            Blanks();
            const int c = fin->Get();
            if (c == '}') return;
            if (c != ',') Error("expected ',' or '}' in an object");
        }
    }

    unsigned Hex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = fin->Get();
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) Error("a \\u escape needs four hexadecimal digits");
            value = value * 16 + static_cast<unsigned>(digit);
        }
        return value;
    }

    // Reads a string into out (none: past it). Past kMaxImportedText bytes the rest is read but
    // not kept, so that out holds at most a few bytes more than the limit.
    void String(std::string* out) {
        const auto room = [&] { return out && out->size() <= kMaxImportedText; };
        Expect('"');
        char32_t high = 0;  // a high surrogate waiting for its low half
        for (;;) {
            int c = fin->Get();
            if (c < 0) Error("a string is not closed");
            if (c == '\\' && fin->Peek() == 'u') {
                fin->Get();
                const char32_t unit = Hex4();
                if (high && unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (room()) AppendUtf8(*out, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                    high = 0;
                    continue;
                }
                if (high && room()) AppendUtf8(*out, high);
                high = 0;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    high = unit;
                } else if (room()) {
                    AppendUtf8(*out, unit);
                }
                continue;
            }
            if (high && room()) AppendUtf8(*out, high);
            high = 0;
            if (c == '"') return;
            if (c == '\\') {
                c = fin->Get();
                switch (c) {
                    case '"':
                    case '\\':
                    case '/':
                        break;
                    case 'b':
                        c = '\b';
                        break;
                    case 'f':
                        c = '\f';
                        break;
                    case 'n':
                        c = '\n';
                        break;
                    case 'r':
                        c = '\r';
                        break;
                    case 't':
                        c = '\t';
                        break;
                    default:
                        Error("an unknown escape in a string");
                }
            }
            if (room()) *out += static_cast<char>(c);
        }
    }

    void SkipValue(int depth) {
        if (depth > kMaxDepth) Error("values are nested too deeply");
        Blanks();
        const int c = fin->Peek();
        if (c == '"') {
            String(nullptr);
        } else if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            fin->Get();
            Blanks();
            if (fin->Peek() == close) {
                fin->Get();
                return;
            }
            for (;;) {
                if (c == '{') {
                    Blanks();
                    String(nullptr);
                    Blanks();
                    Expect(':');
                }
                SkipValue(depth + 1);
                Blanks();
                const int next = fin->Get();
                if (next == close) return;
                if (next != ',') Error("expected ',' or '" + std::string(1, close) + "'");
            }
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            for (int d = fin->Peek();
                 d == '-' || d == '+' || d == '.' || d == 'e' || d == 'E' || (d >= '0' && d <= '9');
                 d = fin->Peek())
                fin->Get();
        } else {
            std::string word;
            while (word.size() <= 5 && fin->Peek() >= 'a' && fin->Peek() <= 'z')
                word += static_cast<char>(fin->Get());
            if (word != "true" && word != "false" && word != "null") Error("expected a value");
        }
    }

    std::unique_ptr<TByteReader> fin;
    bool fended = false;
    bool fcreatedNull = false;  // the last object's created value is null
    uint64_t fentry = 0;
    uint64_t fentryLine = 0;
};

class TKnowledgeBaseSource : public TEntrySource {
public:
    explicit TKnowledgeBaseSource(const std::string& path) : fDB(path, ReadingMode(path)) {
        if (!kb::IsKnowledgeBase(fDB)) {
            throw EImportFile(path + " is an SQLite file but not a knowledge base");
        }
        // Only what is stored is imported: a column computed when read could be anything, of
        // any size.
        for (const char* table : {"textdata", "vectors"}) {
            if (!kb::GeneratedColumns(fDB, table).empty()) {
                throw EImportFile(path + " is not a knowledge base this program can import: " +
                                  table + " has a generated column");
            }
        }
        ftotal = kb::CountEntries(fDB);
        fentries = std::make_unique<kb::TEntryCursor>(fDB, true);
    }

    bool Next(TStoredEntry& entry, std::string& failure) override {
        if (!fentries->Next(entry)) return false;
        ++fdone;
        fwhere = entry.ID;
        if (!fentries->Overlong().empty()) failure = OverLimit(fentries->Overlong());
        return true;
    }
    std::string Where() const override { return "entry " + fwhere; }
    uint64_t Done() const override { return fdone; }
    uint64_t Total() const override { return ftotal; }

private:
    TSQLiteDatabase fDB;
    std::unique_ptr<kb::TEntryCursor> fentries;  // after fDB: it goes first
    uint64_t fdone = 0, ftotal = 0;
    std::string fwhere;
};

}  // namespace

std::unique_ptr<TEntrySource> OpenEntrySource(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) throw EImportFile("There is no file " + path);
    if (!std::filesystem::is_regular_file(status)) throw EImportFile(path + " is not a file");
    auto in = std::make_unique<TByteReader>(path);
    if (in->AheadIs(kSQLiteHeader)) {
        in.reset();
        return std::make_unique<TKnowledgeBaseSource>(path);
    }
    if (in->AheadIs(kUtf8Mark)) in->Skip(kUtf8Mark.size());
    for (int c = in->Peek(); c == ' ' || c == '\t' || c == '\r' || c == '\n'; c = in->Peek())
        in->Get();
    if (in->Peek() == '[') return std::make_unique<TJsonSource>(std::move(in));
    return std::make_unique<TCsvSource>(std::move(in));
}
