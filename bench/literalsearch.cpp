// Each step is written as the original design states it, with no index, no cache and no batch:
// the pass re-reads every stored vector from the loaded table's text and asks the database for
// the text of every hit; a save commits four statements one by one and reloads everything. The
// only liberty taken is the one the program takes too: the worker posts the finished pass to the
// user-interface thread instead of drawing from its own thread.
#include "bench/literalsearch.h"

#include <QFont>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPlainTextEdit>

#include "core/knowledgebase.h"
#include "port/errors.h"
#include "port/guid.h"
#include "port/localformat.h"
#include "textsearch/locks.h"
#include "textsearch/renderpanel/colors.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "textsearch/similarity.h"
#include "ui/widgets/qtext.h"

namespace {

constexpr int kQueueTimeout = 3000;
constexpr int kSaveTimeout = 300000;

bool IsBlank(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 32) return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return s;
}

}  // namespace

TLiteralWindow::TLiteralWindow(const std::string& file) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    ProblemText = new QPlainTextEdit(this);
    ProblemText->setFixedSize(383, 183);
    row->addWidget(ProblemText, 0, Qt::AlignTop);
    Results = new vRenderPanel(this);
    Results->setFixedSize(425, 522);
    Results->SetColor(cBGCOLOR);
    Results->SetScorePosition(false);
    row->addWidget(Results);
    resize(828, 546);

    fDB = std::make_unique<TSQLiteDatabase>(file);
    fsearchtable = StartUp(*fDB);
    fhelix = std::make_unique<THelix>();
    fhelix->SetOnProcessWorkItem([this](THelix&, TObject*& item) { Process(item); });
    connect(ProblemText, &QPlainTextEdit::textChanged, this, [this] { ProblemTextChange(); });
}

TLiteralWindow::~TLiteralWindow() {
    fhelix->Stop();
    for (TObject* item : fhelix->TakeQueued())
        delete item;
    Results->SetStorage(nullptr);
}

std::unique_ptr<TSQLiteTable> TLiteralWindow::StartUp(TSQLiteDatabase& DB) {
    kb::CreateMissingTables(DB);
    kb::WriteFontSize(DB, kb::ReadFontSize(DB));
    return kb::LoadVectors(DB);
}

int TLiteralWindow::Hits() const {
    return fshown ? fshown->tree.Count() : 0;
}

void TLiteralWindow::ProblemTextChange() {
    if (fbusy) return;
    const std::string text = FromEditorText(ProblemText->toPlainText());
    if (IsBlank(text)) return;
    Requery();
}

void TLiteralWindow::Requery() {
    auto query = EncodeCV(FromEditorText(ProblemText->toPlainText()));
    if (fhelix->Push(query.get())) query.release();
}

void TLiteralWindow::Process(TObject*& WorkItem) {
    std::unique_ptr<TcvVector> query(dynamic_cast<TcvVector*>(WorkItem));
    WorkItem = nullptr;
    if (!query) return;
    TLockGuard lock(fhelix->QueueLock(), kQueueTimeout);
    if (!lock.Owns()) return;
    fbusy = true;
    std::shared_ptr<TLiteralPass> pass;
    try {
        pass = executeQuery(*query);
    } catch (const std::exception&) {
        // The pass ends at the row that failed, as the worker drops the error.
    }
    fbusy = false;
    if (pass) {
        QMetaObject::invokeMethod(
            this, [this, pass] { ShowPass(pass); }, Qt::QueuedConnection);
    }
}

std::shared_ptr<TLiteralPass> TLiteralWindow::executeQuery(const TcvVector& Query) {
    auto pass = std::make_shared<TLiteralPass>();
    TSQLiteTable& table = *fsearchtable;
    for (bool more = table.MoveFirst(); more && !table.Eof(); table.Next()) {
        TcvVector stored;
        stored.SetText(table.FieldAsString(2));
        const float score = Proximity(Query, stored);
        if (!(score > 0.25f)) continue;
        const std::string& text = pass->texts.emplace_back(fDB->GetTableString(
            kb::SelectDescriptionSQL(table.FieldAsString(0), table.FieldAsString(1))));
        const std::string& ID = pass->texts.emplace_back(table.FieldAsString(0));
        const std::string& title = pass->texts.emplace_back(text.substr(0, 40) + "...");
        const std::string& excerpt = pass->texts.emplace_back(
            text.size() > 40 ? std::string(Trimmed(std::string_view(text).substr(40, 100)))
                             : std::string());
        TcvResults& hit = pass->hits.emplace_back(TcvResults{ID, title, {}, excerpt, score});
        pass->tree.insert(score, &hit);
    }
    return pass;
}

void TLiteralWindow::ShowPass(std::shared_ptr<TLiteralPass> pass) {
    // The old hits go only after the panel has let go of them.
    Results->SetStorage(&pass->tree);
    Results->StorageChanged();
    fshown = std::move(pass);
    Results->Hover(0, 0);
    Results->DrawPanel();
    Results->update();
    ++fpassesShown;
}

void TLiteralWindow::Save(const std::string& problem, const std::string& solution) {
    TLockGuard lock(fhelix->QueueLock(), kSaveTimeout);
    if (!lock.Owns()) throw Exception("the knowledge base stayed busy");
    const std::string ID = kb::GuidToID(NewGuid());
    const std::string quotedProblem = kb::DoubleApostrophes(problem);
    const std::string quotedSolution = kb::DoubleApostrophes(solution);
    fDB->ExecSQL(kb::InsertTextSQL(ID, NowAsText(), kb::kProblem, problem));
    fDB->ExecSQL(kb::InsertTextSQL(ID, NowAsText(), kb::kSolution, solution));
    fDB->ExecSQL(kb::InsertVectorSQL(ID, kb::kProblem, EncodeCV(quotedProblem)->Text()));
    fDB->ExecSQL(kb::InsertVectorSQL(ID, kb::kSolution, EncodeCV(quotedSolution)->Text()));
    fsearchtable.reset();
    fsearchtable = kb::LoadVectors(*fDB);
}
