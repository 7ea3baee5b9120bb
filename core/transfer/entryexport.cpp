#include "core/transfer/entryexport.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/storedtext.h"
#include "core/transfer/targetfile.h"
#include "port/replacefile.h"

namespace {

// The columns of an export, with an entry's values in them as UTF-8.
struct TColumn {
    const char* name;
    std::string value;
};

// What an import needs besides the four columns to store the entry's values byte for byte
// (entryimport.h): the form of a text that is not what its UTF-8 would be stored as, a NULL
// created value when asked to name it (CSV has no NULL).
std::string Forms(const TStoredEntry& entry, bool nullCreated) {
    std::string forms;
    auto add = [&forms](std::string_view word) {
        if (!forms.empty()) forms += ' ';
        forms += word;
    };
    if (nullCreated && entry.createdNull) add(kFormCreatedNull);
    for (const auto& [name, text] : {std::pair{"problem", &entry.problem},
                                     std::pair{"solution", &entry.solution}}) {
        switch (OddFormOf(*text)) {
            case TStoredForm::Usual:
                break;
            case TStoredForm::Utf8:
                add(std::string(name) + std::string(kFormUtf8));
                break;
            case TStoredForm::Windows1252:
                add(std::string(name) + std::string(kFormWindows1252));
                break;
        }
    }
    return forms;
}

std::array<TColumn, 4> Columns(const TStoredEntry& entry) {
    return {{{"id", LabelUtf8(entry.ID)},
             {"created", LabelUtf8(entry.created)},
             {"problem", Utf8FromStored(entry.problem)},
             {"solution", Utf8FromStored(entry.solution)}}};
}

// The first characters that make a spreadsheet read a cell as a formula, and the apostrophe that
// marks a cell as text.
constexpr std::string_view kFormulaStarts = "=+-@\t\r'";

class TCsvWriter : public TEntryWriter {
public:
    explicit TCsvWriter(std::ostream& out) : fout(out) {
        fout << "id,created,problem,solution,forms\r\n";
    }

    void Write(const TStoredEntry& entry) override {
        const char* separator = "";
        for (const TColumn& column : Columns(entry)) {
            fout << separator;
            Field(column.value);
            separator = ",";
        }
        fout << ',';
        Field(Forms(entry, true));
        fout << "\r\n";
    }
    void Finish() override {}

private:
    void Field(std::string_view text) {
        // A spreadsheet reads a cell that begins with one of these as a formula; the apostrophe
        // in front makes it text there, and the import takes it off again.
        std::string marked;
        if (!text.empty() && kFormulaStarts.find(text[0]) != std::string_view::npos) {
            marked = "'" + std::string(text);
            text = marked;
        }
        const std::string_view value = text;
        if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
            fout << value;
            return;
        }
        fout << '"';
        for (size_t start = 0;;) {
            const size_t quote = value.find('"', start);
            fout << value.substr(start, quote - start);
            if (quote == std::string_view::npos) break;
            fout << "\"\"";
            start = quote + 1;
        }
        fout << '"';
    }

    std::ostream& fout;
};

class TJsonWriter : public TEntryWriter {
public:
    explicit TJsonWriter(std::ostream& out) : fout(out) { fout << '['; }

    void Write(const TStoredEntry& entry) override {
        fout << (ffirst ? "\n" : ",\n");
        ffirst = false;
        char separator = '{';
        for (const TColumn& column : Columns(entry)) {
            fout << separator << '"' << column.name << "\":";
            if (column.name == std::string_view("created") && entry.createdNull) {
                fout << "null";
            } else {
                String(column.value);
            }
            separator = ',';
        }
        if (const std::string forms = Forms(entry, false); !forms.empty()) {
            fout << ",\"forms\":";
            String(forms);
        }
        fout << '}';
    }
    void Finish() override { fout << "\n]\n"; }

private:
    void String(std::string_view value) {
        fout << '"';
        size_t plain = 0;  // start of the bytes not written yet
        for (size_t i = 0; i < value.size(); ++i) {
            const auto c = static_cast<unsigned char>(value[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            fout << value.substr(plain, i - plain);
            plain = i + 1;
            switch (c) {
                case '"':
                    fout << "\\\"";
                    break;
                case '\\':
                    fout << "\\\\";
                    break;
                case '\b':
                    fout << "\\b";
                    break;
                case '\f':
                    fout << "\\f";
                    break;
                case '\n':
                    fout << "\\n";
                    break;
                case '\r':
                    fout << "\\r";
                    break;
                case '\t':
                    fout << "\\t";
                    break;
                default: {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    fout << escape;
                }
            }
        }
        fout << value.substr(plain) << '"';
    }

    std::ostream& fout;
    bool ffirst = true;
};

class TMarkdownWriter : public TEntryWriter {
public:
    explicit TMarkdownWriter(std::ostream& out) : fout(out) { fout << "# Knowledge base\n"; }

    void Write(const TStoredEntry& entry) override {
        fout << "\n## Entry " << Escaped(LabelUtf8(entry.ID)) << "\n\n";
        if (!entry.created.empty())
            fout << "Created " << Escaped(LabelUtf8(entry.created)) << "\n\n";
        fout << "Problem:\n\n";
        Block(Utf8FromStored(entry.problem));
        fout << "\nSolution:\n\n";
        Block(Utf8FromStored(entry.solution));
    }
    void Finish() override {}

private:
    // Markdown's punctuation written as itself.
    static std::string Escaped(std::string_view value) {
        std::string escaped;
        for (char c : value) {
            if (std::string_view("\\`*_{}[]()<>#+-.!|~&").find(c) != std::string_view::npos) {
                escaped += '\\';
            }
            escaped += (c == '\r' || c == '\n') ? ' ' : c;
        }
        return escaped;
    }

    void Block(std::string_view text) {
        std::string lines;
        lines.reserve(text.size());
        size_t run = 0, longest = 0;  // backticks in a row
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            run = c == '`' ? run + 1 : 0;
            longest = std::max(longest, run);
            if (c == '\r') {
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                lines += '\n';
            } else {
                lines += c;
            }
        }
        const std::string fence(std::max<size_t>(3, longest + 1), '`');
        fout << fence << '\n' << lines;
        if (!lines.empty() && lines.back() != '\n') fout << '\n';
        fout << fence << '\n';
    }

    std::ostream& fout;
};

}  // namespace

std::optional<TExportFormat> ExportFormatNamed(std::string_view name) {
    if (name == "csv") return TExportFormat::Csv;
    if (name == "json") return TExportFormat::Json;
    if (name == "md" || name == "markdown") return TExportFormat::Markdown;
    return std::nullopt;
}

std::unique_ptr<TEntryWriter> TEntryWriter::Make(TExportFormat format, std::ostream& out) {
    switch (format) {
        case TExportFormat::Csv:
            return std::make_unique<TCsvWriter>(out);
        case TExportFormat::Json:
            return std::make_unique<TJsonWriter>(out);
        case TExportFormat::Markdown:
            break;
    }
    return std::make_unique<TMarkdownWriter>(out);
}

bool ExportEntries(TKnowledgeStore& store, TExportFormat format, std::ostream& out,
                   const TProgress& progress) {
    const auto writer = TEntryWriter::Make(format, out);
    auto failed = [&out] { return !out; };
    const bool whole = store.ForEachEntry(
        [&](const TStoredEntry& entry) {
            writer->Write(entry);
            if (failed()) throw Exception("The export could not be written");
        },
        progress);
    if (!whole) return false;
    writer->Finish();
    out.flush();
    if (failed()) throw Exception("The export could not be written");
    return true;
}

bool ExportToFile(const std::string& target, const std::string& kbFile,
                  const std::function<bool(std::ostream&)>& write) {
    const std::string path = CheckedTarget(target, kbFile);
    TFileBeside file(path, ".part", TFileBeside::TWriter::Stream);
    bool whole = false;
    try {
        whole = write(file.Stream());
    } catch (const Exception& e) {
        // A failed write says why in the file's own terms (a full disk, a size limit).
        file.CheckWritten();
        throw Exception("Nothing was written to " + target + ": " + e.what());
    }
    if (!whole) return false;
    file.Commit();
    return true;
}
