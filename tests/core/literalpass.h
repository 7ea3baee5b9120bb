// What the search must give, worked out the plain way: every loaded row in turn, parsed, scored
// with Proximity, its text looked up with its own statement, kept above 0.25, ordered by score
// with later rows first on ties. And random knowledge bases to compare on.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "core/searchindex.h"
#include "sqlite/sqlitedb.h"
#include "textsearch/cvvector.h"

struct THit {
    std::string ID, texttype, Title, excerpt;
    float score;
    bool operator==(const THit& o) const;
};
std::ostream& operator<<(std::ostream& out, const THit& h);

// The hits of query over the knowledge base as a fresh load reads it.
std::vector<THit> LiteralPass(const TcvVector& query, TSQLiteDatabase& DB);
// The hits of a pass, best first.
std::vector<THit> HitsOf(const TSearchPass& pass);
std::string RandomText(std::mt19937& rng, int maxWords);
// Ordinary entries and the damage older files can carry: vectors without their texts, malformed
// and duplicated counts, upper-case names, texts with NUL bytes.
void FillRandomly(TSQLiteDatabase& DB, std::mt19937& rng, int entries);
