// Repainting the results panel with 200,000 hits, as a mouse move over it does, scrolled to the
// top and to the middle of the list; the first repaint after a new pass; the hit test of a click;
// and the scroll width after a new pass (which measures the pass's widest texts, once). Each case
// runs beside the literal drawing of every row in the same state, measured in the same run, and
// reports full_redraw_ms and speedup = full redraw / case.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWindow>
#include <chrono>

#include "tests/textsearch/renderpanel/panelapp.h"
#include "tests/textsearch/renderpanel/referencedraw.h"
#include "textsearch/renderpanel/vrenderpanel.h"

namespace {

constexpr int kHits = 200000;

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct TBench {
    THitSet hits;
    std::unique_ptr<vRenderPanel> panel;

    TBench() {
        AddVariedHits(hits, kHits, 1);
        panel = std::make_unique<vRenderPanel>();
        panel->setFont(PanelFont(10));
        panel->resize(420, 560);
        panel->SetScorePosition(false);
        panel->SetStorage(&hits.tree);
        panel->show();
        for (int i = 0; i < 1000 && !panel->windowHandle()->isExposed(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        panel->repaint();
    }

    // The literal drawing of every row in the panel's present state.
    double FullRedrawMs(int hoverx, int hovery) {
        TReferenceState state;
        state.view = panel->ViewPoint();
        const auto start = Clock::now();
        ReferenceDraw(ReferenceInputOf(*panel, hoverx, hovery), state);
        return Milliseconds(Clock::now() - start);
    }
};

TBench& Bench() {
    static TBench bench;
    return bench;
}

// 0: top of the list, 1: its middle.
int ViewY(int where) {
    return where == 0 ? 0 : Bench().panel->ScrollHeight() / 2;
}

void BM_MouseMoveRepaint(benchmark::State& state) {
    TBench& bench = Bench();
    bench.panel->Scroll(0, 0);
    bench.panel->repaint();
    bench.panel->Scroll(0, ViewY(static_cast<int>(state.range(0))));
    bench.panel->repaint();
    const double full = bench.FullRedrawMs(30, 100);
    int y = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        // Sweeps the pointer down the panel as a mouse move does.
        bench.panel->Hover(30, y);
        bench.panel->repaint();
        y = (y + 7) % bench.panel->height();
    }
    const double each =
        Milliseconds(Clock::now() - start) / static_cast<double>(state.iterations());
    state.counters["full_redraw_ms"] = full;
    state.counters["repaint_ms"] = each;
    state.counters["speedup"] = full / each;
}
BENCHMARK(BM_MouseMoveRepaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_NewPassFirstRepaint(benchmark::State& state) {
    TBench& bench = Bench();
    bench.panel->Scroll(0, 0);
    const double full = bench.FullRedrawMs(0, 0);
    const auto start = Clock::now();
    for (auto _ : state) {
        bench.panel->StorageChanged();
        bench.panel->Hover(0, 0);
        bench.panel->repaint();
    }
    const double each =
        Milliseconds(Clock::now() - start) / static_cast<double>(state.iterations());
    state.counters["full_redraw_ms"] = full;
    state.counters["repaint_ms"] = each;
    state.counters["speedup"] = full / each;
}
BENCHMARK(BM_NewPassFirstRepaint)->Unit(benchmark::kMillisecond);

void BM_ClickHitTest(benchmark::State& state) {
    TBench& bench = Bench();
    bench.panel->Scroll(0, ViewY(1));
    const double full = bench.FullRedrawMs(30, 100);
    int y = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.panel->HitAt(QPoint(30, y)));
        y = (y + 7) % bench.panel->height();
    }
    const double each =
        Milliseconds(Clock::now() - start) / static_cast<double>(state.iterations());
    state.counters["full_redraw_ms"] = full;
    state.counters["hittest_ms"] = each;
    state.counters["speedup"] = full / each;
}
BENCHMARK(BM_ClickHitTest)->Unit(benchmark::kMicrosecond);

void BM_NewPassScrollWidth(benchmark::State& state) {
    TBench& bench = Bench();
    bench.panel->Scroll(0, 0);
    const double full = bench.FullRedrawMs(0, 0);
    const auto start = Clock::now();
    for (auto _ : state) {
        bench.panel->StorageChanged();
        benchmark::DoNotOptimize(bench.panel->ScrollWidth());
    }
    const double each =
        Milliseconds(Clock::now() - start) / static_cast<double>(state.iterations());
    state.counters["full_redraw_ms"] = full;
    state.counters["scrollwidth_ms"] = each;
    state.counters["speedup"] = full / each;
}
BENCHMARK(BM_NewPassScrollWidth)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    PreparePanelPlatform();
    QApplication app(argc, argv);
    LoadPanelFonts();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench().panel.reset();
    return 0;
}
