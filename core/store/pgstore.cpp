// Statements take their values as parameters (texts and vectors as bytes), so nothing the user
// typed is ever pasted into SQL. The schema is created only when a table is missing, under an
// advisory lock, so that programs starting together on an empty database do not collide.
#include "core/store/pgstore.h"

#include <algorithm>
#include <charconv>
#include <unordered_set>
#include <utility>

#include "core/knowledgebase.h"
#include "core/store/storechoice.h"
#include "pg/pgdb.h"
#include "port/datadir.h"
#include "port/guid.h"
#include "port/localformat.h"
#include "port/strconv.h"
#include "core/searchindex.h"
#include "core/storedtext.h"
#include "textsearch/bestmatch/bestmatchindex.h"
#include "textsearch/cvvector.h"
#include "core/store/usersettings.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 5s;
// The listener's pauses between attempts to reach the server: growing from the first to the
// longest, so that a server back up is found within a couple of seconds.
constexpr auto kFirstPause = 100ms;
constexpr auto kLongestPause = 2s;
// How long the listener waits for its socket before it looks at its other duties again.
constexpr auto kListenWait = 5s;
// Changed entries a sync replaces one by one; more than this, and the index is loaded whole.
constexpr int64_t kMostChanges = 2000;
// Changed entries removed one by one (each a walk over the texts); more go in one walk.
constexpr size_t kFewEntries = 8;
// Rows fetched at a time by a full load.
constexpr int kFetchRows = 8192;

constexpr std::string_view kChannel = "pelloquin_changes";
constexpr std::string_view kTextSizeSetting = "textsize";
constexpr int32_t kDefaultFontSize = 10;

// The tables; vectors.seq and changelog are what keeping other programs in step needs.
constexpr std::string_view kSchema[] = {
    "create table if not exists textdata (ID varchar(40) not null, created text, "
    "credited varchar(255), texttype varchar(1) not null, description bytea, "
    "primary key (ID, texttype))",
    "create table if not exists vectors (ID varchar(40) not null, texttype varchar(1) not null, "
    "vectordata bytea, seq bigserial not null unique, primary key (ID, texttype))",
    "create table if not exists settings (ID varchar(40) not null, value varchar(40) not null)",
    "insert into settings select 'FONTSIZE', '10' where not exists "
    "(select 1 from settings where ID = 'FONTSIZE')",
    "create table if not exists changelog (seq bigserial primary key, ID varchar(40) not null, "
    "op varchar(1) not null default 'S')",
    // Change logs made before the kind of change was recorded.
    "alter table changelog add column if not exists op varchar(1) not null default 'E'",
    // The earlier versions of entries (entryhistory.h), as the file keeps them.
    "create table if not exists history (seq bigserial primary key, ID varchar(40) not null, "
    "event varchar(1) not null, at bigint not null, who varchar(255), created text, "
    "problem bytea, solcreated text, solution bytea, writtenat bigint, writtenby varchar(255))",
    "create index if not exists history_entry on history (ID, seq)",
    // Best match's terms of each text (bestmatchindex.h, TTextTerms), kept by every writer of
    // this version; a row belongs to the text of the vector row of its seq with its ID, text
    // type and size in bytes (earlier versions write beside it and every edit gives new seqs).
    "create table if not exists bestterms (seq bigint primary key, ID varchar(40) not null, "
    "texttype varchar(1) not null, bytes bigint not null, terms bytea not null)",
    "create index if not exists bestterms_id on bestterms (ID)",
};

// Taken first by every write: the change log's lock makes writers number their rows in commit
// order.
constexpr std::string_view kLockChangeLog = "LOCK TABLE changelog IN EXCLUSIVE MODE";
constexpr std::string_view kLockNotGranted = "55P03";
constexpr std::string_view kStatementTimedOut = "57014";

// Records the change of entry $1 and announces it at commit; every write of an entry ends so.
// The kind of change: S an entry new to the server (saved, copied, imported: no index can hold
// it yet), E edited, D deleted.
std::string RecordChange(char op) {
    return "c as (insert into changelog (ID, op) values ($1::varchar, '" + std::string(1, op) +
           "') returning seq) select pg_notify('" + std::string(kChannel) + "', seq::text) from c";
}

const std::string kSaveSQL =
    "with t as (insert into textdata values ($1::varchar, $2::text, null, 'P', $4::bytea), "
    "($1::varchar, $3::text, null, 'S', $5::bytea)), "
    "v as (insert into vectors (ID, texttype, vectordata) values ($1::varchar, 'P', $6::bytea), "
    "($1::varchar, 'S', $7::bytea)), " +
    RecordChange('S');
constexpr std::string_view kReplaceTextsSQL =
    "with p as (update textdata set description = $2::bytea where ID = $1::varchar and "
    "texttype = 'P'), s as (update textdata set description = $3::bytea where ID = $1::varchar "
    "and texttype = 'S') delete from vectors where ID = $1::varchar";
const std::string kReplaceVectorsSQL =
    "with v as (insert into vectors (ID, texttype, vectordata) values ($1::varchar, 'P', "
    "$2::bytea), ($1::varchar, 'S', $3::bytea)), " +
    RecordChange('E');
const std::string kDeleteSQL =
    "with t as (delete from textdata where ID = $1::varchar), "
    "v as (delete from vectors where ID = $1::varchar), " +
    RecordChange('D');

// The texts of entry $1 kept in the history as replaced by event $2 (by $3, NULL when ""), with
// who wrote them: the newest save, edit or restore recorded. Nothing for an entry gone.
constexpr std::string_view kKeepVersionSQL =
    "insert into history (ID, event, at, who, created, problem, solcreated, solution, writtenat, "
    "writtenby) select $1::varchar, $2::varchar, extract(epoch from statement_timestamp())::bigint, "
    "nullif($3::varchar, ''), p.created, coalesce(p.description, ''::bytea), s.created, "
    "coalesce(s.description, ''::bytea), w.at, w.who "
    "from (select 1) one left join textdata p on p.ID = $1::varchar and p.texttype = 'P' "
    "left join textdata s on s.ID = $1::varchar and s.texttype = 'S' "
    "left join lateral (select at, who from history where ID = $1::varchar and event in "
    "('S', 'E', 'R') order by seq desc limit 1) w on true "
    "where p.ID is not null or s.ID is not null";
// Who saved entry $1 ($2, NULL when ""), in a row of its own, so that the entry's rows stay as
// the file's save writes them (credited NULL).
constexpr std::string_view kRecordSaveSQL =
    "insert into history (ID, event, at, who) values ($1::varchar, 'S', "
    "extract(epoch from statement_timestamp())::bigint, nullif($2::varchar, ''))";
// The columns of a version, as VersionsFrom reads them.
constexpr std::string_view kVersionColumns =
    "h.seq, h.event, h.at, coalesce(h.who, ''), coalesce(h.writtenat, 0), "
    "coalesce(h.writtenby, ''), h.ID, coalesce(h.created, ''), "
    "coalesce(h.solcreated, h.created, ''), h.problem, h.solution";
constexpr std::string_view kHasTexts = "h.problem is not null";
constexpr std::string_view kDeletedRows =
    "h.event = 'D' and h.seq = (select max(seq) from history where ID = h.ID) and "
    "not exists (select 1 from textdata where ID = h.ID)";

// The head of a text, as much of it as a hit shows; an index that asks for whole texts (Best
// match) gets them whole, and no vector texts, which it does not read.
// Best match gets a text whole only when it has no terms that belong to it.
std::string HeadOf(const TSearchIndex& index) {
    return index.WholeTexts()
               ? "case when b.seq is null then t.description end"
               : "substring(t.description from 1 for " + std::to_string(kHitTextBytes) + ")";
}
// Best match's terms of the text (the last column), from the table's row that belongs to it.
std::string TermsOf(const TSearchIndex& index) {
    return index.WholeTexts() ? "b.terms" : "null::bytea";
}
std::string TermsJoin(const TSearchIndex& index) {
    return index.WholeTexts()
               ? " left join bestterms b on b.seq = v.seq and b.ID = v.ID and b.texttype = "
                 "v.texttype and b.bytes = coalesce(octet_length(t.description), 0)"
               : "";
}
std::string VectorOf(const TSearchIndex& index) {
    return index.WholeTexts() ? "''::bytea" : "v.vectordata";
}

// Every vector row with its text's head, in key order.
std::string LoadSQL(const TSearchIndex& index) {
    return "select v.seq, v.ID, v.texttype, " + VectorOf(index) + ", t.ID is not null, " +
           HeadOf(index) + ", " + TermsOf(index) +
           " from vectors v left join textdata t on t.ID = v.ID and t.texttype = v.texttype" +
           TermsJoin(index) + " order by v.seq";
}

// In one snapshot: the last change number, how many changes came after $1, and, when they are
// no more than $2, the rows of the entries they changed (an entry without rows once, with
// NULLs), new keys last, with whether the entry may have been on the server before. Columns:
// last, count, ID, seq, texttype, vectordata, has text, head, known before.
std::string ChangesSQL(const TSearchIndex& index) {
    return "with m as (select (select coalesce(max(seq), 0) from changelog) as last, "
           "(select count(*) from changelog where seq > $1::bigint) as n), "
           "c as (select ID, bool_or(op <> 'S') as known from changelog where seq > $1::bigint "
           "and (select n from m) <= $2::bigint group by ID) "
           "select m.last, m.n, c.ID, v.seq, v.texttype, " +
           VectorOf(index) + ", t.ID is not null, " + HeadOf(index) + ", c.known, " +
           TermsOf(index) +
           " from m left join c on true left join vectors v on v.ID = c.ID "
           "left join textdata t on t.ID = v.ID and t.texttype = v.texttype" +
           TermsJoin(index) + " order by v.seq nulls first";
}

// The stored text with its NULs left out, as the file stores it.
std::string Stored(std::string_view text) {
    return kb::WithoutNuls(text);
}


TEntryTexts TextsOf(std::string_view problem, std::string_view solution) {
    TEntryTexts texts;
    texts.problem = problem;
    texts.solution = solution;
    return texts;
}

// Replaces the terms rows of entry ID by those of its texts as this write stores them (none for a
// delete); every write of an entry calls it inside its transaction.
void WriteBestTerms(TPgConnection& c, std::string_view ID, const TEntryTexts* stored) {
    if (!stored) {
        c.Query("delete from bestterms where ID = $1::varchar", {TPgParam::Text(ID)});
        return;
    }
    TTextTerms terms;
    CountTextTerms(ReadWords, Utf8FromStored(stored->problem), true, terms);
    const std::string problem = EncodeTextTerms(terms);
    CountTextTerms(ReadWords, Utf8FromStored(stored->solution), false, terms);
    const std::string solution = EncodeTextTerms(terms);
    const std::string problemBytes = std::to_string(stored->problem.size());
    const std::string solutionBytes = std::to_string(stored->solution.size());
    c.Query(
        "with d as (delete from bestterms where ID = $1::varchar) insert into bestterms "
        "select v.seq, v.ID, v.texttype, case when v.texttype = 'P' then $2::bigint else "
        "$4::bigint end, case when v.texttype = 'P' then $3::bytea else $5::bytea end "
        "from vectors v where v.ID = $1::varchar and v.texttype in ('P', 'S') "
        "on conflict (seq) do update set bytes = excluded.bytes, terms = excluded.terms",
        {TPgParam::Text(ID), TPgParam::Text(problemBytes), TPgParam::Bytes(problem),
         TPgParam::Text(solutionBytes), TPgParam::Bytes(solution)});
}

void Rollback(TPgConnection& c) {
    try {
        c.Exec("ROLLBACK");
    } catch (const std::exception&) {
        // The connection is gone, and with it the transaction.
    }
}

}  // namespace

struct TPgStore::TChanges {
    TPgResult rows;
    int64_t last = 0;
    int64_t count = 0;
};

TPgStore::TPgStore(std::string conninfo)
    : fconninfo(std::move(conninfo)), flocation(WithoutPasswords(fconninfo)) {
    SetWriterName(LoginName());
}

TPgStore::~TPgStore() {
    fstopping = true;
    fwaker.Wake();
    if (flistener.joinable()) flistener.join();
}

// --- Connections -------------------------------------------------------------------------------

void TPgStore::RaiseUnreachable(const EPgException& cause) {
    throw Exception(std::string(kServerUnreachable) + ": " +
                    WithoutPasswords(cause.what(), fconninfo));
}

TPgConnection* TPgStore::ConnectionAtHand(bool askListener) {
    std::lock_guard<std::mutex> lock(fspareMutex);
    // A spare is made after the listener reconnected (the store's connection most likely broke
    // with the listener's), or because the store asked for one.
    if (fspare) fconn = std::move(fspare);
    if (fconn && !fconn->Ok()) fconn.reset();
    if (!fconn && askListener && !fwantSpare) {
        fwantSpare = true;
        fwaker.Wake();
    }
    return fconn.get();
}

void TPgStore::Prepare(TPgConnection& c) {
    // A program that stops inside a write (frozen, or cut off without the server noticing) loses
    // its session after this, and the lock with it, so that it cannot hold every other program's
    // writes up. And no statement waits for ever on a table another program keeps locked.
    c.Exec("SET idle_in_transaction_session_timeout = " + std::to_string(fidleLimit.count()) +
           "; SET statement_timeout = " + std::to_string(fstatementLimit.count()));
}

void TPgStore::RaiseIfTimedOut(const EPgException& cause, std::string_view outcome) const {
    if (cause.State() != kStatementTimedOut) return;
    const auto seconds = (fstatementLimit.count() + 999) / 1000;
    throw Exception(
        "The office server did not answer within " +
        (seconds == 1 ? std::string("a second") : std::to_string(seconds) + " seconds") + "; " +
        std::string(outcome));
}

TPgConnection& TPgStore::Connection() {
    if (TPgConnection* c = ConnectionAtHand(false)) return *c;
    if (fdown) {
        fwaker.Wake();  // try again now; this call does not wait for it
        std::string why;
        {
            std::lock_guard<std::mutex> lock(fspareMutex);
            why = flastFailure;
        }
        throw Exception(std::string(kServerUnreachable) + ": " + why);
    }
    try {
        std::unique_ptr<TPgConnection> made = TPgConnection::Connect(fconninfo, kConnectTimeout);
        Prepare(*made);
        fconn = std::move(made);
    } catch (const EPgException& e) {
        RaiseUnreachable(e);
    }
    return *fconn;
}

template <typename TRead>
auto TPgStore::Read(TRead&& read) -> decltype(read(std::declval<TPgConnection&>())) {
    for (int attempt = 0;; ++attempt) {
        TPgConnection& c = Connection();
        try {
            return read(c);
        } catch (const EPgException& e) {
            RaiseIfTimedOut(e, "please try again");
            if (!e.ConnectionLost()) throw;
            fconn.reset();
            if (attempt > 0) RaiseUnreachable(e);
        }
    }
}

// --- Opening -----------------------------------------------------------------------------------

void TPgStore::Open() {
    if (fopen) return;
    // A connection string libpq cannot read is no server out of reach: its reason, at once.
    try {
        ParseConninfo(fconninfo);
    } catch (const EPgException& e) {
        throw Exception("The office server's connection string cannot be read: " +
                        WithoutPasswords(e.what(), fconninfo));
    }
    StartListener();
    Read([this](TPgConnection& c) {
        CreateSchema(c);
        return 0;
    });
    fopen = true;
}

void TPgStore::CreateSchema(TPgConnection& c) {
    const TPgResult present = c.Query(
        "select to_regclass('textdata') is not null and to_regclass('vectors') is not null and "
        "to_regclass('settings') is not null and to_regclass('changelog') is not null and "
        "to_regclass('bestterms') is not null and "
        "exists (select 1 from pg_attribute where attrelid = to_regclass('changelog') and "
        "attname = 'op') and to_regclass('history') is not null");
    if (present.Bool(0, 0)) return;
    c.Exec("BEGIN");
    try {
        c.Exec("select pg_advisory_xact_lock(hashtext('pelloquin schema'))");
        for (std::string_view statement : kSchema)
            c.Exec(statement);
        c.Exec("COMMIT");
    } catch (const std::exception&) {
        Rollback(c);
        throw;
    }
}

namespace {

// Where a result holds a stored text: its key, ID, text type and vector, then whether it has a
// head, then the head.
struct TTextColumns {
    int key, ID, texttype, vector, terms;
};

// The text of row r, its views into rows.
TStoredText TextAt(const TPgResult& rows, int r, const TTextColumns& at) {
    TStoredText t;
    t.key = rows.Int64(r, at.key);
    t.ID = rows.Bytes(r, at.ID);
    t.texttype = rows.Bytes(r, at.texttype);
    t.vector = rows.Bytes(r, at.vector);
    if (rows.Bool(r, at.vector + 1)) t.head = rows.Bytes(r, at.vector + 2);
    if (!rows.IsNull(r, at.terms)) t.terms = rows.Bytes(r, at.terms);
    return t;
}

int32_t StoredFontSize() {
    const std::optional<std::string> setting = ReadUserSetting(kTextSizeSetting);
    if (!setting) return kDefaultFontSize;
    std::string text = *setting;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty()) return kDefaultFontSize;
    // A "0" in front, as the file's setting is read: a sign makes it no number.
    return TryStrToInt("0" + text).value_or(kDefaultFontSize);
}

}  // namespace

int32_t TPgStore::ReadFontSize() {
    std::lock_guard<std::mutex> lock(fsizeMutex);
    return StoredFontSize();
}

void TPgStore::WriteFontSize(int32_t size) {
    std::lock_guard<std::mutex> lock(fsizeMutex);
    // Unchanged, nothing is written: the opening writes the size back, and a settings folder
    // that cannot be written must not keep the entries from opening.
    if (StoredFontSize() == size) return;
    WriteUserSetting(kTextSizeSetting, std::to_string(size) + "\n");
}

// --- Loading and syncing -----------------------------------------------------------------------

void TPgStore::LoadAll(TSearchIndex& index) {
    if (!fopen) throw Exception("The knowledge base is not open");
    index.CollectReadTerms(true);
    Read([&](TPgConnection& c) {
        LoadWith(c, index);
        return 0;
    });
    KeepBestTerms(index);
}

void TPgStore::GiveTextReader(TSearchIndex& index) {
    index.SetTextReader([this](std::span<const std::string_view> IDs,
                               const TStoredTextVisit& each) {
        std::string array = "{";
        for (size_t i = 0; i < IDs.size(); ++i) {
            array += i ? ",\"" : "\"";
            for (const char ch : IDs[i]) {
                if (ch == '"' || ch == '\\') array += '\\';
                array += ch;
            }
            array += '"';
        }
        array += '}';
        Read([&](TPgConnection& c) {
            const TPgResult rows = c.Query(
                "select ID, texttype, description from textdata where ID = any($1::varchar[])",
                {TPgParam::Text(array)});
            for (int r = 0; r < rows.Rows(); ++r)
                each(rows.Bytes(r, 0), rows.Bytes(r, 1), rows.Bytes(r, 2));
            return 0;
        });
    });
}

void TPgStore::KeepBestTerms(TSearchIndex& index) {
    index.Settle();
    index.CollectReadTerms(false);
    const std::vector<TReadTerms> terms = index.TakeReadTerms();
    if (terms.empty()) return;
    // Only rows of vector rows still there: an edit meanwhile leaves none of its old ones.
    try {
        Read([&](TPgConnection& c) {
            c.Exec("BEGIN");
            try {
                c.Exec(
                    "create temp table pelloquin_terms (seq bigint, ID varchar(40), texttype "
                    "varchar(1), bytes bigint, terms bytea) on commit drop");
                c.StartCopy("copy pelloquin_terms from stdin");
                std::string data;
                for (const TReadTerms& t : terms) {
                    data += std::to_string(t.key) + '\t';
                    AppendCopyText(data, t.ID);
                    data += '\t';
                    AppendCopyText(data, t.texttype);
                    data += '\t' + std::to_string(t.bytes) + '\t';
                    AppendCopyBytes(data, t.terms);
                    data += '\n';
                    if (data.size() > (1 << 20)) {
                        c.PutCopyData(data);
                        data.clear();
                    }
                }
                c.PutCopyData(data);
                c.EndCopy();
                c.Exec(
                    "delete from bestterms b where not exists (select 1 from vectors v where "
                    "v.seq = b.seq)");
                c.Exec(
                    "insert into bestterms select * from pelloquin_terms where seq in (select "
                    "seq from vectors) on conflict (seq) do update set ID = excluded.ID, "
                    "texttype = excluded.texttype, bytes = excluded.bytes, terms = excluded.terms");
                c.Exec("COMMIT");
            } catch (const std::exception&) {
                Rollback(c);
                throw;
            }
            return 0;
        });
    } catch (const std::exception&) {
        // The server is busy or gone: the next load writes them.
    }
}

void TPgStore::LoadWith(TPgConnection& c, TSearchIndex& index) {
    fapplied = -1;
    freload = true;
    index.Clear();
    if (index.WholeTexts()) GiveTextReader(index);
    // One snapshot for the last change number and the rows, read through a cursor so that no
    // more than a batch is held at a time.
    c.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    try {
        const int64_t last = c.Query("select coalesce(max(seq), 0) from changelog").Int64(0, 0);
        c.Exec("DECLARE pelloquin_load NO SCROLL CURSOR FOR " + LoadSQL(index));
        const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM pelloquin_load";
        // The next batch is asked for before this one goes into the index, so that the server
        // reads it meanwhile.
        c.Send(fetch);
        std::vector<TStoredText> texts;
        for (;;) {
            const TPgResult rows = c.Receive();
            if (rows.Rows() == 0) break;
            c.Send(fetch);
            texts.clear();
            for (int r = 0; r < rows.Rows(); ++r) {
                texts.push_back(TextAt(rows, r, {.key = 0, .ID = 1, .texttype = 2, .vector = 3, .terms = 6}));
            }
            index.Add(texts);
        }
        c.Exec("COMMIT");
        fapplied = last;
        freload = false;
    } catch (const std::exception&) {
        c.Discard();  // a batch asked for
        Rollback(c);
        throw;
    }
}

TPgStore::TChanges TPgStore::ReadChanges(TPgConnection& c, int64_t after,
                                          const TSearchIndex& index) {
    const std::string from = std::to_string(after), most = std::to_string(kMostChanges);
    TChanges changes;
    changes.rows = c.Query(ChangesSQL(index), {TPgParam::Text(from), TPgParam::Text(most)});
    changes.last = changes.rows.Int64(0, 0);
    changes.count = changes.rows.Int64(0, 1);
    return changes;
}

bool TPgStore::Apply(TSearchIndex& index, const TChanges& changes, TPgConnection& c) {
    const int64_t applied = fapplied;
    if (changes.last == applied) return false;  // what was heard is in the index already
    const TPgResult& rows = changes.rows;
    // A log that went back (the tables made anew), too many changes to replace one by one, or
    // rows that would not come last (written by something that bypassed the lock): load whole.
    bool whole = changes.last < applied || changes.count > kMostChanges;
    for (int r = 0; r < rows.Rows() && !whole; ++r)
        whole = !rows.IsNull(r, 3) && rows.Int64(r, 3) <= index.LastKey();
    if (whole) {
        LoadWith(c, index);
        return true;
    }

    // Entries new to the server cannot be in the index: only the others are looked for, each a
    // walk over the texts.
    std::unordered_set<std::string_view> changed;
    for (int r = 0; r < rows.Rows(); ++r)
        if (!rows.IsNull(r, 2) && rows.Bool(r, 8)) changed.insert(rows.Bytes(r, 2));
    if (changed.size() <= kFewEntries) {
        for (std::string_view ID : changed)
            index.RemoveEntry(ID);
    } else {
        index.RemoveTextsWhere(
            [&](std::string_view ID, std::string_view) { return changed.contains(ID); });
    }

    std::vector<TStoredText> texts;
    for (int r = 0; r < rows.Rows(); ++r) {
        if (rows.IsNull(r, 3)) continue;  // an entry deleted, or a row of no entry
        texts.push_back(TextAt(rows, r, {.key = 3, .ID = 2, .texttype = 4, .vector = 5, .terms = 9}));
    }
    index.Add(texts);
    fapplied = changes.last;
    return true;
}

bool TPgStore::Sync(TSearchIndex& index) {
    if (!fopen) return false;
    const bool inStep = fapplied >= 0 && !freload;
    // The typing path: without news from the listener, no round trip.
    if (inStep && !fstale && fheard <= fapplied) return false;
    TPgConnection* c = ConnectionAtHand(true);
    if (!c) return false;  // the listener is fetching one; the news waits for it
    const bool stale = fstale.exchange(false);
    int64_t heard = fheard;
    try {
        bool changed = true;
        if (inStep) {
            changed = Apply(index, ReadChanges(*c, fapplied, index), *c);
        } else {
            LoadWith(*c, index);
        }
        // Numbers heard from a change log that has since been made anew are forgotten, unless
        // the listener heard more meanwhile, so that they do not cost a query at every pass.
        if (heard > fapplied) fheard.compare_exchange_strong(heard, fapplied);
        return changed;
    } catch (const EPgException& e) {
        if (stale) fstale = true;
        if (!e.ConnectionLost()) throw;
        fconn.reset();
        fstale = true;
        return false;
    }
}

// --- Writing -----------------------------------------------------------------------------------

TPgConnection& TPgStore::Begin(const std::string& begin) {
    for (int attempt = 0;; ++attempt) {
        TPgConnection& c = Connection();
        try {
            c.Exec(begin);
            return c;
        } catch (const EPgException& e) {
            if (!e.ConnectionLost()) {
                Rollback(c);
                RaiseIfTimedOut(e, "nothing was written");
                if (e.State() == kLockNotGranted) {
                    throw Exception("The office server stayed busy with another program's writes");
                }
                throw;
            }
            // Nothing reached the server: once more, on a new connection.
            fconn.reset();
            if (attempt > 0) RaiseUnreachable(e);
        }
    }
}

void TPgStore::Write(const std::function<void(TPgConnection&)>& body, TSearchIndex* index) {
    Open();  // a first opening that could not reach the server is finished by the next write
    // A writer waits for the lock a while (another program's copy of a whole file holds it for
    // seconds), not for ever.
    TPgConnection* c =
        &Begin("BEGIN; SET LOCAL lock_timeout = " + std::to_string(flockWait.count()) + "; " +
               std::string(kLockChangeLog));

    const bool follow = index && fapplied >= 0 && !freload;
    TChanges changes;
    try {
        body(*c);
        // Under the lock: every change up to this write, for the index once it has committed.
        if (follow) changes = ReadChanges(*c, fapplied, *index);
        if (TEST_beforeCommitHook) TEST_beforeCommitHook();
        c->Exec("COMMIT");
    } catch (const EPgException& e) {
        if (!e.ConnectionLost()) {
            Rollback(*c);
            RaiseIfTimedOut(e, "nothing was written");
            throw;
        }
        // Whether a lost COMMIT went through is unknown: the next sync reads the log.
        fconn.reset();
        fstale = true;
        RaiseUnreachable(e);
    } catch (...) {
        Rollback(*c);
        throw;
    }

    if (!index) return;
    // The write is stored whatever happens now; an index that cannot follow is caught up later.
    try {
        if (follow) {
            Apply(*index, changes, *c);
        } else {
            LoadWith(*c, *index);
        }
    } catch (const std::exception&) {
        fstale = true;
    }
}

std::string TPgStore::SaveEntry(std::string_view problem, std::string_view solution,
                                TSearchIndex* index) {
    const std::string ID = kb::GuidToID(NewGuid());
    const std::string storedProblem = Stored(problem), storedSolution = Stored(solution);
    const std::string problemVector = EncodeCV(storedProblem)->Text();
    const std::string solutionVector = EncodeCV(storedSolution)->Text();
    Write(
        [&](TPgConnection& c) {
            const std::string createdProblem = LabelUtf8(NowAsText());
            const std::string createdSolution = LabelUtf8(NowAsText());
            c.Query(kSaveSQL, {TPgParam::Text(ID), TPgParam::Text(createdProblem),
                               TPgParam::Text(createdSolution), TPgParam::Bytes(storedProblem),
                               TPgParam::Bytes(storedSolution), TPgParam::Bytes(problemVector),
                               TPgParam::Bytes(solutionVector)});
            c.Query(kRecordSaveSQL, {TPgParam::Text(ID), TPgParam::Text(fwriter)});
            const TEntryTexts stored = TextsOf(storedProblem, storedSolution);
            WriteBestTerms(c, ID, &stored);
        },
        index);
    return ID;
}

namespace {

// The entry as stored now, read on c (inside a write or not). Texts are cut at a NUL, as a text
// column of the file reads back.
TEntryTexts ReadEntryWith(TPgConnection& c, std::string_view ID) {
    const TPgResult rows = c.Query(
        "select texttype, description, coalesce(created, '') from textdata where ID = "
        "$1::varchar and texttype in ('P', 'S') order by texttype",
        {TPgParam::Text(ID)});
    TEntryTexts texts;
    bool problem = false, solution = false;
    for (int r = 0; r < rows.Rows(); ++r) {
        std::string_view text = rows.Bytes(r, 1);
        text = text.substr(0, text.find('\0'));
        if (rows.Bytes(r, 0) == kb::kProblem) {
            texts.problem = text;
            problem = true;
        } else {
            texts.solution = text;
            solution = true;
        }
        if (r == 0) texts.created = rows.Bytes(r, 2);
    }
    if (!problem || !solution) throw EEntryDeleted();
    texts.version = EntryVersion(texts.problem, texts.solution);
    const TPgResult saved = c.Query(
        "select coalesce(who, '') from history where ID = $1::varchar and event = 'S' order by "
        "seq limit 1",
        {TPgParam::Text(ID)});
    if (saved.Rows() > 0) texts.savedBy = saved.Bytes(0, 0);
    const TPgResult changed = c.Query(
        "select at, coalesce(who, '') from history where ID = $1::varchar and event in "
        "('E', 'R') order by seq desc limit 1",
        {TPgParam::Text(ID)});
    if (changed.Rows() > 0) {
        texts.changedAt = changed.Int64(0, 0);
        texts.changedBy = changed.Bytes(0, 1);
    }
    return texts;
}

std::vector<TEntryVersion> VersionsFrom(const TPgResult& rows) {
    std::vector<TEntryVersion> versions;
    for (int r = 0; r < rows.Rows(); ++r) {
        TEntryVersion v;
        v.seq = rows.Int64(r, 0);
        const std::string_view event = rows.Bytes(r, 1);
        v.event = event.empty() ? 'E' : event[0];
        v.at = rows.Int64(r, 2);
        v.who = rows.Bytes(r, 3);
        v.writtenAt = rows.Int64(r, 4);
        v.writtenBy = rows.Bytes(r, 5);
        v.entry.ID = rows.Bytes(r, 6);
        v.entry.created = rows.Bytes(r, 7);
        v.entry.solutionCreated = rows.Bytes(r, 8);
        v.entry.problem = rows.Bytes(r, 9);
        v.entry.solution = rows.Bytes(r, 10);
        versions.push_back(std::move(v));
    }
    return versions;
}

}  // namespace

void TPgStore::SetWriterName(std::string name) {
    std::string utf8 = IsValidUtf8(name) ? std::move(name) : LabelUtf8(name);
    // At most 255 characters, cut between two.
    size_t characters = 0, at = 0;
    for (; at < utf8.size(); ++at) {
        if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80 && characters++ == 255) break;
    }
    utf8.resize(at);
    fwriter = std::move(utf8);
}

void TPgStore::ReplaceEntry(std::string_view ID, std::string_view problem,
                            std::string_view solution, std::string_view seenVersion,
                            TSearchIndex* index) {
    const std::string storedProblem = Stored(problem), storedSolution = Stored(solution);
    const std::string problemVector = EncodeCV(storedProblem)->Text();
    const std::string solutionVector = EncodeCV(storedSolution)->Text();
    Write(
        [&](TPgConnection& c) {
            // The rows locked until commit: the version checked is the one replaced.
            const TPgResult texts = c.Query(
                "select texttype from textdata where ID = $1::varchar for update",
                {TPgParam::Text(ID)});
            if (texts.Rows() == 0) throw EEntryDeleted();
            if (!seenVersion.empty()) {
                TEntryTexts theirs = ReadEntryWith(c, ID);
                if (theirs.version != seenVersion) throw EEditConflict(std::move(theirs));
            }
            c.Query(kKeepVersionSQL,
                    {TPgParam::Text(ID), TPgParam::Text("E"), TPgParam::Text(fwriter)});
            c.Query(kReplaceTextsSQL, {TPgParam::Text(ID), TPgParam::Bytes(storedProblem),
                                       TPgParam::Bytes(storedSolution)});
            c.Query(kReplaceVectorsSQL, {TPgParam::Text(ID), TPgParam::Bytes(problemVector),
                                         TPgParam::Bytes(solutionVector)});
            const TEntryTexts stored = TextsOf(storedProblem, storedSolution);
            WriteBestTerms(c, ID, &stored);
        },
        index);
}

void TPgStore::DeleteEntry(std::string_view ID, TSearchIndex* index) {
    Write(
        [&](TPgConnection& c) {
            c.Query(kKeepVersionSQL,
                    {TPgParam::Text(ID), TPgParam::Text("D"), TPgParam::Text(fwriter)});
            c.Query(kDeleteSQL, {TPgParam::Text(ID)});
            WriteBestTerms(c, ID, nullptr);
        },
        index);
}

std::vector<TEntryVersion> TPgStore::History(std::string_view ID) {
    Open();
    return Read([&](TPgConnection& c) {
        return VersionsFrom(c.Query("select " + std::string(kVersionColumns) +
                                        " from history h where h.ID = $1::varchar and " +
                                        std::string(kHasTexts) + " order by h.seq desc",
                                    {TPgParam::Text(ID)}));
    });
}

std::vector<TEntryVersion> TPgStore::Deleted() {
    Open();
    return Read([&](TPgConnection& c) {
        return VersionsFrom(c.Query("select " + std::string(kVersionColumns) +
                                    " from history h where " + std::string(kDeletedRows) +
                                    " order by h.seq desc"));
    });
}

void TPgStore::Restore(std::string_view ID, int64_t seq, TSearchIndex* index) {
    Write(
        [&](TPgConnection& c) {
            const bool live =
                c.Query("select 1 from textdata where ID = $1::varchar for update",
                        {TPgParam::Text(ID)})
                    .Rows() > 0;
            const std::string seqText = std::to_string(seq);
            const std::vector<TEntryVersion> found = VersionsFrom(
                c.Query("select " + std::string(kVersionColumns) +
                            " from history h where h.ID = $1::varchar and " +
                            std::string(kHasTexts) +
                            " and ($2::bigint = 0 or h.seq = $2::bigint) order by h.seq desc "
                            "limit 1",
                        {TPgParam::Text(ID), TPgParam::Text(seqText)}));
            if (found.empty()) {
                throw Exception(seq > 0 ? "Entry " + std::string(ID) + " has no version " +
                                              seqText + " in its history"
                                        : "No earlier version of entry " + std::string(ID) +
                                              " is kept");
            }
            const TStoredEntry& version = found.front().entry;
            const std::string problemVector = EncodeCV(version.problem)->Text();
            const std::string solutionVector = EncodeCV(version.solution)->Text();
            if (live) {
                // An edit back to that version, which keeps the current texts in turn.
                c.Query(kKeepVersionSQL,
                        {TPgParam::Text(ID), TPgParam::Text("E"), TPgParam::Text(fwriter)});
                c.Query(kReplaceTextsSQL, {TPgParam::Text(ID), TPgParam::Bytes(version.problem),
                                           TPgParam::Bytes(version.solution)});
            } else {
                c.Query("insert into textdata values ($1::varchar, $2::text, null, 'P', "
                        "$4::bytea), ($1::varchar, $3::text, null, 'S', $5::bytea)",
                        {TPgParam::Text(ID), TPgParam::Text(version.created),
                         TPgParam::Text(version.solutionCreated),
                         TPgParam::Bytes(version.problem), TPgParam::Bytes(version.solution)});
                c.Query("insert into history (ID, event, at, who) values ($1::varchar, 'R', "
                        "extract(epoch from statement_timestamp())::bigint, nullif($2::varchar, "
                        "''))",
                        {TPgParam::Text(ID), TPgParam::Text(fwriter)});
            }
            // New vector rows, above every key, and the change recorded and announced.
            c.Query(kReplaceVectorsSQL, {TPgParam::Text(ID), TPgParam::Bytes(problemVector),
                                         TPgParam::Bytes(solutionVector)});
            const TEntryTexts stored = TextsOf(version.problem, version.solution);
            WriteBestTerms(c, ID, &stored);
        },
        index);
}

THistorySize TPgStore::HistorySize() {
    Open();
    return Read([&](TPgConnection& c) {
        const TPgResult kept = c.Query(
            "select count(*)::bigint, coalesce(sum(length(problem) + length(solution)), 0)::bigint, "
            "(select count(*) from history h where " +
            std::string(kDeletedRows) + ")::bigint from history h where " +
            std::string(kHasTexts));
        THistorySize size;
        size.versions = static_cast<uint64_t>(kept.Int64(0, 0));
        size.bytes = static_cast<uint64_t>(kept.Int64(0, 1));
        size.deleted = static_cast<uint64_t>(kept.Int64(0, 2));
        return size;
    });
}

uint64_t TPgStore::PruneHistory(int64_t cutoff) {
    uint64_t versions = 0;
    const std::string cutoffText = std::to_string(cutoff);
    Write(
        [&](TPgConnection& c) {
            // The newest edit or restore of a live entry says when it last changed: its texts
            // go, the row stays; so does the row of its save, which says who saved it.
            const std::string lastWrite =
                "exists (select 1 from textdata where ID = h.ID) and (h.event = 'S' or (h.event "
                "in ('E', 'R') and h.seq = (select max(seq) from history where ID = h.ID and "
                "event in ('E', 'R'))))";
            versions = static_cast<uint64_t>(
                c.Query("select count(*)::bigint from history h where h.at < $1::bigint and " +
                            std::string(kHasTexts),
                        {TPgParam::Text(cutoffText)})
                    .Int64(0, 0));
            c.Query("update history set created = null, problem = null, solcreated = null, "
                    "solution = null where seq in (select h.seq from history h where h.at < "
                    "$1::bigint and " +
                        lastWrite + ")",
                    {TPgParam::Text(cutoffText)});
            c.Query("delete from history where seq in (select h.seq from history h where h.at < "
                    "$1::bigint and not (" +
                        lastWrite + "))",
                    {TPgParam::Text(cutoffText)});
        },
        nullptr);
    return versions;
}

void TPgStore::RecordChanges(TPgConnection& c, const std::vector<std::string>& IDs) {
    if (IDs.empty()) return;
    c.StartCopy("copy changelog (ID, op) from stdin");
    std::string data;
    for (const std::string& ID : IDs) {
        AppendCopyText(data, ID);
        data += "\tS\n";  // new to the server
        if (data.size() > (1 << 20)) {
            c.PutCopyData(data);
            data.clear();
        }
    }
    c.PutCopyData(data);
    c.EndCopy();
    c.Query("select pg_notify('" + std::string(kChannel) + "', max(seq)::text) from changelog");
}

void TPgStore::WriteEntries(const std::function<std::vector<std::string>(TPgConnection&)>& body) {
    Write([&](TPgConnection& c) { RecordChanges(c, body(c)); }, nullptr);
}

bool TPgStore::ForEachEntry(const std::function<void(const TStoredEntry&)>& each,
                            const TProgress& progress) {
    Open();
    // One snapshot, read through a cursor; the entries in the order of their first save. Not
    // tried again on a new connection once entries have been handed out.
    TPgConnection& c = Begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    try {
        constexpr uint64_t kProgressEntries = 256;
        try {
            const uint64_t total = static_cast<uint64_t>(
                c.Query("select count(distinct ID) from textdata where texttype in ('P', 'S')")
                    .Int64(0, 0));
            c.Exec(
                "DECLARE pelloquin_entries NO SCROLL CURSOR FOR "
                "with e as (select distinct ID from textdata where texttype in ('P', 'S')) "
                "select e.ID, p.created, p.description, s.created, s.description, "
                "s.ID is not null from e "
                "left join textdata p on p.ID = e.ID and p.texttype = 'P' "
                "left join textdata s on s.ID = e.ID and s.texttype = 'S' "
                "left join (select ID, min(seq) as first from changelog group by ID) f "
                "on f.ID = e.ID order by f.first nulls last, e.ID");
            TStoredEntry entry;
            uint64_t done = 0;
            for (;;) {
                const TPgResult rows = c.Query("FETCH 1000 FROM pelloquin_entries");
                if (rows.Rows() == 0) break;
                for (int r = 0; r < rows.Rows(); ++r) {
                    entry.ID.assign(rows.Bytes(r, 0));
                    const bool hasSolution = rows.Bool(r, 5);
                    // An entry without a problem text takes its date from the solution.
                    entry.created.assign(rows.Bytes(r, rows.IsNull(r, 2) && hasSolution ? 3 : 1));
                    entry.problem = kb::WithoutNuls(rows.Bytes(r, 2));
                    entry.solutionCreated.assign(rows.Bytes(r, hasSolution ? 3 : 1));
                    entry.solution = kb::WithoutNuls(rows.Bytes(r, 4));
                    each(entry);
                    if (progress && ++done % kProgressEntries == 0 && !progress(done, total)) {
                        Rollback(c);
                        return false;
                    }
                }
            }
            c.Exec("COMMIT");
            return !progress || progress(done, total);
        } catch (const std::exception&) {
            Rollback(c);
            throw;
        }
    } catch (const EPgException& e) {
        RaiseIfTimedOut(e, "please try again");
        if (!e.ConnectionLost()) throw;
        fconn.reset();
        RaiseUnreachable(e);
    }
}

namespace {

// Thrown through a write to roll it back when the user cancels.
struct TCancelled {};

constexpr std::string_view kImportSQL =
    "with t as (insert into textdata values ($1::varchar, $2::text, null, 'P', $4::bytea), "
    "($1::varchar, $3::text, null, 'S', $5::bytea)) "
    "insert into vectors (ID, texttype, vectordata) values ($1::varchar, 'P', $6::bytea), "
    "($1::varchar, 'S', $7::bytea)";


}  // namespace

TImportSummary TPgStore::ImportEntries(TEntrySource& source, const TProgress& progress,
                                       TSearchIndex* index) {
    // Asked this often, the user's Cancel is heard within a fraction of a second.
    constexpr uint64_t kProgressRows = 256;
    TImportSummary summary;
    try {
        Write(
            [&](TPgConnection& c) {
                summary = {};
                std::unordered_set<std::string> known;
                {
                    const TPgResult IDs =
                        c.Query("select ID from textdata union select ID from vectors");
                    for (int r = 0; r < IDs.Rows(); ++r)
                        known.emplace(IDs.Bytes(r, 0));
                }
                std::vector<std::string> imported;
                TStoredEntry entry;
                std::string failure;
                bool goOn = true;
                for (uint64_t rows = 1; goOn && source.Next(entry, failure); ++rows) {
                    const long length = Utf8Characters(entry.ID);
                    if (!failure.empty()) {
                        summary.Fail(source.Where() + ": " + failure);
                        failure.clear();
                    } else if (entry.ID.empty()) {
                        summary.Fail(source.Where() + ": the entry has no ID");
                    } else if (length < 0 || length > 40) {
                        summary.Fail(source.Where() +
                                     ": the entry's ID is not one the server can hold");
                    } else if (!known.insert(entry.ID).second) {
                        ++summary.skipped;
                    } else {
                        const std::string problem = Stored(entry.problem);
                        const std::string solution = Stored(entry.solution);
                        const std::string problemVector = EncodeCV(problem)->Text();
                        const std::string solutionVector = EncodeCV(solution)->Text();
                        const std::string created = LabelUtf8(entry.created);
                        const std::string solutionCreated = LabelUtf8(entry.solutionCreated);
                        c.Query(kImportSQL,
                                {TPgParam::Text(entry.ID), TPgParam::Text(created),
                                 TPgParam::Text(solutionCreated), TPgParam::Bytes(problem),
                                 TPgParam::Bytes(solution), TPgParam::Bytes(problemVector),
                                 TPgParam::Bytes(solutionVector)});
                        const TEntryTexts stored = TextsOf(problem, solution);
                        WriteBestTerms(c, entry.ID, &stored);
                        imported.push_back(entry.ID);
                    }
                    if (progress && rows % kProgressRows == 0)
                        goOn = progress(source.Done(), source.Total());
                }
                if (goOn && progress) goOn = progress(source.Done(), source.Total());
                if (!goOn) throw TCancelled();
                RecordChanges(c, imported);
                summary.imported = imported.size();
            },
            index);
    } catch (const TCancelled&) {
        summary.cancelled = true;
        summary.imported = 0;
    }
    return summary;
}

TEntryTexts TPgStore::ReadEntry(std::string_view ID) {
    return Read([&](TPgConnection& c) { return ReadEntryWith(c, ID); });
}

// --- The listener ------------------------------------------------------------------------------

void TPgStore::StartListener() {
    if (!flistener.joinable()) flistener = std::thread([this] { Listen(); });
}

void TPgStore::OfferSpare() {
    std::unique_ptr<TPgConnection> spare;
    try {
        spare = TPgConnection::Connect(fconninfo, kConnectTimeout, &fwaker);
        if (spare) Prepare(*spare);
    } catch (const EPgException&) {
        return;  // the listener's own connection will tell whether the server is gone
    }
    if (!spare) return;  // woken: asked to stop, or for something else first
    std::lock_guard<std::mutex> lock(fspareMutex);
    fspare = std::move(spare);
    fwantSpare = false;
}

void TPgStore::Listen() {
    std::unique_ptr<TPgConnection> listen;
    auto pause = std::chrono::milliseconds(kFirstPause);
    while (!fstopping) {
        fwaker.Drain();
        if (!listen) {
            try {
                listen = TPgConnection::Connect(fconninfo, kConnectTimeout, &fwaker);
                if (listen) listen->Exec("LISTEN " + std::string(kChannel));
            } catch (const EPgException& e) {
                listen.reset();
                {
                    std::lock_guard<std::mutex> lock(fspareMutex);
                    flastFailure = WithoutPasswords(e.what(), fconninfo);
                }
                fdown = true;
                fwaker.Sleep(pause);
                pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
                continue;
            }
            if (!listen) continue;
            pause = kFirstPause;
            // Back after a break: the store's connection went with the listener's, and what was
            // written meanwhile was announced to nobody; the store reads it from the log.
            OfferSpare();
            fdown = false;
            fstale = true;
            Changed();
        }
        bool wanted = false;
        {
            std::lock_guard<std::mutex> lock(fspareMutex);
            wanted = fwantSpare && !fspare;
        }
        if (wanted) OfferSpare();
        if (WaitForSocket(listen->Socket(), false, &fwaker, kListenWait) != TSocketReady::Ready)
            continue;
        if (!listen->ConsumeInput()) {
            listen.reset();
            {
                std::lock_guard<std::mutex> lock(fspareMutex);
                flastFailure = "the connection to the server was lost";
            }
            fdown = true;
            continue;
        }
        int64_t top = 0;
        for (const TPgNotification& note : listen->TakeNotifications()) {
            int64_t seq = 0;
            const char* end = note.payload.data() + note.payload.size();
            if (std::from_chars(note.payload.data(), end, seq).ptr == end) top = std::max(top, seq);
        }
        if (top > fapplied) {
            int64_t heard = fheard;
            while (heard < top && !fheard.compare_exchange_weak(heard, top)) {
            }
            Changed();
        }
    }
}
