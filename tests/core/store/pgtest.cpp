#include "pgtest.h"

#include <cstdlib>
#include <random>
#include <thread>

#include "core/store/pgstore.h"
#include "core/searchindex.h"
#include "textsearch/cvvector.h"

namespace {

// The folder the fixture server lives in: the host of its connection string.
std::string ServerFolder(const std::string& conninfo) {
    for (const auto& [key, value] : ParseConninfo(conninfo))
        if (key == "host") return value;
    return {};
}

std::string RandomName(const char* prefix) {
    std::random_device device;
    return prefix + std::to_string(std::uniform_int_distribution<uint64_t>()(device) % 1000000000);
}

}  // namespace

std::optional<std::string> TestServer() {
    const char* conninfo = std::getenv("PELLOQUIN_TEST_PG");
    if (!conninfo || !*conninfo) return std::nullopt;
    return conninfo;
}

TPgTestDatabase::TPgTestDatabase(const std::string& server)
    : fserver(server), fname(RandomName("t")) {
    TPgConnection::Connect(fserver, std::chrono::seconds(30))->Exec("create database " + fname);
    fconninfo = fserver + " dbname=" + fname;
}

TPgTestDatabase::~TPgTestDatabase() {
    flook.reset();
    try {
        TPgConnection::Connect(fserver, std::chrono::seconds(30))
            ->Exec("drop database if exists " + fname + " with (force)");
    } catch (const std::exception& e) {
        ADD_FAILURE() << "could not drop " << fname << ": " << e.what();
    }
}

TPgConnection& TPgTestDatabase::Look() {
    if (!flook || !flook->Ok()) flook = TPgConnection::Connect(fconninfo, std::chrono::seconds(30));
    return *flook;
}

TPrivateServer::TPrivateServer()
    : fdir(ServerFolder(*TestServer()) + "/" + RandomName("own")),
      fconninfo("host=" + fdir + " user=postgres dbname=postgres") {
    Run("start");
}

TPrivateServer::~TPrivateServer() {
    Run("stop");
}

void TPrivateServer::Halt() {
    Run("halt");
}

void TPrivateServer::Resume() {
    Run("resume");
}

void TPrivateServer::Run(const std::string& action) {
    const std::string command = std::string(PELLOQUIN_PGSERVER) + " " + action + " " + fdir;
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command << " failed";
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<THit> FreshHits(const std::string& conninfo, const std::string& text) {
    TPgStore store(conninfo);
    store.Open();
    TSearchIndex index;
    store.LoadAll(index);
    return HitsOf(*index.Search(*EncodeCV(text)));
}

TRecordingEngine::TRecordingEngine(std::unique_ptr<TKnowledgeStore> store) {
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [this](std::shared_ptr<TSearchPass> pass) {
        std::lock_guard<std::mutex> lock(fmutex);
        fpasses.push_back(std::move(pass));
    };
    callbacks.opened = [this](const TKnowledgeEngine::TOpened& result) {
        std::lock_guard<std::mutex> lock(fmutex);
        fopened = result;
    };
    fengine = std::make_unique<TKnowledgeEngine>(std::move(store), std::move(callbacks));
}

TKnowledgeEngine::TOpened TRecordingEngine::Opened() {
    std::lock_guard<std::mutex> lock(fmutex);
    return fopened.value_or(TKnowledgeEngine::TOpened{"not opened", {}});
}

size_t TRecordingEngine::Passes() {
    std::lock_guard<std::mutex> lock(fmutex);
    return fpasses.size();
}

std::vector<THit> TRecordingEngine::Last() {
    std::lock_guard<std::mutex> lock(fmutex);
    return fpasses.empty() ? std::vector<THit>{} : HitsOf(*fpasses.back());
}

void TRecordingEngine::WaitIdle() {
    ASSERT_TRUE(WaitUntil([this] { return fengine->Idle(); }));
}
