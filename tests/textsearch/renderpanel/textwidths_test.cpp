// Text widths from the advance tables against QFontMetrics laying the whole text out, for texts
// of the tables' repertoire (which must take the fast path) and for everything else a hit's
// UTF-8 text can hold: other scripts, emoji, tabs and bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <random>
#include <string>
#include <vector>

#include "tests/textsearch/renderpanel/panelapp.h"
#include "textsearch/renderpanel/textwidths.h"

namespace {

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// Every code point the tables hold: one per Windows-1252 byte.
std::vector<char32_t> Repertoire() {
    std::vector<char32_t> codepoints;
    for (char32_t c = 0; c < 0x10000; ++c)
        if (renderpanel::TTextWidths::Slot(c) >= 0) codepoints.push_back(c);
    return codepoints;
}

TEST(TextWidths, TheTablesHoldEachWindows1252CharacterOnce) {
    const std::vector<char32_t> repertoire = Repertoire();
    ASSERT_EQ(repertoire.size(), 256u);
    std::vector<bool> seen(256);
    for (const char32_t c : repertoire) {
        const int slot = renderpanel::TTextWidths::Slot(c);
        ASSERT_FALSE(seen[static_cast<std::size_t>(slot)]) << slot;
        seen[static_cast<std::size_t>(slot)] = true;
    }
    EXPECT_EQ(renderpanel::TTextWidths::Slot(U'\u20AC'), 0x80);
    EXPECT_EQ(renderpanel::TTextWidths::Slot(U'\u2122'), 0x99);
    EXPECT_EQ(renderpanel::TTextWidths::Slot(U'\u0081'), 0x81);  // undefined bytes: C1 controls
    EXPECT_EQ(renderpanel::TTextWidths::Slot(U'\u0080'), -1);
    EXPECT_EQ(renderpanel::TTextWidths::Slot(U'\u0142'), -1);  // Polish l with stroke
}

TEST(TextWidths, EqualFontMetricsForEveryCharacterAndMixedTexts) {
    const QImage device(1, 1, QImage::Format_RGB888);
    const std::vector<char32_t> repertoire = Repertoire();
    // Pieces of text the tables cannot sum: other scripts (some shaped, some from fallback
    // fonts), emoji with joiners and selectors, a combining accent, C1 codes outside the code
    // page, and byte runs that are not UTF-8 (stray continuation, overlong forms, a surrogate, a
    // cut sequence).
    const std::vector<std::string> foreign = {
        Utf8(QStringLiteral(u"\u0142\u0105\u017c")),
        Utf8(QStringLiteral(u"\u03b1\u03b2\u03b3")),
        Utf8(QStringLiteral(u"\u0436\u0443\u043a")),
        Utf8(QStringLiteral(u"\u6253\u5370")),
        Utf8(QStringLiteral(u"\u0627\u0644\u0639\u0631\u0628\u064a\u0629")),
        Utf8(QStringLiteral(u"\u05e9\u05dc\u05d5\u05dd")),
        Utf8(QString::fromUcs4(U"\U0001F468\u200D\U0001F4BB\U0001F5A8\uFE0F")),
        Utf8(QStringLiteral(u"e\u0301")),
        Utf8(QStringLiteral(u"\u0080\u0085")),
        "\x80",
        "\xC0\xAF",
        "\xE0\x86\x92",
        "\xED\xA0\x80",
        "\xE2\x82",
        "\xF8\x88\x80\x80\x80"};
    std::mt19937 random(7);
    for (const double points : {8.0, 10.0, 11.0, 15.0}) {
        for (int style = 0; style < 4; ++style) {
            QFont font = renderpanel::CanvasFont(PanelFont(points));
            font.setBold(style & 1);
            font.setItalic(style & 2);
            const renderpanel::TTextWidths widths(font, &device);
            const QFontMetrics metrics(font, &device);
            // The fast path must be the one taken for the program's font.
            ASSERT_TRUE(widths.Additive()) << points << " " << style;
            for (const char32_t c : repertoire) {
                const QString character = QString::fromUcs4(&c, 1);
                ASSERT_EQ(widths.Width(Utf8(character)), metrics.horizontalAdvance(character))
                    << "code point " << static_cast<unsigned>(c);
            }
            for (int n = 0; n < 400; ++n) {
                std::string text;
                bool summable = true;
                bool tabsonly = true;  // nothing but tabs keeps it from being summed
                const std::size_t length = random() % 120;
                for (std::size_t i = 0; i < length; ++i) {
                    const unsigned pick = random() % 40;
                    if (pick == 0) {
                        text += '\t';
                        summable = false;
                    } else if (pick == 1 && n % 2) {
                        text += foreign[random() % foreign.size()];
                        summable = false;
                        tabsonly = false;
                    } else {
                        const char32_t c = repertoire[random() % repertoire.size()];
                        text += Utf8(QString::fromUcs4(&c, 1));
                        summable &= c != U'\t';
                    }
                }
                const int exact = metrics.horizontalAdvance(renderpanel::FromUtf8(text));
                ASSERT_EQ(widths.Width(text), exact) << text;
                std::int64_t bound;
                const std::int64_t sum = widths.Advance64(text, &bound);
                // Texts of the repertoire are summed, not laid out.
                ASSERT_EQ(sum >= 0, summable) << text;
                // Texts the tables cannot sum for their tabs alone still get a bound that holds.
                if (sum < 0 && tabsonly) {
                    ASSERT_GE(bound, 0) << text;
                    ASSERT_GE(renderpanel::TTextWidths::Round64(bound), exact) << text;
                }
            }
        }
    }
}

}  // namespace
