// Endurance: one run of the program, through its window, saving ten thousand entries and
// deleting a thousand of them, with a search after every change of the problem text. At the end
// every entry is where it should be, nothing has leaked (LeakSanitizer, in the sanitizer build),
// and resident memory has grown no more than the data the program holds for the entries added.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <random>

#include "core/knowledgebase.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/viewform.h"
#include "ui/viewwindows.h"
#include "uitest.h"

#if defined(__SANITIZE_ADDRESS__)
#define PELLOQUIN_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELLOQUIN_LEAK_CHECK 1
#endif
#endif
#ifdef PELLOQUIN_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
// The bytes the program has allocated and not freed, without the quarantine.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
// Freed memory waits in AddressSanitizer's quarantine (256 MB by default) before it is reused;
// a small one keeps resident memory a measure of what the program holds.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif

namespace {

// VmRSS of this process, in bytes.
long ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) * 1024;
    }
    return -1;
}

// What the heap holds, where the sanitizer can tell; -1 elsewhere.
long HeapBytes() {
#ifdef PELLOQUIN_LEAK_CHECK
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    return -1;
#endif
}

long FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<long>(in.tellg());
}

// The run: saves, deletes, and the save after which memory is first measured (by then SQLite's
// page cache, the allocator's pools and the sanitizer's quarantine have filled).
struct TCounts {
    int saves, deletes, warmup;
};
constexpr TCounts kCounts{10000, 1000, 2000};

// Texts of words drawn from a large vocabulary, so that an entry's own problem text finds it
// and only a few others.
class TTexts {
public:
    std::string Next(int words) {
        std::string text;
        for (int i = 0; i < words; ++i) {
            if (i > 0) text += i % 9 == 0 ? "\r\n" : " ";
            text += Word(std::uniform_int_distribution<int>(0, 4999)(frandom));
        }
        return text;
    }

private:
    static std::string Word(int n) {
        std::string word = "w";
        for (; n > 0; n /= 26)
            word += static_cast<char>('a' + n % 26);
        return word + "x";
    }
    std::mt19937 frandom{20240501};
};

class EnduranceTest : public MainWindowTest {
protected:
    void Type(const std::string& text) {
        form->ProblemText->setPlainText(QString::fromLatin1(text));
        WaitForSearches();
    }
    bool Listed(const std::string& ID) const {
        for (int p = 0; p < form->ScoredHits().Count(); ++p) {
            if (form->ScoredHits().Items(p)->data->ID == ID) return true;
        }
        return false;
    }
    // Deletes through the view window, as the user does: search, click the entry's hit, Delete.
    void DeleteThroughTheWindow(const std::string& ID, const std::string& problem) {
        Type(problem);
        vRenderPanel& panel = *form->Results;
        for (int y = 0; y < panel.height(); ++y) {
            panel.Hover(10, y);
            panel.repaint();
            const TcvResults* hit = panel.Hover(10, y);
            if (hit && hit->ID == ID) {
                QTest::mouseClick(&panel, Qt::LeftButton, Qt::NoModifier, QPoint(10, y + 2));
                WaitForWrites();
                break;
            }
        }
        ASSERT_EQ(form->ViewWindows().Count(), 1);
        TShowItem* window = form->ViewWindows().Find(ID);
        ASSERT_NE(window, nullptr);
        dialogs->answers = {QMessageBox::Yes};
        window->Button1->click();
        WaitForWrites();
        ASSERT_EQ(form->ViewWindows().Count(), 0);
    }
};

TEST_F(EnduranceTest, ThousandsOfSavesAndDeletesLeakNothingAndGrowOnlyWithTheData) {
    TForm1& f = Open();
    f.show();
    TTexts texts;
    std::mt19937 random(7);
    struct TEntry {
        std::string ID, problem;
    };
    std::vector<TEntry> live, gone;
    long rssAtWarmup = 0, fileAtWarmup = 0;
    [[maybe_unused]] long heapAtWarmup = 0;
    const int deleteEvery = kCounts.saves / kCounts.deletes;

    for (int i = 1; i <= kCounts.saves; ++i) {
        const std::string problem = texts.Next(std::uniform_int_distribution<int>(3, 30)(random));
        const std::string solution = texts.Next(std::uniform_int_distribution<int>(3, 60)(random));
        Type(problem);  // searched, as typing does
        f.SolutionText->setPlainText(QString::fromLatin1(solution));
        f.Button1->click();
        WaitForWrites(f.Session());
        ASSERT_EQ(dialogs->Errors(), 0) << "save " << i;
        live.push_back({LastSavedID(), problem});

        if (i % deleteEvery == 0) {
            const size_t pick = std::uniform_int_distribution<size_t>(0, live.size() - 1)(random);
            const TEntry entry = live[pick];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
            gone.push_back(entry);
            if (i % (deleteEvery * 100) == 0) {
                DeleteThroughTheWindow(entry.ID, entry.problem);
            } else {
                DeleteNow(f.Session(), entry.ID);
                f.Requery();
            }
            ASSERT_EQ(dialogs->Errors(), 0) << "delete after save " << i;
        }
        if (i == kCounts.warmup) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            rssAtWarmup = ResidentBytes();
            heapAtWarmup = HeapBytes();
            fileAtWarmup = FileBytes(dir.File("pelloquin.dat"));
        }
    }
    WaitForSearches();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const long rssGrowth = ResidentBytes() - rssAtWarmup;
    const long dataGrowth = FileBytes(dir.File("pelloquin.dat")) - fileAtWarmup;
    RecordProperty("saves", kCounts.saves);
    RecordProperty("deletes", static_cast<int>(gone.size()));
    RecordProperty("rss_growth_kib", static_cast<int>(rssGrowth / 1024));
    RecordProperty("file_growth_kib", static_cast<int>(dataGrowth / 1024));
    // The file holds the texts, the vectors and SQLite's indexes of both; the program holds the
    // vectors, the hits' titles and excerpts and the index of terms. A leak of even a few hundred
    // bytes an operation, or a copy kept per reload, would pass this bound many times over.
#ifdef PELLOQUIN_LEAK_CHECK
    // The sanitizer's allocator keeps the freed chunks of every size it has served mapped, so
    // there the resident size also follows the mix of sizes (Qt's temporary images among them);
    // the heap bound below is the exact one.
    constexpr long kResidentSlack = 32L << 20;
#else
    constexpr long kResidentSlack = 16L << 20;
#endif
    EXPECT_LT(rssGrowth, 3 * dataGrowth + kResidentSlack)
        << "resident memory grew by " << rssGrowth << " bytes for " << dataGrowth
        << " bytes of data";
#ifdef PELLOQUIN_LEAK_CHECK
    // Under the sanitizer the quarantine hides part of the growth from the resident size; the
    // heap itself shows all of it.
    const long heapGrowth = HeapBytes() - heapAtWarmup;
    RecordProperty("heap_growth_kib", static_cast<int>(heapGrowth / 1024));
    EXPECT_LT(heapGrowth, 3 * dataGrowth + (4L << 20))
        << "the heap grew by " << heapGrowth << " bytes for " << dataGrowth << " bytes of data";
#endif

    // Everything is where it should be.
    EXPECT_EQ(static_cast<int>(gone.size()), kCounts.deletes);
    EXPECT_EQ(FileDB().GetTableString("select count(*) from textdata"),
              std::to_string(2 * live.size()));
    EXPECT_EQ(FileDB().GetTableString("select count(*) from vectors"),
              std::to_string(2 * live.size()));
    EXPECT_EQ(static_cast<int>(f.Session().TEST_Engine().LiveTexts()),
              static_cast<int>(2 * live.size()));
    for (int k = 0; k < 20; ++k) {
        const TEntry& kept =
            live[std::uniform_int_distribution<size_t>(0, live.size() - 1)(random)];
        Type(kept.problem);
        EXPECT_TRUE(Listed(kept.ID));
        const TEntry& deleted =
            gone[std::uniform_int_distribution<size_t>(0, gone.size() - 1)(random)];
        Type(deleted.problem);
        EXPECT_FALSE(Listed(deleted.ID));
    }

#ifdef PELLOQUIN_LEAK_CHECK
    form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (above)";
#endif
}

}  // namespace
