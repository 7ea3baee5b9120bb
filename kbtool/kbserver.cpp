#include "core/store/storechoice.h"
#include "kbtool/kbserver.h"

#include <chrono>

#include "kbtool/kbtool.h"
#include "pg/pgdb.h"
#include "textsearch/cvrules.h"

namespace {

// As long as the store waits for a connection.
constexpr std::chrono::seconds kConnectTimeout{5};
constexpr int kFetchRows = 8192;

}  // namespace

void AddTermsOf(std::string_view vector, std::unordered_set<std::string>& terms) {
    std::string name;
    cvrules::ForEachStoredLine(vector, [&](std::string_view line) {
        name.assign(cvrules::NameOf(line));
        terms.insert(name);
    });
}

TServerLook::TServerLook(const std::string& conninfo) {
    const std::string location = WithoutPasswords(conninfo);
    try {
        fconn = TPgConnection::Connect(conninfo, kConnectTimeout);
        // As a file is known by its tables: what the store reads must be there.
        const TPgResult present = fconn->Query(
            "select to_regclass('textdata') is not null and to_regclass('vectors') is not null");
        if (!present.Bool(0, 0)) {
            throw EToolUsage("the office server " + location +
                             " holds no knowledge base (Pelloquin makes one when it first opens "
                             "the server)");
        }
    } catch (const EPgException& e) {
        throw EToolUsage("cannot connect to the office server " + location + ": " +
                         WithoutPasswords(e.what(), conninfo));
    }
}

TServerLook::~TServerLook() = default;

TKbCounts TServerLook::Counts() {
    TPgConnection& c = *fconn;
    TKbCounts counts;
    std::unordered_set<std::string> terms;
    c.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    counts.entries = static_cast<uint64_t>(
        c.Query("select count(*) from (select distinct ID from textdata) e").Int64(0, 0));
    counts.texts = static_cast<uint64_t>(c.Query("select count(*) from textdata").Int64(0, 0));
    c.Exec("DECLARE pelloquin_terms NO SCROLL CURSOR FOR select vectordata from vectors");
    const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM pelloquin_terms";
    for (;;) {
        const TPgResult rows = c.Query(fetch);
        if (rows.Rows() == 0) break;
        for (int r = 0; r < rows.Rows(); ++r)
            AddTermsOf(rows.Bytes(r, 0), terms);
    }
    c.Exec("COMMIT");
    counts.terms = terms.size();
    return counts;
}
