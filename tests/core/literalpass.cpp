#include "literalpass.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "core/knowledgebase.h"
#include "port/errors.h"
#include "core/storedtext.h"
#include "textsearch/similarity.h"

bool THit::operator==(const THit& o) const {
    return ID == o.ID && texttype == o.texttype && Title == o.Title && excerpt == o.excerpt &&
           std::memcmp(&score, &o.score, sizeof score) == 0;
}

std::ostream& operator<<(std::ostream& out, const THit& h) {
    return out << h.ID << " " << h.texttype << " " << h.score << " [" << h.Title << "] [" << h.excerpt << "]";
}

std::vector<THit> LiteralPass(const TcvVector& query, TSQLiteDatabase& DB) {
    auto searchtable = kb::LoadVectors(DB);
    std::vector<THit> hits;
    for (bool more = searchtable->MoveFirst(); more && !searchtable->Eof(); searchtable->Next()) {
        TcvVector stored;
        stored.SetText(searchtable->FieldAsString(2));
        float score;
        try {
            score = Proximity(query, stored);
        } catch (const EConvertError&) {
            continue;
        }
        if (!(score > 0.25f)) continue;
        std::string text;
        try {
            text = kb::ReadDescription(DB, searchtable->FieldAsString(0),
                                       searchtable->FieldAsString(1));
        } catch (const ESQLiteException&) {
            continue;
        }
        // Titles and excerpts are checked on their own (storedtext_test); here, that each hit
        // shows its own text.
        hits.push_back(
            {searchtable->FieldAsString(0), searchtable->FieldAsString(1), HitTitleUtf8(text),
             HitExcerptUtf8(text), score});
    }
    // Best first; among equal scores the later row first, as the score tree orders them.
    std::vector<THit> ordered(hits.rbegin(), hits.rend());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const THit& a, const THit& b) { return a.score > b.score; });
    return ordered;
}

std::vector<THit> HitsOf(const TSearchPass& pass) {
    std::vector<THit> hits;
    for (int p = pass.tree->Count() - 1; p >= 0; --p) {
        const TcvResults* r = pass.tree->Items(p)->data;
        hits.push_back({std::string(r->ID), std::string(TSearchPass::TextTypeOf(*r)),
                        std::string(r->Title), std::string(r->excerpt), r->Proximity});
    }
    return hits;
}

const char* const kWords[] = {"printer", "printers", "printing", "jam",       "jammed", "paper",
                              "tray",    "network",  "connect",  "connected", "error",  "the",
                              "a",       "it's",     "driver",   "Driver",    "reboot", "ing",
                              "caf\xE9", "win98",    "1990s",    "toner",     "e-mail", "x"};

std::string RandomText(std::mt19937& rng, int maxWords) {
    std::uniform_int_distribution<int> words(0, maxWords), pick(0, std::size(kWords) - 1),
        sep(0, 9);
    std::string text;
    const int n = words(rng);
    for (int i = 0; i < n; ++i) {
        if (i) text += sep(rng) == 0 ? "\r\n" : (sep(rng) == 1 ? ", " : " ");
        text += kWords[pick(rng)];
    }
    return text;
}

// A knowledge base with ordinary entries and the damage older files can carry: vectors without
// their texts, malformed and duplicated counts, upper-case names, texts with NUL bytes.
void FillRandomly(TSQLiteDatabase& DB, std::mt19937& rng, int entries) {
    std::uniform_int_distribution<int> kind(0, 19);
    for (int e = 0; e < entries; ++e) {
        const int k = kind(rng);
        if (k == 0) {
            DB.ExecSQL(kb::InsertVectorSQL("orphan" + std::to_string(e), "P",
                                           EncodeCV(RandomText(rng, 6))->Text()));
        } else if (k == 1) {
            const std::string ID = kb::SaveEntry(DB, RandomText(rng, 8), RandomText(rng, 8));
            const char* bad[] = {"printer=x\r\njam=2\r\n",  "PRINTER=3\r\nprinter=1\r\n",
                                 "jam\r\n=4\r\npaper=\r\n", "printer=99999999999\r\n",
                                 "printer=-2\r\nthe=1\r\n", "printer=07\r\n\r\npaper=1"};
            DB.ExecSQL("update vectors set vectordata='" +
                       std::string(bad[std::uniform_int_distribution<int>(0, 5)(rng)]) +
                       "' where ID='" + ID + "' and texttype='P'");
        } else if (k == 2) {
            const std::string ID = kb::SaveEntry(DB, RandomText(rng, 30), RandomText(rng, 4));
            DB.ExecSQL(
                "update textdata set description='printer jam '||char(0)||' hidden' where ID='" +
                ID + "' and texttype='P'");
        } else {
            kb::SaveEntry(DB, RandomText(rng, k < 6 ? 60 : 8), RandomText(rng, 12));
        }
    }
}
