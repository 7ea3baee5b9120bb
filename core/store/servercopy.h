// Copying the entries of a knowledge base file to an office server, for an office that moves
// its knowledge base there: every entry whose ID the server does not hold yet, with its texts,
// their vectors and their dates as the file has them, in one transaction.
//
// Thread safety: as the stores it uses; the server store must not be in an engine's use while
// the copy runs (engines on the server take the copied entries in through its change log).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

class TPgStore;

struct TCopyResult {
    size_t copied = 0;        // entries copied
    size_t alreadyThere = 0;  // entries whose ID the server held, left as they are there
    size_t refusedRows = 0;   // rows the server cannot hold (an ID or text type no entry has)
};

// Copies the entries of the knowledge base file (opened as the program opens it) to the
// server, in the file's order, so that the server lists equal hits in the order the file does.
// progress(rows done, rows in all) is called now and then. All or nothing: on failure nothing
// is copied and the error propagates.
TCopyResult CopyEntriesToServer(const std::string& file, TPgStore& server,
                                const std::function<void(size_t, size_t)>& progress = {});
