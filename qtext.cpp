#include "qtext.h"

#include <array>
#include <unordered_map>

namespace {

// Bytes 0x80-0x9F of Windows-1252; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t CharOf(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : char16_t{byte};
}

const std::unordered_map<char16_t, char>& ByteOfHigh() {
    static const auto* table = [] {
        auto* t = new std::unordered_map<char16_t, char>();
        for (int i = 0; i < 32; ++i)
            (*t)[kHigh[i]] = static_cast<char>(0x80 + i);
        return t;
    }();
    return *table;
}

char ByteOf(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    const auto& high = ByteOfHigh();
    const auto found = high.find(c);
    return found != high.end() ? found->second : '?';
}

}  // namespace

QString ToQString(std::string_view bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = QChar(CharOf(static_cast<unsigned char>(bytes[i])));
    return text;
}

std::string FromQString(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;  // one character outside the code page, not two
            bytes += '?';
            continue;
        }
        bytes += ByteOf(c.unicode());
    }
    return bytes;
}

std::string FromEditorText(const QString& text) {
    std::string bytes = FromQString(text);
    std::string stored;
    stored.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n') stored += '\r';
        stored += c;
    }
    return stored;
}

QString ToEditorText(std::string_view bytes) {
    std::string plain;
    plain.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            plain += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            plain += bytes[i];
        }
    }
    return ToQString(plain);
}
