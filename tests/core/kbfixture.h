// Knowledge bases for the tests of export, import, backups and the command-line tool: entries in
// many scripts and with every character a file format must carry, written row by row so that
// their IDs and created values are the test's own, and the rows of a file in a comparable form.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "sqlite/sqlitedb.h"

// A new, empty knowledge base at file, as the program makes it.
void MakeKnowledgeBase(const std::string& file);
// The same, holding one entry ("printer jams", "clean the rollers").
void MakeOneEntryKnowledgeBase(const std::string& file);

// A text in UTF-8 of up to maxParts pieces: Polish, Greek, Cyrillic, CJK, emoji, Windows-1252
// letters and punctuation, apostrophes, quotes, commas, backslashes, tabs, CR LF and LF.
std::string ScriptText(std::mt19937& rng, int maxParts);

// Adds entries whose texts are ScriptText in their stored form, with the insert statements of a
// save (both rows of an entry with one created value). Some IDs and created values are odd: an
// apostrophe, a comma, a quote, non-ASCII letters, an empty created value. Texts have up to
// maxParts pieces.
void AddScriptEntries(TSQLiteDatabase& DB, std::mt19937& rng, int entries, int maxParts = 12);

// Every row of textdata and vectors with every column's bytes, sorted: equal for two files that
// hold the same entries byte for byte.
std::vector<std::string> RowsOf(const std::string& file);

std::string FileBytes(const std::string& path);
