// The office server's database layer: a thin object layer over libpq, PostgreSQL's C client.
//
// TPgConnection is one connection to the server; TPgResult is the complete result of one
// statement. Statements take their values as parameters, never pasted into the text: a text
// parameter goes as text (valid UTF-8: the connection's client encoding is UTF-8), a bytes
// parameter goes in binary, byte for byte (for bytea columns). Results come back in binary, so a
// bytea or text value is its bytes, an integer is read with Int64. EPgException reports every
// failure, and says whether the connection itself broke.
//
// Connections carry time-outs, so that no wait on a lost network lasts long: connecting gives up
// after its time-out, and TCP keepalives and the TCP user time-out end a query whose server has
// gone silent. A connection string may set them otherwise. Passwords come only from libpq's own
// password file or service file (or the connection string a user gives); this layer keeps none.
//
// Ownership: each object owns its libpq handle. Thread safety: none; one thread at a time per
// connection, and a result may be read on any thread once made.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "port/errors.h"

class TWaker;
struct pg_conn;
struct pg_result;

class EPgException : public Exception {
public:
    EPgException(std::string message, bool connectionLost, std::string state = {})
        : Exception(std::move(message)), flost(connectionLost), fstate(std::move(state)) {}
    // The connection broke (or could not be made): the server may be down or out of reach.
    bool ConnectionLost() const { return flost; }
    // The server's SQLSTATE code of the error ("55P03": a lock not granted in time), or "".
    const std::string& State() const { return fstate; }

private:
    bool flost;
    std::string fstate;
};

// One parameter of a statement.
struct TPgParam {
    std::string_view value;
    bool binary = false;  // sent as raw bytes (bytea); otherwise as text
    bool null = false;

    static TPgParam Text(std::string_view v) { return {v, false, false}; }
    static TPgParam Bytes(std::string_view v) { return {v, true, false}; }
    static TPgParam Null() { return {{}, false, true}; }
};

class TPgResult {
public:
    TPgResult() = default;
    explicit TPgResult(pg_result* result);
    ~TPgResult();
    TPgResult(TPgResult&& other) noexcept;
    TPgResult& operator=(TPgResult&& other) noexcept;
    TPgResult(const TPgResult&) = delete;
    TPgResult& operator=(const TPgResult&) = delete;

    int Rows() const;
    bool IsNull(int row, int column) const;
    // The value's bytes, valid while the result lives ("" for NULL).
    std::string_view Bytes(int row, int column) const;
    // A bigint, integer or smallint value in binary (0 for NULL).
    int64_t Int64(int row, int column) const;
    // A boolean value in binary (false for NULL).
    bool Bool(int row, int column) const;

private:
    pg_result* fresult = nullptr;
};

struct TPgNotification {
    std::string channel;
    std::string payload;
};

class TPgConnection {
public:
    // Connects with the connection string (key=value pairs, a postgresql:// URI, or "" for
    // libpq's defaults), giving up after timeout. Raises EPgException (ConnectionLost) when the
    // server cannot be reached or refuses; returns null when waker was woken first.
    static std::unique_ptr<TPgConnection> Connect(const std::string& conninfo,
                                                  std::chrono::milliseconds timeout,
                                                  TWaker* waker = nullptr);
    ~TPgConnection();
    TPgConnection(const TPgConnection&) = delete;
    TPgConnection& operator=(const TPgConnection&) = delete;

    // Runs sql (one or more statements, no parameters); the result of the last one, in text.
    TPgResult Exec(std::string_view sql);
    // Runs one statement with parameters $1, $2, ...; the result in binary.
    TPgResult Query(std::string_view sql, std::span<const TPgParam> params = {});
    TPgResult Query(std::string_view sql, std::initializer_list<TPgParam> params) {
        return Query(sql, std::span<const TPgParam>(params.begin(), params.size()));
    }

    // The same in two halves, so that the server works on a statement while the caller does
    // something else: Send starts it, Receive waits for its result. Nothing else may run on the
    // connection in between.
    void Send(std::string_view sql, std::span<const TPgParam> params = {});
    TPgResult Receive();
    // Waits for the result of a statement sent, if any, and drops it (after a failure).
    void Discard();

    // COPY ... FROM STDIN: starts it, sends data (in the COPY text format), ends it.
    void StartCopy(std::string_view sql);
    void PutCopyData(std::string_view data);
    void EndCopy();

    // False once the connection has broken.
    bool Ok() const;
    // The socket, for waiting on notifications.
    int Socket() const;
    // Reads what the server sent; false when the connection broke.
    bool ConsumeInput();
    // Notifications received so far, in order.
    std::vector<TPgNotification> TakeNotifications();

    pg_conn* Handle() const { return fconn; }

private:
    explicit TPgConnection(pg_conn* conn) : fconn(conn) {}
    // Raises the connection's or the result's error.
    [[noreturn]] void Raise(pg_result* result);

    pg_conn* fconn;
};

// The options of a connection string as libpq reads them (key, value), without empty ones;
// raises EPgException with libpq's message when it cannot be read.
std::vector<std::pair<std::string, std::string>> ParseConninfo(const std::string& conninfo);

// A value as a COPY text-format field: backslashes, tabs and line breaks escaped.
void AppendCopyText(std::string& out, std::string_view value);
// A bytea value as a COPY text-format field (hex form).
void AppendCopyBytes(std::string& out, std::string_view value);
