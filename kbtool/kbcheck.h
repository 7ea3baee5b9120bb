// The check of a knowledge base file: what a damaged file can hold that the program would stumble
// over or show wrongly, one finding per line, in a fixed order.
//
//   integrity: ...         SQLite's integrity check did not say ok
//   schema: ...            a trigger, a view, or a generated column in one of the tables
//   settings: ...          the settings table or its FONTSIZE row is missing or not a number
//   entry ID: ...          an entry (an ID with a text) lacks one of its four rows (problem and
//                          solution text, problem and solution vector), holds one twice, or has
//                          a row of another text type
//   orphan vector ID T     a vector row of an ID that has no text at all
//   vector ID T: ...       a vector row that is not term=count lines with valid counts, or that is
//                          not the term vector of its text
//   text ID T: ...         a text that begins with the UTF-8 mark but is not UTF-8 after it
//
// IDs are written as UTF-8, with backslash, tab, CR and LF written as \\, \t, \r and \n.
//
// Thread safety: reads the database only; the connection may be shared (it is serialized).
#pragma once

#include <string>
#include <vector>

#include "sqlite/sqlitedb.h"

// Every finding on the open knowledge base; none for a sound one.
std::vector<std::string> CheckKnowledgeBase(TSQLiteDatabase& DB);

// A value for one line of the tool's output: UTF-8, with backslash, tab, CR and LF escaped.
std::string OutputField(std::string_view utf8);
