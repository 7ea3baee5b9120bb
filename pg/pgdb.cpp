#include "pg/pgdb.h"

#include <cstring>
#include <utility>

#include <libpq-fe.h>

#include "port/socketwait.h"

namespace {

// libpq's message without its trailing line break; only the first line of a multi-line one,
// which is the part a user can act on.
std::string FirstLine(const char* message) {
    std::string text = message ? message : "";
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text.empty() ? std::string("unknown error") : text;
}

struct TFreeConn {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};

uint64_t BigEndian(const char* bytes, int length) {
    uint64_t value = 0;
    for (int i = 0; i < length; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

}  // namespace

// --- TPgResult ---------------------------------------------------------------------------------

TPgResult::TPgResult(pg_result* result) : fresult(result) {}

TPgResult::~TPgResult() {
    PQclear(fresult);
}

TPgResult::TPgResult(TPgResult&& other) noexcept : fresult(std::exchange(other.fresult, nullptr)) {}

TPgResult& TPgResult::operator=(TPgResult&& other) noexcept {
    if (this != &other) {
        PQclear(fresult);
        fresult = std::exchange(other.fresult, nullptr);
    }
    return *this;
}

int TPgResult::Rows() const {
    return fresult ? PQntuples(fresult) : 0;
}

bool TPgResult::IsNull(int row, int column) const {
    return PQgetisnull(fresult, row, column) != 0;
}

std::string_view TPgResult::Bytes(int row, int column) const {
    if (IsNull(row, column)) return {};
    return {PQgetvalue(fresult, row, column),
            static_cast<size_t>(PQgetlength(fresult, row, column))};
}

int64_t TPgResult::Int64(int row, int column) const {
    if (IsNull(row, column)) return 0;
    const int length = PQgetlength(fresult, row, column);
    const uint64_t raw = BigEndian(PQgetvalue(fresult, row, column), length);
    // Sign-extend the narrower integer types.
    const int bits = 8 * length;
    if (bits < 64 && (raw >> (bits - 1)) & 1) return static_cast<int64_t>(raw | ~0ULL << bits);
    return static_cast<int64_t>(raw);
}

bool TPgResult::Bool(int row, int column) const {
    return !IsNull(row, column) && PQgetvalue(fresult, row, column)[0] != 0;
}

// --- TPgConnection -----------------------------------------------------------------------------

std::unique_ptr<TPgConnection> TPgConnection::Connect(const std::string& conninfo,
                                                      std::chrono::milliseconds timeout,
                                                      TWaker* waker) {
    // Entries before dbname, which carries the user's connection string, are defaults it may
    // override; those after it are what this layer needs whatever the string says.
    const char* const keywords[] = {"connect_timeout",  "keepalives",
                                    "keepalives_idle",  "keepalives_interval",
                                    "keepalives_count", "tcp_user_timeout",
                                    "application_name", "dbname",
                                    "client_encoding",  nullptr};
    const char* const values[] = {
        "5", "1", "5", "2", "2", "10000", "Pelloquin", conninfo.c_str(), "UTF8", nullptr};
    std::unique_ptr<PGconn, TFreeConn> conn(PQconnectStartParams(keywords, values, 1));
    if (!conn) throw EPgException("out of memory", true);
    if (PQstatus(conn.get()) == CONNECTION_BAD)
        throw EPgException(FirstLine(PQerrorMessage(conn.get())), true);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED)
            throw EPgException(FirstLine(PQerrorMessage(conn.get())), true);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw EPgException("timeout expired", true);
        const TSocketReady ready =
            WaitForSocket(PQsocket(conn.get()), state == PGRES_POLLING_WRITING, waker, left);
        if (ready == TSocketReady::Woken) return nullptr;
        if (ready == TSocketReady::Ready) state = PQconnectPoll(conn.get());
    }
    return std::unique_ptr<TPgConnection>(new TPgConnection(conn.release()));
}

TPgConnection::~TPgConnection() {
    PQfinish(fconn);
}

void TPgConnection::Raise(pg_result* result) {
    const TPgResult owned(result);
    const bool lost = PQstatus(fconn) == CONNECTION_BAD;
    const char* message = result ? PQresultErrorMessage(result) : nullptr;
    if (!message || !*message) message = PQerrorMessage(fconn);
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    throw EPgException(FirstLine(message), lost, state ? state : "");
}

TPgResult TPgConnection::Exec(std::string_view sql) {
    const std::string text(sql);
    PGresult* result = PQexec(fconn, text.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Raise(result);
    return TPgResult(result);
}

namespace {

// The arrays libpq takes for parameters; text parameters travel NUL-terminated, bytes by length.
struct TParams {
    explicit TParams(std::span<const TPgParam> params) {
        texts.reserve(params.size());
        for (const TPgParam& p : params) {
            if (p.null) {
                values.push_back(nullptr);
            } else if (p.binary) {
                values.push_back(p.value.data() ? p.value.data() : "");
            } else {
                texts.emplace_back(p.value);
                values.push_back(texts.back().c_str());
            }
            lengths.push_back(static_cast<int>(p.value.size()));
            formats.push_back(p.binary ? 1 : 0);
        }
    }
    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
};

}  // namespace

TPgResult TPgConnection::Query(std::string_view sql, std::span<const TPgParam> params) {
    const std::string text(sql);
    const TParams p(params);
    PGresult* result = PQexecParams(fconn, text.c_str(), static_cast<int>(params.size()), nullptr,
                                    p.values.data(), p.lengths.data(), p.formats.data(), 1);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Raise(result);
    return TPgResult(result);
}

void TPgConnection::Send(std::string_view sql, std::span<const TPgParam> params) {
    const std::string text(sql);
    const TParams p(params);
    if (!PQsendQueryParams(fconn, text.c_str(), static_cast<int>(params.size()), nullptr,
                           p.values.data(), p.lengths.data(), p.formats.data(), 1)) {
        Raise(nullptr);
    }
}

TPgResult TPgConnection::Receive() {
    // The statement's result, then the null that ends it; the first failure wins.
    PGresult* first = nullptr;
    while (PGresult* result = PQgetResult(fconn)) {
        if (!first) {
            first = result;
        } else {
            const ExecStatusType status = PQresultStatus(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK &&
                (PQresultStatus(first) == PGRES_COMMAND_OK ||
                 PQresultStatus(first) == PGRES_TUPLES_OK)) {
                PQclear(first);
                first = result;
            } else {
                PQclear(result);
            }
        }
    }
    const ExecStatusType status = PQresultStatus(first);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Raise(first);
    return TPgResult(first);
}

void TPgConnection::Discard() {
    while (PGresult* result = PQgetResult(fconn))
        PQclear(result);
}

void TPgConnection::StartCopy(std::string_view sql) {
    const std::string text(sql);
    PGresult* result = PQexec(fconn, text.c_str());
    if (PQresultStatus(result) != PGRES_COPY_IN) Raise(result);
    PQclear(result);
}

void TPgConnection::PutCopyData(std::string_view data) {
    if (PQputCopyData(fconn, data.data(), static_cast<int>(data.size())) != 1) Raise(nullptr);
}

void TPgConnection::EndCopy() {
    if (PQputCopyEnd(fconn, nullptr) != 1) Raise(nullptr);
    // The COPY's own result, then the end of the command.
    bool failed = false;
    PGresult* failure = nullptr;
    while (PGresult* result = PQgetResult(fconn)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK && !failed) {
            failed = true;
            failure = result;
        } else {
            PQclear(result);
        }
    }
    if (failed) Raise(failure);
}

bool TPgConnection::Ok() const {
    return PQstatus(fconn) == CONNECTION_OK;
}

int TPgConnection::Socket() const {
    return PQsocket(fconn);
}

bool TPgConnection::ConsumeInput() {
    return PQconsumeInput(fconn) == 1 && Ok();
}

std::vector<TPgNotification> TPgConnection::TakeNotifications() {
    std::vector<TPgNotification> notes;
    while (PGnotify* note = PQnotifies(fconn)) {
        notes.push_back({note->relname, note->extra ? note->extra : ""});
        PQfreemem(note);
    }
    return notes;
}

// --- Helpers -----------------------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> ParseConninfo(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (!options) {
        const std::string message = error ? FirstLine(error) : std::string("out of memory");
        PQfreemem(error);
        throw EPgException(message, false);
    }
    std::vector<std::pair<std::string, std::string>> found;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && *o->val) found.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    return found;
}

void AppendCopyText(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

void AppendCopyBytes(std::string& out, std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\\\x";  // the field's backslash, escaped for COPY
    for (char c : value) {
        const auto b = static_cast<unsigned char>(c);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}
