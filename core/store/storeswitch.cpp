#include "core/store/storeswitch.h"

#include <utility>

#include "core/store/pgstore.h"

TServerMove::TServerMove(std::string_view text) : fserver(ServerChoice(text)) {
    KeptChoiceText(fserver);  // a password stops the move here, before anything is done
}

TServerMove::~TServerMove() = default;

void TServerMove::Connect() {
    fstore = std::make_unique<TPgStore>(fserver.where);
    fstore->Open();
}

TCopyResult TServerMove::CopyFrom(const std::string& file,
                                  const std::function<void(size_t, size_t)>& progress) {
    if (!fstore) throw Exception("Not connected to the office server");
    return CopyEntriesToServer(file, *fstore, progress);
}

void TServerMove::Close() {
    fstore.reset();
}

TStoreSwitch::TStoreSwitch(TStoreChoice inUse) : finUse(std::move(inUse)) {}

void TStoreSwitch::Use(const TStoreChoice& next) {
    if (!finUse.IsServer() && next.IsServer()) fcomputerFile = FileChoice(finUse.where);
    finUse = next;
}

TStoreChoice TStoreSwitch::MoveTo(TServerMove& move) {
    move.Close();
    SaveChoice(move.Server());
    return CurrentChoice();
}

TStoreChoice TStoreSwitch::MoveBack() {
    SaveChoice(fcomputerFile);
    return CurrentChoice();
}
