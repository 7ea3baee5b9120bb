// The program at the size of a large knowledge base: the real main window (TForm1) on generated
// knowledge bases of 1,000, 10,000 and 100,000 entries, on Qt's offscreen platform, each case
// beside the same action through TLiteralWindow (the original cost model, literalsearch.h)
// measured in the same run. After the run a table of every figure, its baseline, their ratio and
// its target is printed; bench/README.md holds one such table.
//
//   Keystroke      one character typed at the end of the problem box (a blank, then deleting it)
//                  until the pass it starts is handed over and the results panel has painted it
//   UiThread       the change handler alone, on the user-interface thread (the baseline's also
//                  vectorises the text); its processor time and the whole keystroke with the
//                  editor's own work are counters
//   Save           the Save button at 100,000 entries: the entry stored, the loaded vectors
//                  brought up to date
//   Startup        the main window made on the 100,000-entry file, until its vectors are loaded
//   Repaint        a mouse move over the results panel holding the hits of a query that nearly
//                  every stored text matches, scrolled to the top and to the middle
//   PeakMemory     VmHWM of a fresh process that opens the 100,000-entry file in a shown window
//                  and runs one search for the commonest word
//
// Knowledge bases are generated once into --pelloquin_data (default /tmp/pelloquin-bench) and
// reused; every run works on fresh copies, since windows write to their file.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCursor>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QWindow>
#include <array>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/kbgen.h"
#include "bench/literalsearch.h"
#include "core/knowledgebase.h"
#include "core/ranking.h"
#include "core/store/sqlitestore.h"
#include "tests/textsearch/renderpanel/referencedraw.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/application.h"
#include "ui/mainform.h"
#include "ui/session.h"
#include "ui/splashu.h"
#include "ui/widgets/dialogs.h"
#include "ui/widgets/qtext.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTenWords = 0, kCommonWord = 1, kPasted = 2;
constexpr size_t kLarge = 100000;
constexpr int kWaitLimitMs = 120000;

std::string gDataDir = "/tmp/pelloquin-bench";

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Processor time of the calling thread, in seconds.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const char* QueryName(int q) {
    static const char* const names[] = {"10-word problem", "single common word",
                                        "2,000-word paste"};
    return names[q];
}

// The typed problems, drawn from the same vocabulary as the stored texts.
const std::string& QueryText(int q) {
    static const std::vector<std::string> texts = [] {
        kbgen::TTextGenerator generator(kbgen::kDefaultSeed + 1);
        std::vector<std::string> t(3);
        t[kTenWords] = generator.Text(10);
        t[kCommonWord] = generator.Word(0);
        t[kPasted] = generator.Text(2000);
        return t;
    }();
    return texts[static_cast<size_t>(q)];
}

// A problem that nearly every stored text shares a word with: the fifteen commonest words. A
// text holding any of them scores at least 1/sqrt(15) > 0.25.
const std::string& BroadQuery() {
    static const std::string text = [] {
        kbgen::TTextGenerator generator(kbgen::kDefaultSeed);
        std::string t;
        for (size_t r = 0; r < 15; ++r)
            t += generator.Word(r) + " ";
        return t;
    }();
    return text;
}

// The longest the user-interface thread spent on one event since the last Reset: what a pass
// costs the window (its hand-over, the panel's paint), not the keystroke itself.
class TStallApplication : public TApplication {
public:
    using TApplication::TApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (fdepth++ > 0) {
            const bool handled = TApplication::notify(receiver, event);
            --fdepth;
            return handled;
        }
        const auto start = Clock::now();
        const bool handled = TApplication::notify(receiver, event);
        flongest = std::max(flongest, Seconds(Clock::now() - start));
        --fdepth;
        return handled;
    }
    void Reset() { flongest = 0; }
    double LongestMs() const { return flongest * 1e3; }

private:
    int fdepth = 0;
    double flongest = 0;
};
TStallApplication* gApp = nullptr;
bool gMillion = false;  // --pelloquin_million: also the cases at a million entries

// Error boxes are printed instead of shown; nothing is asked.
class TBenchDialogs : public TDialogs {
public:
    QMessageBox::StandardButton Ask(QWidget*, const QString&, const QString& text,
                                    QMessageBox::StandardButtons) override {
        std::fprintf(stderr, "unexpected question: %s\n", text.toStdString().c_str());
        return QMessageBox::No;
    }
    void ShowError(QWidget*, const QString&, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", text.toStdString().c_str());
        ++errors;
    }
    int errors = 0;
};
TBenchDialogs* gDialogs = nullptr;

// Runs the event loop, sleeping while there is nothing to do, until done() or the limit.
template <class F>
bool WaitFor(F done, int limitMs = kWaitLimitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void ShowAndExpose(QWidget& window) {
    window.show();
    WaitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 5000);
    QCoreApplication::processEvents();
}

// Per-run copies of the generated knowledge bases; removed at the end of the run.
class TWorkspace {
public:
    TWorkspace() {
        froot = fs::path(gDataDir) / ("run-" + std::to_string(getpid()));
        fs::remove_all(froot);
        fs::create_directories(froot);
    }
    ~TWorkspace() {
        std::error_code ignored;
        fs::remove_all(froot, ignored);
    }
    // A folder holding a fresh copy of the knowledge base of that size, under its own name.
    std::string Copy(size_t entries, const std::string& name) {
        const std::string source =
            kbgen::CachedKnowledgeBase(gDataDir, entries, kbgen::kDefaultSeed);
        const fs::path dir = froot / (name + "-" + std::to_string(entries));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(source, kb::KnowledgeBaseFile(dir.string()));
        return dir.string();
    }
    // An empty folder: a first start.
    std::string Empty(const std::string& name) {
        const fs::path dir = froot / name;
        fs::remove_all(dir);
        fs::create_directories(dir);
        return dir.string();
    }

private:
    fs::path froot;
};
TWorkspace& Workspace() {
    static TWorkspace workspace;
    return workspace;
}

// The real main window, shown, with the passes shown at the results panel's last paint.
struct TReal {
    std::unique_ptr<TSession> session;
    std::unique_ptr<TForm1> form;
    int paintedPasses = 0;  // the passes shown when the panel last painted

    explicit TReal(const std::string& dir, TRanking ranking = TRanking::Classic) {
        session = std::make_unique<TSession>(FileChoice(kb::KnowledgeBaseFile(dir)));
        session->SetRanking(ranking);  // before the window opens the file, as the program does
        form = std::make_unique<TForm1>(*session);
        // The window may paint while it is being destroyed, when form is already null.
        QObject::connect(form->Results, &vRenderPanel::OnPaint,
                         [this, window = form.get()] { paintedPasses = window->PassesShown(); });
        ShowAndExpose(*form);
        Settle();
    }
    ~TReal() {
        Settle();
        form->ProblemText->clear();
        form->SolutionText->clear();
        form.reset();
        session.reset();
    }
    // The knowledge base opened, the worker idle and every pass it handed over shown and painted.
    bool Settle() {
        return WaitFor([&] {
            return form->Session().Opened() && form->Session().TEST_Engine().Idle() &&
                   form->PassesShown() == form->Session().TEST_Engine().PassesRun() &&
                   paintedPasses == form->PassesShown();
        });
    }
    void SetProblem(const std::string& text) {
        form->ProblemText->setPlainText(ToEditorText(text));
        form->ProblemText->moveCursor(QTextCursor::End);
        Settle();
    }
    int PassesShown() const { return form->PassesShown(); }
    int Hits() const { return form->ScoredHits().Count(); }
    int Rows() const { return static_cast<int>(form->Session().TEST_Engine().LiveTexts()); }
    double IndexSearchMs() const {
        return static_cast<double>(form->Session().TEST_Engine().LastSearchMicros()) / 1e3;
    }
    QPlainTextEdit& Box() const { return *form->ProblemText; }
};

// The baseline window, shown.
struct TLiteral {
    std::unique_ptr<TLiteralWindow> window;
    int paintedPasses = 0;  // the passes shown when the panel last painted

    explicit TLiteral(const std::string& dir) {
        window = std::make_unique<TLiteralWindow>(kb::KnowledgeBaseFile(dir));
        QObject::connect(window->Results, &vRenderPanel::OnPaint,
                         [this, shown = window.get()] { paintedPasses = shown->PassesShown(); });
        ShowAndExpose(*window);
    }
    // A text set through the box runs one pass.
    void SetProblem(const std::string& text) {
        const int shown = PassesShown();
        window->ProblemText->setPlainText(ToEditorText(text));
        window->ProblemText->moveCursor(QTextCursor::End);
        WaitFor([&] { return PassesShown() > shown; });
        QCoreApplication::processEvents();
    }
    // Nothing that the baseline queues is left to show.
    bool Settle() { return true; }
    int PassesShown() const { return window->PassesShown(); }
    int Hits() const { return window->Hits(); }
    double IndexSearchMs() const { return 0; }
    QPlainTextEdit& Box() const { return *window->ProblemText; }
};

// One window of each kind at a time, kept from case to case while the size stays.
template <class W>
W& Open(std::unique_ptr<W>& held, size_t& heldEntries, size_t entries, const char* name) {
    if (!held || heldEntries != entries) {
        held.reset();
        held = std::make_unique<W>(Workspace().Copy(entries, name));
        heldEntries = entries;
    }
    return *held;
}
std::unique_ptr<TReal> gReal;
size_t gRealEntries = 0;
std::unique_ptr<TLiteral> gLiteral;
size_t gLiteralEntries = 0;

TReal& Real(size_t entries) {
    return Open(gReal, gRealEntries, entries, "real");
}
// The main window in Best match, the program's own default ranking.
struct TRealBest : TReal {
    explicit TRealBest(const std::string& dir) : TReal(dir, TRanking::BestMatch) {}
};
std::unique_ptr<TRealBest> gBest;
size_t gBestEntries = 0;
TRealBest& Best(size_t entries) {
    return Open(gBest, gBestEntries, entries, "best");
}
TLiteral& Literal(size_t entries) {
    return Open(gLiteral, gLiteralEntries, entries, "literal");
}
void CloseWindows() {
    gReal.reset();
    gBest.reset();
    gLiteral.reset();
}

// One keystroke after another at the end of the box: a blank, then its deletion, each a change
// whose query is the same problem.
template <class W>
void Keystrokes(benchmark::State& state, W& w) {
    if (gDialogs->errors) state.SkipWithError("the window reported an error");
    w.SetProblem(QueryText(static_cast<int>(state.range(1))));
    bool blank = false;
    const int passesBefore = w.PassesShown();
    double index = 0;
    std::vector<double> stalls;  // per keystroke, the window's longest event
    for (auto _ : state) {
        w.Box().moveCursor(QTextCursor::End);
        const int shown = w.PassesShown();
        gApp->Reset();
        const auto start = Clock::now();
        if (blank) {
            w.Box().textCursor().deletePreviousChar();
        } else {
            w.Box().insertPlainText(QStringLiteral(" "));
        }
        // A paint counts once the new pass is shown: the one the keystroke itself causes may
        // come first.
        const bool done = WaitFor([&] { return w.paintedPasses > shown; });
        state.SetIterationTime(Seconds(Clock::now() - start));
        if (!done) {
            state.SkipWithError("the pass was not shown");
            break;
        }
        stalls.push_back(gApp->LongestMs());
        index += w.IndexSearchMs();
        blank = !blank;
        w.Settle();
    }
    // The worst is the figure; how often a pass comes near it says whether it is the program or
    // a moment of the machine.
    std::sort(stalls.begin(), stalls.end());
    state.counters["ui_stall_ms"] = stalls.empty() ? 0 : stalls.back();
    state.counters["ui_stall_passes"] = static_cast<double>(stalls.size());
    state.counters["ui_stall_p99_ms"] = stalls.empty() ? 0 : stalls[stalls.size() * 99 / 100];
    state.counters["ui_stalls_over_4ms"] =
        static_cast<double>(stalls.end() - std::upper_bound(stalls.begin(), stalls.end(), 4.0));
    state.counters["index_ms"] =
        index / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["hits"] = w.Hits();
    state.counters["passes_each"] = static_cast<double>(w.PassesShown() - passesBefore) /
                                    static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["entries"] = static_cast<double>(state.range(0));
    state.SetLabel(QueryName(static_cast<int>(state.range(1))));
}

void BM_Keystroke(benchmark::State& state) {
    Keystrokes(state, Real(static_cast<size_t>(state.range(0))));
}
void BM_KeystrokeBaseline(benchmark::State& state) {
    Keystrokes(state, Literal(static_cast<size_t>(state.range(0))));
}
void BM_KeystrokeBest(benchmark::State& state) {
    Keystrokes(state, Best(static_cast<size_t>(state.range(0))));
}

// The handler's own time per change, then (as a counter) the whole keystroke's share of the
// user-interface thread, the editor's work included.
template <class W, class H>
void UiThread(benchmark::State& state, W& w, H handler) {
    const int q = static_cast<int>(state.range(0));
    w.SetProblem(QueryText(q));
    double processor = 0;
    for (auto _ : state) {
        const int shown = w.PassesShown();
        const double cpu = ThreadSeconds();
        const auto start = Clock::now();
        handler();
        state.SetIterationTime(Seconds(Clock::now() - start));
        processor += ThreadSeconds() - cpu;
        if (!WaitFor([&] { return w.PassesShown() > shown; })) {
            state.SkipWithError("the pass was not shown");
            break;
        }
        w.Settle();
    }
    double editor = 0;
    constexpr int kStrokes = 20;
    for (int i = 0; i < kStrokes; ++i) {
        w.Box().moveCursor(QTextCursor::End);
        const int shown = w.PassesShown();
        const auto start = Clock::now();
        if (i % 2) {
            w.Box().textCursor().deletePreviousChar();
        } else {
            w.Box().insertPlainText(QStringLiteral(" "));
        }
        editor += Seconds(Clock::now() - start);
        WaitFor([&] { return w.PassesShown() > shown; });
        w.Settle();
    }
    state.counters["with_editor_ms"] = editor / kStrokes * 1e3;
    // Of the handler's time, what the thread itself computed (the rest it waited for a core).
    state.counters["cpu_ms"] =
        processor / static_cast<double>(std::max<int64_t>(1, state.iterations())) * 1e3;
    state.SetLabel(QueryName(q));
}

void BM_UiThread(benchmark::State& state) {
    TReal& w = Real(kLarge);
    UiThread(state, w, [&] { w.form->ProblemTextChange(); });
}
void BM_UiThreadBaseline(benchmark::State& state) {
    TLiteral& w = Literal(kLarge);
    UiThread(state, w, [&] { w.window->ProblemTextChange(); });
}

// 0: the top of the list, 1: its middle, through the scroll bar as the user scrolls.
void ScrollTo(TReal& w, int where) {
    w.form->vs->setValue(where == 0 ? 0 : w.form->vs->maximum() / 2);
    QCoreApplication::processEvents();
}

void BM_Repaint(benchmark::State& state) {
    TReal& w = Real(kLarge);
    w.SetProblem(BroadQuery());
    ScrollTo(w, static_cast<int>(state.range(0)));
    const int height = w.form->Results->height();
    int y = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        w.form->Panel6MouseMove(30, y);
        state.SetIterationTime(Seconds(Clock::now() - start));
        y = (y + 7) % height;
    }
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    state.counters["hits"] = w.Hits();
    state.SetLabel(state.range(0) == 0 ? "top" : "middle");
}

// The literal drawing of every row of the same panel in the same state.
void BM_RepaintBaseline(benchmark::State& state) {
    TReal& w = Real(kLarge);
    w.SetProblem(BroadQuery());
    ScrollTo(w, static_cast<int>(state.range(0)));
    TReferenceState drawn;
    int y = 0;
    for (auto _ : state) {
        drawn.view = w.form->Results->ViewPoint();
        const auto start = Clock::now();
        ReferenceDraw(ReferenceInputOf(*w.form->Results, 30, y), drawn);
        state.SetIterationTime(Seconds(Clock::now() - start));
        y = (y + 7) % w.form->Results->height();
    }
    state.counters["hits"] = w.Hits();
    state.SetLabel(state.range(0) == 0 ? "top" : "middle");
}

// Entries to save, drawn like the stored ones.
std::pair<std::string, std::string> NextEntry() {
    static kbgen::TTextGenerator generator(kbgen::kDefaultSeed + 2);
    std::string problem = generator.StoredText();
    return {std::move(problem), generator.StoredText()};
}

void BM_Save(benchmark::State& state) {
    CloseWindows();
    TReal w(Workspace().Copy(kLarge, "save"));
    for (auto _ : state) {
        const auto [problem, solution] = NextEntry();
        w.form->SolutionText->setPlainText(ToEditorText(solution));
        w.SetProblem(problem);  // and the search it starts, done before the click
        const int rows = w.Rows();
        const auto start = Clock::now();
        w.form->Button1Click();
        WaitFor([&] { return !w.form->Saving(); });  // the save runs off the window's thread
        state.SetIterationTime(Seconds(Clock::now() - start));
        if (w.Rows() != rows + 2) {
            state.SkipWithError("the entry did not reach the loaded vectors");
            break;
        }
        w.Settle();
    }
}

void BM_SaveBaseline(benchmark::State& state) {
    CloseWindows();
    TLiteral w(Workspace().Copy(kLarge, "save-literal"));
    for (auto _ : state) {
        const auto [problem, solution] = NextEntry();
        const int rows = w.window->Rows();
        const auto start = Clock::now();
        w.window->Save(problem, solution);
        state.SetIterationTime(Seconds(Clock::now() - start));
        if (w.window->Rows() != rows + 2) {
            state.SkipWithError("the entry did not reach the loaded vectors");
            break;
        }
    }
}

// The user's ranking for the cases that take it as their second argument (0 Classic, 1 Best
// match), as the window and the processes it starts read it; the earlier choice comes back after.
class TRankingFor {
public:
    explicit TRankingFor(int64_t ranking) : fbefore(SavedRanking()) {
        SaveRanking(ranking ? TRanking::BestMatch : TRanking::Classic);
    }
    ~TRankingFor() {
        try {
            SaveRanking(fbefore);
        } catch (const std::exception&) {
            // Left as measured; the user's settings file cannot be written.
        }
    }
    TRankingFor(const TRankingFor&) = delete;
    TRankingFor& operator=(const TRankingFor&) = delete;

private:
    TRanking fbefore;
};

// Start-up in two figures: the main window's first paint (the window comes before the knowledge
// base is loaded), and the time until the first search can run (opened, every vector loaded).
// The splash's waits are off. Third argument, Best match: 1 when the file holds the index a
// closing program keeps (written by a session before the runs), 2 the same with an entry edited by
// another program before each run (read after the image), 0 when it does not (a first start after
// an upgrade, or after an earlier version's edit): it is dropped before each run.
// BM_Startup's cases: (ranking, index kept).
constexpr std::array<std::pair<int, int>, 4> kStartups = {{{0, 0}, {1, 0}, {1, 1}, {1, 2}}};

void BM_Startup(benchmark::State& state) {
    CloseWindows();
    const auto entries = static_cast<size_t>(state.range(0));
    const TRankingFor ranking(state.range(1));
    const bool kept = state.range(2) != 0, editedElsewhere = state.range(2) == 2;
    const std::string dir =
        entries ? Workspace().Copy(entries, "startup") : Workspace().Empty("startup-empty");
    const std::string file = kb::KnowledgeBaseFile(dir);
    double keepMs = 0;  // the session before the runs keeping the index as it closes
    if (kept) {
        auto session = std::make_unique<TSession>(FileChoice(file));
        session->SetRanking(SavedRanking());
        session->StartOpening();
        WaitFor([&] { return session->Opened(); });
        const auto start = Clock::now();
        session.reset();
        keepMs = Seconds(Clock::now() - start) * 1e3;
    }
    double firstPaint = 0, roomReady = 0;
    for (auto _ : state) {
        if (!kept) {
            TSQLiteDatabase DB(file);
            if (DB.TableExists("bestsaved")) DB.ExecSQL("delete from bestsaved");
        }
        if (editedElsewhere && entries) {
            TSQLiteStore elsewhere(file);
            elsewhere.Open();
            const std::string ID = TSQLiteDatabase(file).GetTableString(
                "select ID from vectors where rowid=(select min(rowid) from vectors)");
            elsewhere.ReplaceEntry(ID, "printer jams again", "open the tray", {}, nullptr);
        }
        const int errors = gDialogs->errors;
        const auto start = Clock::now();
        std::optional<Clock::time_point> painted;
        TSession session(FileChoice(file));
        session.SetRanking(SavedRanking());
        auto form = std::make_unique<TForm1>(session);
        QObject::connect(form->Results, &vRenderPanel::OnPaint, [&] {
            if (!painted) painted = Clock::now();
        });
        form->show();
        WaitFor([&] { return painted.has_value(); });
        WaitFor([&] { return form->Session().Opened(); });
        state.SetIterationTime(Seconds(Clock::now() - start));
        firstPaint += painted ? Seconds(*painted - start) : 0;
        // Searches can run from the opening on; the room of the first passes is made after it,
        // while nothing is typed.
        WaitFor([&] { return form->Session().TEST_Engine().Idle(); });
        roomReady += Seconds(Clock::now() - start);
        if (gDialogs->errors != errors ||
            form->Session().TEST_Engine().LiveTexts() != 2 * entries) {
            state.SkipWithError("the knowledge base did not load");
            break;
        }
    }
    const double runs = static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["first_paint_ms"] = firstPaint / runs * 1e3;
    state.counters["room_ready_ms"] = roomReady / runs * 1e3;
    if (kept) state.counters["keep_ms"] = keepMs;
}

void BM_StartupBaseline(benchmark::State& state) {
    CloseWindows();
    const std::string file = kb::KnowledgeBaseFile(Workspace().Copy(kLarge, "startup-literal"));
    for (auto _ : state) {
        const auto start = Clock::now();
        TSQLiteDatabase DB(file);
        const auto table = TLiteralWindow::StartUp(DB);
        state.SetIterationTime(Seconds(Clock::now() - start));
        benchmark::DoNotOptimize(table->Count());
    }
}

// --- Peak memory, measured in fresh processes of this program ---

long StatusKB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    }
    return -1;
}

// The child's side: opens the knowledge base in dir in a shown window, searches the commonest
// word once, and prints its peak resident memory.
int PeakMemoryChild(const std::string& mode, const std::string& dir) {
    const long before = StatusKB("VmHWM");
    int rows = 0, hits = 0;
    if (mode == "real") {
        TReal w(dir, SavedRanking());
        w.SetProblem(QueryText(kCommonWord));
        rows = w.Rows();
        hits = w.Hits();
    } else {
        TLiteral w(dir);
        w.SetProblem(QueryText(kCommonWord));
        rows = w.window->Rows();
        hits = w.Hits();
    }
    std::printf("before_kB=%ld peak_kB=%ld rows=%d hits=%d errors=%d\n", before, StatusKB("VmHWM"),
                rows, hits, gDialogs->errors);
    return 0;
}

struct TPeak {
    double beforeMB = 0, peakMB = 0;
    int rows = 0, hits = 0, errors = 1;
};

std::optional<TPeak> RunPeakChild(const std::string& mode, const std::string& dir) {
    const std::string command = "'" + fs::read_symlink("/proc/self/exe").string() +
                                "' --pelloquin_peak_memory=" + mode + " '" + dir + "'";
    FILE* child = popen(command.c_str(), "r");
    if (!child) return std::nullopt;
    long before = 0, peak = 0;
    TPeak result;
    const int got = std::fscanf(child, "before_kB=%ld peak_kB=%ld rows=%d hits=%d errors=%d",
                                &before, &peak, &result.rows, &result.hits, &result.errors);
    if (pclose(child) != 0 || got != 5) return std::nullopt;
    result.beforeMB = static_cast<double>(before) / 1024;
    result.peakMB = static_cast<double>(peak) / 1024;
    return result;
}

void BM_PeakMemory(benchmark::State& state) {
    CloseWindows();
    const auto entries = static_cast<size_t>(state.range(0));
    const TRankingFor ranking(state.range(1));
    const std::string dir = Workspace().Copy(entries, "memory");
    // The baseline holds every vector text twice over: past 100,000 entries it is left out.
    const bool withBaseline = entries <= kLarge;
    std::optional<TPeak> real, literal;
    for (auto _ : state) {
        const auto start = Clock::now();
        real = RunPeakChild("real", dir);
        if (withBaseline) literal = RunPeakChild("literal", dir);
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    if (!real || real->errors || (withBaseline && (!literal || literal->errors))) {
        state.SkipWithError("a measuring process failed");
        return;
    }
    state.counters["peak_MB"] = real->peakMB;
    state.counters["baseline_peak_MB"] = literal ? literal->peakMB : 0;
    state.counters["before_load_MB"] = real->beforeMB;
    state.counters["rows"] = real->rows;
    state.counters["hits"] = real->hits;
}

// --- Registration, in an order that keeps one window of each kind open per size ---

void RegisterAll() {
    for (const int64_t entries : {1000, 10000, 100000}) {
        for (int q = 0; q < 3; ++q) {
            benchmark::RegisterBenchmark("BM_Keystroke", BM_Keystroke)
                ->Args({entries, q})
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
            auto* baseline =
                benchmark::RegisterBenchmark("BM_KeystrokeBaseline", BM_KeystrokeBaseline)
                    ->Args({entries, q})
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            if (entries == 100000) baseline->Iterations(2);
            benchmark::RegisterBenchmark("BM_KeystrokeBest", BM_KeystrokeBest)
                ->Args({entries, q})
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (int q = 0; q < 3; ++q) {
        benchmark::RegisterBenchmark("BM_UiThread", BM_UiThread)
            ->Arg(q)
            ->UseManualTime()
            ->Iterations(50)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_UiThreadBaseline", BM_UiThreadBaseline)
            ->Arg(q)
            ->UseManualTime()
            ->Iterations(10)
            ->Unit(benchmark::kMicrosecond);
    }
    for (int where = 0; where < 2; ++where) {
        benchmark::RegisterBenchmark("BM_Repaint", BM_Repaint)
            ->Arg(where)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_RepaintBaseline", BM_RepaintBaseline)
            ->Arg(where)
            ->UseManualTime()
            ->Iterations(2)
            ->Unit(benchmark::kMillisecond);
    }
    for (const int64_t entries : {int64_t{0}, int64_t{100000}})
        for (const auto& [ranking, kept] : kStartups) {
            benchmark::RegisterBenchmark("BM_Startup", BM_Startup)
                ->Args({entries, ranking, kept})
                ->UseManualTime()
                ->Iterations(5)
                ->Unit(benchmark::kMillisecond);
        }
    benchmark::RegisterBenchmark("BM_StartupBaseline", BM_StartupBaseline)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Save", BM_Save)
        ->UseManualTime()
        ->Iterations(40)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SaveBaseline", BM_SaveBaseline)
        ->UseManualTime()
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond);
    for (const int64_t ranking : {0, 1}) {
        benchmark::RegisterBenchmark("BM_PeakMemory", BM_PeakMemory)
            ->Args({100000, ranking})
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    }
    if (!gMillion) return;
    // How the cost grows: a million entries (a 4 GB file; the baselines would take hours).
    for (int q = 0; q < 3; ++q) {
        benchmark::RegisterBenchmark("BM_Keystroke", BM_Keystroke)
            ->Args({1000000, q})
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_KeystrokeBest", BM_KeystrokeBest)
            ->Args({1000000, q})
            ->UseManualTime()
            ->Iterations(5)
            ->Unit(benchmark::kMillisecond);
    }
    for (const auto& [ranking, kept] : kStartups) {
        benchmark::RegisterBenchmark("BM_Startup", BM_Startup)
            ->Args({1000000, ranking, kept})
            ->UseManualTime()
            ->Iterations(2)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_PeakMemory", BM_PeakMemory)
            ->Args({1000000, ranking})
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kSecond);
    }
}

// --- The summary table ---

class TSummary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.run_name.function_name +
                                     (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            TFigure& f = ffigures[name];
            f.ms = Millis(run);
            for (const auto& [key, counter] : run.counters)
                f.counters[key] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Print() const {
        std::printf("\n| measure | Pelloquin | baseline | baseline / Pelloquin | target | met |\n");
        std::printf("|---|---:|---:|---:|---:|:---:|\n");
        const char* sizes[] = {"1,000", "10,000", "100,000", "1,000,000"};
        const int64_t entries[] = {1000, 10000, 100000, 1000000};
        for (int s = 0; s < 4; ++s) {
            for (int q = 0; q < 3; ++q) {
                const std::string args = "/" + std::to_string(entries[s]) + "/" + std::to_string(q);
                const TFigure* real = Find("BM_Keystroke" + args);
                if (!real) continue;
                char extra[160];
                std::snprintf(extra, sizeof extra,
                              " (%s hits; the index's own search %.2f ms; longest stall of the "
                              "window %.2f ms)",
                              Count(real, "hits").c_str(), real->counters.at("index_ms"),
                              real->counters.at("ui_stall_ms"));
                const std::string what = std::string("keystroke to hits, ") + sizes[s] +
                                         " entries, " + QueryName(q) + extra;
                const TFigure* baseline = Find("BM_KeystrokeBaseline" + args);
                if (s == 2) {
                    // At 100,000 entries the target is how much faster than the baseline.
                    RatioRow(what, real, baseline, 500.0, "ms");
                } else {
                    Row(what, real, baseline,
                        s == 0   ? std::optional<double>()
                        : s == 1 ? std::optional<double>(5)
                                 : std::optional<double>(100),
                        "ms");
                }
            }
        }
        // Best match beside Classic in the same run: at most as slow (Classic / Best match at
        // least 1).
        for (int s = 0; s < 4; ++s) {
            for (int q = 0; q < 3; ++q) {
                const std::string args = "/" + std::to_string(entries[s]) + "/" + std::to_string(q);
                const TFigure* best = Find("BM_KeystrokeBest" + args);
                if (!best) continue;
                char extra[160];
                std::snprintf(extra, sizeof extra,
                              " (%s entries listed; the index's own search %.2f ms; longest stall "
                              "of the window %.2f ms, %.0f passes over 4 ms)",
                              Count(best, "hits").c_str(), best->counters.at("index_ms"),
                              best->counters.at("ui_stall_ms"),
                              best->counters.at("ui_stalls_over_4ms"));
                RatioRow(std::string("Best match keystroke to entries, ") + sizes[s] +
                             " entries, " + QueryName(q) + extra + ", against Classic's",
                         best, Find("BM_Keystroke" + args), 1.0, "ms");
            }
        }
        for (int q = 0; q < 3; ++q) {
            const TFigure* real = Find("BM_Keystroke/100000/" + std::to_string(q));
            if (!real) continue;
            TFigure stall;
            stall.ms = real->counters.at("ui_stall_ms");
            char spread[120];
            std::snprintf(spread, sizeof spread,
                          " (worst of %.0f passes; 99th percentile %.2f ms; %.0f over 4 ms)",
                          real->counters.at("ui_stall_passes"),
                          real->counters.at("ui_stall_p99_ms"),
                          real->counters.at("ui_stalls_over_4ms"));
            Row(std::string("longest stall of the window in a pass, 100,000 entries, ") +
                    QueryName(q) + spread,
                &stall, nullptr, 4.0, "ms");
        }
        for (int q = 0; q < 3; ++q) {
            const std::string args = "/" + std::to_string(q);
            const TFigure* real = Find("BM_UiThread" + args);
            std::string what = std::string("user-interface thread per keystroke, ") + QueryName(q);
            if (real) {
                char editor[96];
                std::snprintf(editor, sizeof editor,
                              " (processor %.2f ms; with the editor's work %.2f ms)",
                              real->counters.at("cpu_ms"), real->counters.at("with_editor_ms"));
                what += editor;
            }
            Row(what, real, Find("BM_UiThreadBaseline" + args), 2.0, "ms");
        }
        Row("Save, 100,000 entries", Find("BM_Save"), Find("BM_SaveBaseline"), 20.0, "ms");
        for (const auto& [ranking, kept] : kStartups) {
        const std::string named =
            !ranking    ? " (Classic)"
            : kept == 2 ? " (Best match, its index kept in the file, an entry edited since)"
            : kept      ? " (Best match, its index kept in the file)"
                        : " (Best match, reading the terms rows)";
        const std::string arg = "/" + std::to_string(ranking) + "/" + std::to_string(kept);
        const TFigure* emptyStartup = Find("BM_Startup/0" + arg);
        for (const char* size : {"0", "100000", "1000000"}) {
            const TFigure* startup = Find(std::string("BM_Startup/") + size + arg);
            if (!startup) continue;
            TFigure paint, emptyPaint;
            paint.ms = startup->counters.at("first_paint_ms");
            if (emptyStartup) emptyPaint.ms = emptyStartup->counters.at("first_paint_ms");
            const std::string what =
                std::string("main window's first paint, ") + size + " entries" + named;
            if (std::string(size) == "0" || !emptyStartup) {
                Row(what, &paint, nullptr, std::nullopt, "ms");
            } else {
                // Within 1.3 times the first paint on an empty file: the "baseline" column.
                RatioRow(what + " (baseline: the empty file)", &paint, &emptyPaint, 1 / 1.3, "ms");
            }
            Row(std::string("start-up until the first search can run, ") + size + " entries" +
                    named,
                startup, std::string(size) == "100000" ? Find("BM_StartupBaseline") : nullptr,
                std::string(size) == "100000" ? std::optional<double>(1000) : std::nullopt, "ms");
        }
        }
        for (int where = 0; where < 2; ++where) {
            const std::string args = "/" + std::to_string(where);
            const TFigure* real = Find("BM_Repaint" + args);
            Row(std::string("repaint, ") + (real ? Count(real, "hits") : "?") + " hits, " +
                    (where == 0 ? "top" : "middle"),
                real, Find("BM_RepaintBaseline" + args), 4.0, "ms");
        }
        for (const int ranking : {0, 1})
        for (const char* size : {"100000", "1000000"}) {
            const TFigure* memory =
                Find(std::string("BM_PeakMemory/") + size + "/" + std::to_string(ranking));
            if (!memory) continue;
            TFigure real, literal;
            real.ms = memory->counters.at("peak_MB");
            literal.ms = memory->counters.at("baseline_peak_MB");
            Row(std::string("peak resident memory, ") + size + " entries" +
                    (ranking ? ", Best match" : ", Classic") + " (Qt alone: " + Count(memory, "before_load_MB") + " MB)",
                &real, literal.ms > 0 ? &literal : nullptr,
                std::string(size) == "100000" ? 220.0 : 2048.0, "MB");
        }
    }

private:
    struct TFigure {
        double ms = 0;
        std::map<std::string, double> counters;
    };

    static double Millis(const Run& run) {
        const double scale = run.time_unit == benchmark::kMillisecond   ? 1.0
                             : run.time_unit == benchmark::kMicrosecond ? 1e-3
                             : run.time_unit == benchmark::kSecond      ? 1e3
                                                                        : 1e-6;
        return run.GetAdjustedRealTime() * scale;
    }
    const TFigure* Find(const std::string& name) const {
        const auto it = ffigures.find(name);
        return it == ffigures.end() ? nullptr : &it->second;
    }
    static std::string Count(const TFigure* f, const std::string& counter) {
        const auto it = f->counters.find(counter);
        if (it == f->counters.end()) return "?";
        return std::to_string(static_cast<long long>(it->second + 0.5));
    }
    static std::string Figure(double value, const char* unit) {
        char text[64];
        std::snprintf(text, sizeof text,
                      value < 10    ? "%.2f %s"
                      : value < 100 ? "%.1f %s"
                                    : "%.0f %s",
                      value, unit);
        return text;
    }
    static void Row(const std::string& what, const TFigure* real, const TFigure* baseline,
                    std::optional<double> target, const char* unit) {
        if (!real) return;
        std::string ratio = "–", base = "–";
        if (baseline && baseline->ms > 0) {
            base = Figure(baseline->ms, unit);
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", baseline->ms / real->ms);
            ratio = text;
        }
        std::printf("| %s | %s | %s | %s | %s | %s |\n", what.c_str(),
                    Figure(real->ms, unit).c_str(), base.c_str(), ratio.c_str(),
                    target ? ("< " + Figure(*target, unit)).c_str() : "–",
                    target ? (real->ms < *target ? "yes" : "**no**") : "–");
    }

    // A row whose target is a least ratio of baseline to real.
    static void RatioRow(const std::string& what, const TFigure* real, const TFigure* baseline,
                         double minRatio, const char* unit) {
        if (!real) return;
        std::string ratio = "–", base = "–", met = "–";
        if (baseline && baseline->ms > 0) {
            base = Figure(baseline->ms, unit);
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", baseline->ms / real->ms);
            ratio = text;
            met = baseline->ms / real->ms >= minRatio ? "yes" : "**no**";
        }
        char target[32];
        std::snprintf(target, sizeof target, "ratio ≥ %.3g", minRatio);
        std::printf("| %s | %s | %s | %s | %s | %s |\n", what.c_str(),
                    Figure(real->ms, unit).c_str(), base.c_str(), ratio.c_str(), target,
                    met.c_str());
    }

    std::map<std::string, TFigure> ffigures;
};

void SetUpApplicationForBench() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setlocale(LC_ALL, "");
}

}  // namespace

int main(int argc, char** argv) {
    // This program's own flags go before Google Benchmark sees the rest.
    std::string peakMode, peakDir;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--pelloquin_data=", 0) == 0) {
            gDataDir = arg.substr(std::strlen("--pelloquin_data="));
        } else if (arg == "--pelloquin_million") {
            gMillion = true;
        } else if (arg.rfind("--pelloquin_peak_memory=", 0) == 0 && i + 1 < argc) {
            peakMode = arg.substr(std::strlen("--pelloquin_peak_memory="));
            peakDir = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restc = static_cast<int>(rest.size());
    rest.push_back(nullptr);

    SetUpApplicationForBench();
    static int qtArgc = 1;
    static char qtName[] = "search_bench";
    static char* qtArgv[] = {qtName, nullptr};
    TStallApplication app(qtArgc, qtArgv);
    gApp = &app;
    SetUpApplication();
    SetSplashWait(NoSplashWait);
    auto dialogs = std::make_unique<TBenchDialogs>();
    gDialogs = dialogs.get();
    SetDialogs(std::move(dialogs));
    // Wakes the waits now and then, so that a lost wake-up costs at most this long.
    QTimer tick;
    tick.start(50);

    int status = 0;
    if (!peakMode.empty()) {
        status = PeakMemoryChild(peakMode, peakDir);
    } else {
        benchmark::Initialize(&restc, rest.data());
        if (benchmark::ReportUnrecognizedArguments(restc, rest.data())) return 1;
        RegisterAll();
        TSummary summary;
        benchmark::RunSpecifiedBenchmarks(&summary);
        CloseWindows();
        summary.Print();
        benchmark::Shutdown();
    }
    SetDialogs(nullptr);
    return status;
}
