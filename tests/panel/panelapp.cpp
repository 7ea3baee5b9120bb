// Fonts and platform for the panel's tests, and hits made up for them.
#include "tests/panel/panelapp.h"

#include <QFontDatabase>
#include <algorithm>
#include <random>

void PreparePanelPlatform() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

void LoadPanelFonts() {
    QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahoma.ttf");
    QFontDatabase::addApplicationFont("/usr/share/wine/fonts/tahomabd.ttf");
}

QFont PanelFont(double points) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(points);
    return font;
}

std::string_view THitSet::Keep(std::string_view text) {
    constexpr std::size_t kChunk = 1 << 20;
    if (chunks.empty() || used + text.size() > kChunk) {
        chunks.push_back(std::make_unique<char[]>(std::max(kChunk, text.size())));
        used = 0;
    }
    char* place = chunks.back().get() + used;
    std::copy(text.begin(), text.end(), place);
    used += text.size();
    return std::string_view(place, text.size());
}

TcvResults* THitSet::Add(float score, std::string_view title, std::string_view excerpt) {
    TcvResults& hit = hits.emplace_back();
    hit.Proximity = score;
    hit.ID = Keep("0123456789abcdef0123456789abcdef");
    hit.Title = Keep(title);
    hit.excerpt = Keep(excerpt);
    tree.insert(score, &hit);
    return &hit;
}

void AddVariedHits(THitSet& hits, int count, unsigned seed) {
    static const char* const kWords[] = {"printer",        "jam",     "W",       "fix",
                                         "\x93quoted\x94", "caf\xe9", "\x80uro", "r\xe9sum\xe9",
                                         "line\r\nbreak",  "iiii",    "MMMM",    "offline",
                                         "driver",         "reboot",  "ffi"};
    std::mt19937 random(seed);
    const auto text = [&](std::size_t words) {
        std::string s;
        for (std::size_t i = 0; i < words; ++i) {
            if (i) s += ' ';
            s += kWords[random() % std::size(kWords)];
        }
        return s;
    };
    for (int i = 0; i < count; ++i) {
        // A few dozen distinct scores, so that equal scores are common.
        const float score = 0.25f + static_cast<float>(random() % 60) / 80.0f;
        std::string title = text(1 + random() % 6).substr(0, 40) + "...";
        std::string excerpt =
            random() % 5 == 0 ? std::string() : text(random() % 14).substr(0, 100);
        // Tabs are rare in real texts; they take the slow, measured path.
        if (random() % 50 == 0) excerpt.insert(excerpt.size() / 2, "\t");
        if (random() % 50 == 0) title.insert(title.size() / 3, "\t");
        hits.Add(score, title, excerpt);
    }
}
