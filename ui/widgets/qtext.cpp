#include "ui/widgets/qtext.h"

#include <QByteArray>

#include "core/storedtext.h"

namespace {

QString FromUtf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

}  // namespace

QString ToQString(std::string_view bytes) {
    return FromUtf8(Utf8FromStored(bytes));
}

std::string FromQString(const QString& text) {
    return StoredFromUtf8(View(text.toUtf8()));
}

// Line breaks are ASCII in both stored forms, so they are converted in the UTF-8 text.
std::string FromEditorText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::string crlf;
    crlf.reserve(static_cast<size_t>(utf8.size()) + static_cast<size_t>(utf8.size()) / 16);
    for (char c : View(utf8)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return StoredFromUtf8(crlf);
}

QString ToEditorText(std::string_view bytes) {
    const std::string utf8 = Utf8FromStored(bytes);
    std::string plain;
    plain.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            plain += '\n';
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
        } else {
            plain += utf8[i];
        }
    }
    return FromUtf8(plain);
}

bool IsBlankText(std::string_view bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) > 32) return false;
    }
    return true;
}
