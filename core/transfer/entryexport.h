// Export of every entry to a file another program can read: CSV (RFC 4180), JSON, or Markdown for
// people. The columns are id, created, problem and solution, all as UTF-8: texts converted from
// their stored form, IDs and created values taken as they are when they are UTF-8 already (all
// that this program writes) and read as Windows-1252 otherwise. Line breaks inside texts stay as
// stored (CR LF, as the editors store them) in CSV and JSON, so that importing the file gives
// back the same bytes; Markdown, which is for reading, writes every line break as LF. An entry's
// created value is its problem text's (its solution may have been saved a second later), which an
// import gives both texts.
//
// Texts a file from elsewhere stored in a form this program would not have made of them
// (storedtext.h: TStoredForm) and NULL created values travel in a fifth value, forms: words
// apart by blanks, "problem:utf-8", "problem:windows-1252", the same for "solution", and
// "created:null"; it is empty for every entry this program saved. JSON writes a NULL created value
// as null and the forms member only when it is not empty. Files without forms import as before.
//
// CSV: a header line, then one record per entry; fields holding a comma, a quote or a line break
// are quoted, with quotes doubled; records end in CR LF. A field that begins with =, +, -, @, a
// tab, a CR or an apostrophe gets an apostrophe in front, so that no spreadsheet runs it as a
// formula; an import takes one leading apostrophe off every field (entryimport.h). JSON: an array of objects with the four
// string members, one object per line. Markdown: one section per entry, each text in a fenced
// block longer than any run of backticks in it, so that nothing in a text is read as markup.
//
// Thread safety: a writer is used by one thread; the functions touch only their arguments.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "core/store/knowledgestore.h"

enum class TExportFormat { Csv, Json, Markdown };

// The words of the forms value: a text's name followed by one of the two forms, or the NULL
// created value.
inline constexpr std::string_view kFormUtf8 = ":utf-8";
inline constexpr std::string_view kFormWindows1252 = ":windows-1252";
inline constexpr std::string_view kFormCreatedNull = "created:null";

// The format of a name as the user gives it ("csv", "json", "md"), if any.
std::optional<TExportFormat> ExportFormatNamed(std::string_view name);

// Writes entries to a stream in one format.
class TEntryWriter {
public:
    static std::unique_ptr<TEntryWriter> Make(TExportFormat format, std::ostream& out);
    virtual ~TEntryWriter() = default;

    virtual void Write(const TStoredEntry& entry) = 0;
    // Ends the file (JSON closes its array). Write may not follow.
    virtual void Finish() = 0;
};

// Writes every entry of the store to out; false when progress cancelled (out then holds part of
// the export). Raises the store's error, or an Exception when out fails.
bool ExportEntries(TKnowledgeStore& store, TExportFormat format, std::ostream& out,
                   const TProgress& progress);

// Writes an export to the file target: write fills the stream it is given and returns false when
// cancelled. The target is checked first (targetfile.h: kbFile is the knowledge base file in
// use, "" on a server; ETargetRefused) and the export written beside it, to take its place only
// when whole, so that a refused, failed or cancelled export leaves what was at the target as it
// was. False when cancelled. Raises ETargetRefused, or an Exception naming the target and the
// reason (what write raised, or why the file could not be written).
bool ExportToFile(const std::string& target, const std::string& kbFile,
                  const std::function<bool(std::ostream&)>& write);
