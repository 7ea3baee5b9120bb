#include "ui/viewwindows.h"

#include <QPointer>

#include "port/errors.h"
#include "ui/session.h"
#include "ui/widgets/qtext.h"

TViewWindows::TViewWindows(TSession& session, QObject* parent)
    : QObject(parent), fsession(session) {
    fsession.SetLeaveGuard([this] { RefuseWhileEditing(); });
    connect(&fsession, &TSession::storeChanged, this, &TViewWindows::CloseAll);
}

TViewWindows::~TViewWindows() {
    fsession.SetLeaveGuard(nullptr);
}

void TViewWindows::Open(const std::string& ID) {
    if (TShowItem* window = Find(ID)) {
        Show(*window);
        return;
    }
    // A second click while the texts are on their way opens no second window.
    if (!freading.insert(ID).second) return;
    fsession.ReadEntry(this, ID, [this, ID](const TEntryTexts& texts, std::exception_ptr failure) {
        freading.erase(ID);
        // An entry that is gone opens nothing.
        if (failure) std::rethrow_exception(failure);
        auto created = std::make_unique<TShowItem>(*this);
        created->SetTextSize(ftextSize);
        created->Execute(ID, texts);
        TShowItem& window = *created;
        fshown.emplace_back(ID, std::move(created));
        Show(window);
    });
}

void TViewWindows::Show(TShowItem& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

TShowItem* TViewWindows::Find(std::string_view ID) const {
    for (const auto& [id, window] : fshown) {
        if (id == ID) return window.get();
    }
    return nullptr;
}

void TViewWindows::SetTextSize(int points) {
    ftextSize = points;
    for (const auto& [id, window] : fshown)
        window->SetTextSize(points);
}

void TViewWindows::RefuseWhileEditing() const {
    for (const auto& [id, window] : fshown) {
        if (window->Editing() && window->Modified()) {
            window->raise();
            throw Exception("An entry is being edited: save or cancel its edits first");
        }
    }
}

void TViewWindows::CloseAll() {
    for (auto& [id, window] : fshown)
        window.release()->deleteLater();
    fshown.clear();
    freading.clear();  // the session drops what was read of the store left
}

void TViewWindows::SaveEdit(TShowItem& window, const std::string& problem,
                            const std::string& solution, const std::string& seenVersion,
                            TDone done) {
    if (IsBlankText(problem) && IsBlankText(solution)) {
        throw Exception("The entry was not saved: both texts are empty. To remove it, use Delete");
    }
    const QPointer<TShowItem> to(&window);
    fsession.Replace(&window, window.EntryID(), problem, solution, seenVersion,
                     [this, to, done](std::exception_ptr failure) {
                         done(NotSaved(failure));
                         if (failure) return;
                         emit entryWritten();
                         // Who and when the store recorded, and the version to edit next.
                         if (to) {
                             fsession.ReadEntry(
                                 to, to->EntryID(),
                                 [to](const TEntryTexts& texts, std::exception_ptr f) {
                                     if (!f && to) to->Refresh(texts);
                                 });
                         }
                     });
}

void TViewWindows::SaveAsNew(TShowItem& window, const std::string& problem,
                             const std::string& solution, TDone done) {
    if (IsBlankText(problem) && IsBlankText(solution)) {
        throw Exception("The entry was not saved: both texts are empty");
    }
    fsession.SaveNew(&window, problem, solution,
                     [this, done](const std::string& ID, std::exception_ptr failure) {
                         done(NotSaved(failure));
                         if (failure) return;
                         emit entryWritten();
                         Open(ID);
                     });
}

void TViewWindows::ListHistory(TShowItem& window, TVersions done) {
    fsession.History(&window, window.EntryID(), std::move(done));
}

void TViewWindows::RestoreVersion(TShowItem& window, int64_t seq, TDone done) {
    const QPointer<TShowItem> to(&window);
    fsession.Restore(&window, window.EntryID(), seq, [this, to, done](std::exception_ptr failure) {
        if (failure) {
            done(failure);
            return;
        }
        emit entryWritten();
        if (!to) return;
        fsession.ReadEntry(to, to->EntryID(),
                           [to, done](const TEntryTexts& texts, std::exception_ptr f) {
                               if (!f && to) to->Execute(to->EntryID(), texts);
                               done(f);
                           });
    });
}

void TViewWindows::DeleteEntry(TShowItem& window, TDone done) {
    fsession.Delete(&window, window.EntryID(), [this, done](std::exception_ptr failure) {
        done(NotDeleted(failure));
        if (!failure) emit entryWritten();
    });
}

void TViewWindows::Forget(TShowItem& window) {
    for (auto it = fshown.begin(); it != fshown.end(); ++it) {
        if (it->second.get() == &window) {
            it->second.release()->deleteLater();  // it is inside one of its own handlers
            fshown.erase(it);
            return;
        }
    }
}
