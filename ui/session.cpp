// The engine's callbacks arrive on its worker and the writes end on the session's thread; both
// are posted here, where the generation and the receivers are checked on the user-interface
// thread alone.
#include "ui/session.h"

#include <QMetaObject>
#include <QPointer>
#include <utility>

#include "core/store/usersettings.h"
#include "textsearch/helix.h"
#include "ui/application.h"
#include "ui/widgets/appcursor.h"

namespace {

// One read or write for the session's thread.
struct TJob : TObject {
    std::function<void()> run;
};

}  // namespace

TSession::TSession(const TStoreChoice& choice, TStoreMaker makeStore, QObject* parent)
    : QObject(parent),
      fmakeStore(std::move(makeStore)),
      fswitch(choice),
      fwriterName(::WriterName()),
      fwriter(std::make_unique<THelix>()) {
    fwriter->SetOnProcessWorkItem([](THelix&, TObject*& item) {
        std::unique_ptr<TObject> job(std::exchange(item, nullptr));
        static_cast<TJob*>(job.get())->run();
    });
    MakeEngine();
}

TSession::~TSession() {
    fwriter->Stop();
    for (TObject* job : fwriter->TakeQueued())
        delete job;
    fengine->KeepIndex();  // for the next start
    // What will never report lets the hourglass go now.
    for (; fworking > 0; --fworking)
        AppCursor::EndWait();
}

void TSession::MakeEngine() {
    // Reports of an engine given up for another are dropped when they arrive.
    const int generation = ++fgeneration;
    TKnowledgeEngine::TCallbacks callbacks;
    callbacks.passReady = [this, generation](std::shared_ptr<TSearchPass> pass) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, pass = std::move(pass)] {
                if (generation == fgeneration) emit passReady(pass);
            },
            Qt::QueuedConnection);
    };
    callbacks.opened = [this, generation](const TKnowledgeEngine::TOpened& outcome) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, outcome] {
                if (generation != fgeneration) return;
                fopened = true;
                emit opened(outcome);
            },
            Qt::QueuedConnection);
    };
    fengine = std::make_shared<TKnowledgeEngine>(fmakeStore(Choice()), std::move(callbacks),
                                                 franking);
    fengine->SetWriterName(fwriterName);
    fopeningStarted = false;
    fopened = false;
}

std::string TSession::Location() const {
    return fengine->Location();
}

QString TSession::LocationText() const {
    const QString location = QString::fromStdString(Location());
    return Choice().IsServer() ? QStringLiteral("the office server %1").arg(location) : location;
}

void TSession::CheckMayLeave() const {
    if (fleaveGuard) fleaveGuard();
}

void TSession::UseStore(const TStoreChoice& choice) {
    CheckMayLeave();
    TWaitCursor hourglass;
    fswitch.Use(choice);
    fengine->KeepIndex();
    // Its worker stops now; a write of it still running lets it go when done.
    fengine.reset();
    MakeEngine();
    emit storeChanged();
    StartOpening();
}

void TSession::StartOpening() {
    if (fopeningStarted) return;
    fopeningStarted = true;
    fengine->StartOpening();
}

TKnowledgeEngine& TSession::Ready() {
    StartOpening();
    return *fengine;
}

void TSession::Search(std::string text, bool caretAtEnd) {
    Ready().Search(std::move(text), caretAtEnd);
}

void TSession::SetRanking(TRanking ranking) {
    franking = ranking;
    fengine->SetRanking(ranking);
}

void TSession::Run(QObject* receiver, bool ofStore, std::function<void(TKnowledgeEngine&)> work,
                   std::function<void(std::exception_ptr)> report) {
    Ready();
    ++fworking;
    AppCursor::BeginWait();
    const QPointer<QObject> to(receiver);
    const int generation = fgeneration;
    auto finish = [this, to, ofStore, generation, report](std::exception_ptr failure) {
        --fworking;
        AppCursor::EndWait();
        if (!to || (ofStore && generation != fgeneration)) return;
        RunHandler([&] { report(failure); });
    };
    auto job = std::make_unique<TJob>();
    job->run = [this, engine = fengine, work = std::move(work), finish]() mutable {
        std::exception_ptr failure;
        try {
            work(*engine);
        } catch (...) {
            failure = std::current_exception();
        }
        engine.reset();  // an engine given up meanwhile goes here, off the window's thread
        QMetaObject::invokeMethod(
            this, [finish, failure] { finish(failure); }, Qt::QueuedConnection);
    };
    if (fwriter->Push(job.get())) {
        job.release();  // the session's thread owns it now
        return;
    }
    QMetaObject::invokeMethod(
        this, [finish] { finish(std::make_exception_ptr(EBusy())); }, Qt::QueuedConnection);
}

void TSession::ReadEntry(QObject* receiver, std::string ID, TRead done) {
    auto texts = std::make_shared<TEntryTexts>();
    Run(
        receiver, true,
        [ID = std::move(ID), texts](TKnowledgeEngine& e) { *texts = e.ReadEntry(ID); },
        [texts, done = std::move(done)](std::exception_ptr failure) { done(*texts, failure); });
}

void TSession::Save(QObject* receiver, std::string problem, std::string solution, TDone done) {
    Run(
        receiver, false,
        [problem = std::move(problem), solution = std::move(solution)](TKnowledgeEngine& e) {
            e.Save(problem, solution);
        },
        std::move(done));
}

void TSession::SaveNew(QObject* receiver, std::string problem, std::string solution, TSaved done) {
    auto ID = std::make_shared<std::string>();
    Run(
        receiver, false,
        [problem = std::move(problem), solution = std::move(solution), ID](TKnowledgeEngine& e) {
            *ID = e.Save(problem, solution);
        },
        [ID, done = std::move(done)](std::exception_ptr failure) { done(*ID, failure); });
}

void TSession::Replace(QObject* receiver, std::string ID, std::string problem, std::string solution,
                       std::string seenVersion, TDone done) {
    Run(
        receiver, false,
        [ID = std::move(ID), problem = std::move(problem), solution = std::move(solution),
         seenVersion = std::move(seenVersion)](TKnowledgeEngine& e) {
            e.Replace(ID, problem, solution, seenVersion);
        },
        std::move(done));
}

void TSession::Delete(QObject* receiver, std::string ID, TDone done) {
    Run(
        receiver, false, [ID = std::move(ID)](TKnowledgeEngine& e) { e.Delete(ID); },
        std::move(done));
}

void TSession::History(QObject* receiver, std::string ID, TVersions done) {
    auto versions = std::make_shared<std::vector<TEntryVersion>>();
    Run(
        receiver, true,
        [ID = std::move(ID), versions](TKnowledgeEngine& e) { *versions = e.History(ID); },
        [versions, done = std::move(done)](std::exception_ptr failure) {
            done(*versions, failure);
        });
}

void TSession::Deleted(QObject* receiver, TVersions done) {
    auto versions = std::make_shared<std::vector<TEntryVersion>>();
    Run(
        receiver, true, [versions](TKnowledgeEngine& e) { *versions = e.Deleted(); },
        [versions, done = std::move(done)](std::exception_ptr failure) {
            done(*versions, failure);
        });
}

void TSession::Restore(QObject* receiver, std::string ID, int64_t seq, TDone done) {
    Run(
        receiver, false, [ID = std::move(ID), seq](TKnowledgeEngine& e) { e.Restore(ID, seq); },
        std::move(done));
}

void TSession::SetWriterName(std::string name) {
    fwriterName = name;
    fengine->SetWriterName(std::move(name));  // taken at the engine's next write
}

void TSession::WriteFontSize(int32_t size) {
    Ready().WriteFontSize(size);
}

std::exception_ptr NotSaved(std::exception_ptr failure) {
    if (!failure) return nullptr;
    try {
        std::rethrow_exception(failure);
    } catch (const EEditConflict&) {
        return failure;  // the window offers the choices
    } catch (const EEntryDeleted&) {
        return failure;
    } catch (const EBusy&) {
        return std::make_exception_ptr(Exception(
            "The entry was not saved: the knowledge base stayed busy. Your texts are still here; "
            "please try again"));
    } catch (const std::exception& e) {
        return std::make_exception_ptr(
            Exception(std::string("The entry was not saved. ") + e.what()));
    } catch (...) {
        return std::current_exception();
    }
}

std::exception_ptr NotDeleted(std::exception_ptr failure) {
    if (!failure) return nullptr;
    try {
        std::rethrow_exception(failure);
    } catch (const EBusy&) {
        return std::make_exception_ptr(
            Exception("The entry was not deleted: the knowledge base stayed busy"));
    } catch (...) {
        return std::current_exception();
    }
}
