// What the tests of the office-server store share: the throwaway PostgreSQL server that CTest
// starts for them (pgserver.sh, its connection string in PELLOQUIN_TEST_PG), a fresh database
// for each test, servers of a test's own to stop and start, and an engine that records its
// passes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/engine.h"
#include "literalpass.h"
#include "pg/pgdb.h"

// The fixture server's connection string, or none when PostgreSQL is not installed.
std::optional<std::string> TestServer();

#define REQUIRE_TEST_SERVER()                                                 \
    if (!TestServer())                                                        \
    GTEST_SKIP() << "PostgreSQL is not installed (scripts/setup.sh installs " \
                    "it)"

// A database of its own on a server, dropped (connections and all) when the test ends.
class TPgTestDatabase {
public:
    explicit TPgTestDatabase(const std::string& server);
    ~TPgTestDatabase();
    TPgTestDatabase(const TPgTestDatabase&) = delete;
    TPgTestDatabase& operator=(const TPgTestDatabase&) = delete;

    const std::string& Conninfo() const { return fconninfo; }
    // A connection of the test's own to the database, for looking at the tables.
    TPgConnection& Look();

private:
    std::string fserver, fname, fconninfo;
    std::unique_ptr<TPgConnection> flook;
};

// A server of one test's own, in a folder beside the fixture server's, that the test stops and
// starts again; stopped and removed when the test ends.
class TPrivateServer {
public:
    TPrivateServer();
    ~TPrivateServer();
    TPrivateServer(const TPrivateServer&) = delete;
    TPrivateServer& operator=(const TPrivateServer&) = delete;

    const std::string& Conninfo() const { return fconninfo; }
    void Halt();
    void Resume();

private:
    void Run(const std::string& action);
    std::string fdir, fconninfo;
};

// Waits until done() holds, up to timeout; whether it came to hold.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The hits of text over a fresh load of the server's entries.
std::vector<THit> FreshHits(const std::string& conninfo, const std::string& text);

// An engine on a store, recording every pass it hands over.
class TRecordingEngine {
public:
    explicit TRecordingEngine(std::unique_ptr<TKnowledgeStore> store);
    TKnowledgeEngine& operator*() { return *fengine; }
    TKnowledgeEngine* operator->() { return fengine.get(); }

    TKnowledgeEngine::TOpened Opened();
    size_t Passes();
    // The hits of the latest pass, best first; empty before the first.
    std::vector<THit> Last();
    void WaitIdle();

private:
    std::mutex fmutex;
    std::vector<std::shared_ptr<TSearchPass>> fpasses;  // guarded by fmutex
    std::optional<TKnowledgeEngine::TOpened> fopened;   // guarded by fmutex
    std::unique_ptr<TKnowledgeEngine> fengine;          // last: stops before what it calls
};
