// The office server as pelloquin-kb reaches it besides the store: a connection of the tool's own,
// made first, for what the store's interface does not tell. Whether the server can be reached at
// all, so that the tool says so at once (connecting gives up after the store's time-out); whether
// its database holds a knowledge base, since opening a store on one that holds none would make
// the tables, and the tool never makes a knowledge base; and the counts of stats.
//
// Thread safety: one thread at a time, as the connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

class TPgConnection;

// What stats counts: entries (distinct IDs of stored texts), stored texts, and distinct terms
// over every term vector, orphans included.
struct TKbCounts {
    uint64_t entries = 0;
    uint64_t texts = 0;
    uint64_t terms = 0;
};

// Adds the terms of a term vector in its stored form to terms.
void AddTermsOf(std::string_view vector, std::unordered_set<std::string>& terms);

class TServerLook {
public:
    // Connects to the server of conninfo (a connection string as libpq reads it). Raises
    // EToolUsage when it cannot be reached or its database holds no knowledge base.
    explicit TServerLook(const std::string& conninfo);
    ~TServerLook();
    TServerLook(const TServerLook&) = delete;
    TServerLook& operator=(const TServerLook&) = delete;

    // The counts of the tables, in one snapshot.
    TKbCounts Counts();

private:
    std::unique_ptr<TPgConnection> fconn;
};
