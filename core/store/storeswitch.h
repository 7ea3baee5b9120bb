// Moving the knowledge base in use to an office server and back, as the user asks for it.
//
// TServerMove is one move to a server, taken a step at a time so that a window can ask between
// the steps: made from the text the user typed (raising, before anything is done, when libpq
// cannot read it or when it holds a password, which is never kept), then Connect, then, when
// the user wants this computer's entries there too, CopyFrom. It holds its own connection until
// the move is finished or given up.
//
// TStoreSwitch holds the choice in use and the file to go back to from a server: the one left
// for a server in this run, else the default file. MoveTo and MoveBack keep the new choice for
// the next starts and return the choice then in force (the environment's, when it fixes one).
//
// Thread safety: none; one owner. Connect and CopyFrom wait on the network: call them off the
// user-interface thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/store/servercopy.h"
#include "core/store/storechoice.h"

class TPgStore;

class TServerMove {
public:
    explicit TServerMove(std::string_view text);
    ~TServerMove();
    TServerMove(const TServerMove&) = delete;
    TServerMove& operator=(const TServerMove&) = delete;

    const TStoreChoice& Server() const { return fserver; }
    // Reaches the server and makes its tables when missing; raises when it cannot.
    void Connect();
    // Copies the entries of the knowledge base file there (servercopy.h). REQUIRES: connected.
    TCopyResult CopyFrom(const std::string& file,
                         const std::function<void(size_t, size_t)>& progress = {});
    // Lets the connection go.
    void Close();

private:
    TStoreChoice fserver;
    std::unique_ptr<TPgStore> fstore;
};

class TStoreSwitch {
public:
    explicit TStoreSwitch(TStoreChoice inUse);

    const TStoreChoice& InUse() const { return finUse; }
    // The user may change the store: the environment does not fix it for this computer.
    bool Choosable() const { return finUse.source != TStoreChoice::TSource::Environment; }
    // From now on next is in use; a file left for a server is the one to go back to.
    void Use(const TStoreChoice& next);
    // Keeps move's server for the next starts (letting the move's connection go first).
    // Raises when it cannot be kept.
    TStoreChoice MoveTo(TServerMove& move);
    // Keeps this computer's file for the next starts. Raises when it cannot be kept.
    TStoreChoice MoveBack();

private:
    TStoreChoice finUse;
    TStoreChoice fcomputerFile;  // the default file until one is left for a server
};
