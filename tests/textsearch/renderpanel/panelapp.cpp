// Fonts and platform for the panel's tests, and hits made up for them.
#include "tests/textsearch/renderpanel/panelapp.h"

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

void AddVariedHits(THitSet& hits, int count, unsigned seed, bool otherscripts) {
    static const char* const kWords[] = {"printer",
                                         "jam",
                                         "W",
                                         "fix",
                                         "\u201cquoted\u201d",
                                         "caf\u00e9",
                                         "\u20acuro",
                                         "r\u00e9sum\u00e9",
                                         "line\r\nbreak",
                                         "iiii",
                                         "MMMM",
                                         "offline",
                                         "driver",
                                         "reboot",
                                         "ffi",
                                         "\u0178\u00e6\u00f0\u2122"};
    static const char* const kOtherScripts[] = {
        "za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105 ja\u017a\u0144",  // Polish
        "\u03b5\u03ba\u03c4\u03c5\u03c0\u03c9\u03c4\u03ae\u03c2",          // Greek
        "\u043f\u0440\u0438\u043d\u0442\u0435\u0440",                      // Cyrillic
        "\u6253\u5370\u673a\u5361\u7eb8",                                  // Chinese
        "\u30d7\u30ea\u30f3\u30bf\u30fc",                                  // Japanese
        "\U0001F5A8\uFE0F\U0001F525",                                      // emoji
        "\U0001F468\u200D\U0001F4BB"};  // a joined emoji sequence
    std::mt19937 random(seed);
    const auto word = [&]() -> const char* {
        if (otherscripts && random() % 3 == 0)
            return kOtherScripts[random() % std::size(kOtherScripts)];
        return kWords[random() % std::size(kWords)];
    };
    // The first `characters` characters of s (whole UTF-8 sequences), as the search cuts texts.
    const auto cut = [](const std::string& s, std::size_t characters) {
        std::size_t end = 0;
        for (std::size_t seen = 0; end < s.size(); ++end) {
            if ((static_cast<unsigned char>(s[end]) & 0xC0) != 0x80 && seen++ == characters) break;
        }
        return s.substr(0, end);
    };
    const auto text = [&](std::size_t words) {
        std::string s;
        for (std::size_t i = 0; i < words; ++i) {
            if (i) s += ' ';
            s += word();
        }
        return s;
    };
    for (int i = 0; i < count; ++i) {
        // A few dozen distinct scores, so that equal scores are common.
        const float score = 0.25f + static_cast<float>(random() % 60) / 80.0f;
        std::string title = cut(text(1 + random() % 6), 40) + "...";
        std::string excerpt = random() % 5 == 0 ? std::string() : cut(text(random() % 14), 100);
        // Tabs are rare in real texts; they take the slow, measured path.
        if (random() % 50 == 0) excerpt.insert(excerpt.size() / 2, "\t");
        if (random() % 50 == 0) title.insert(title.size() / 3, "\t");
        hits.Add(score, title, excerpt);
    }
}
