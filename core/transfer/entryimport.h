// Reading entries to import: a CSV or JSON export (entryexport.h) or another knowledge base file.
// The kind is told from the content: SQLite's header makes a knowledge base, a '[' first (after
// an optional byte-order mark and blanks) makes JSON, anything else is read as CSV.
//
// CSV: RFC 4180, read leniently: records end in CR LF, LF or CR outside quotes; the first record
// names the columns (id, problem and solution are needed, created may be left out, others are
// ignored; names compare without regard to case or surrounding blanks); blank lines are skipped;
// a value that begins with an apostrophe loses it (the export puts one before a value that a
// spreadsheet would take for a formula, and before one that begins with an apostrophe).
// JSON: an array of objects with string members id, problem, solution and (optionally) created;
// other members are ignored. In both, every value must be UTF-8: texts are stored in their stored
// form (StoredFromUtf8), IDs and created values as they are, line breaks as the file has them. A
// row that breaks these rules fails on its own with its reason; JSON that is not well-formed
// ends the reading (and the import) at the fault. A value over kMaxImportedText bytes
// (knowledgestore.h) fails its row; the readers keep no more of it than that.
//
// A knowledge base file is read through its own read-only connection, its texts byte for byte;
// one whose tables have generated columns is refused, so that only stored values are imported.
// A text over kMaxImportedText bytes fails its entry, its length asked before it is read.
//
// Thread safety: a source is used by one thread.
#pragma once

#include <memory>
#include <string>

#include "core/store/knowledgestore.h"

// A file to import that cannot be read at all, or is of no kind that can be imported.
class EImportFile : public Exception {
public:
    using Exception::Exception;
};

// The entries of the file at path. Raises EImportFile (or the database layer's error for a
// damaged knowledge base file) when it cannot be read as any of the three kinds.
std::unique_ptr<TEntrySource> OpenEntrySource(const std::string& path);
