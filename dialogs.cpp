#include "dialogs.h"

namespace {
std::unique_ptr<TDialogs>& Current() {
    static std::unique_ptr<TDialogs> dialogs = std::make_unique<TDialogs>();
    return dialogs;
}
}  // namespace

QMessageBox::StandardButton TDialogs::Ask(QWidget* parent, const QString& title,
                                          const QString& text,
                                          QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Question, title, text, buttons, parent);
    if (buttons & QMessageBox::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    else if (buttons & QMessageBox::No)
        box.setEscapeButton(QMessageBox::No);
    const int answer = box.exec();
    if (!(buttons & QMessageBox::StandardButton(answer))) {
        return (buttons & QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::No;
    }
    return QMessageBox::StandardButton(answer);
}

void TDialogs::ShowError(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

TDialogs& Dialogs() {
    return *Current();
}

std::unique_ptr<TDialogs> SetDialogs(std::unique_ptr<TDialogs> dialogs) {
    auto previous = std::move(Current());
    Current() = dialogs ? std::move(dialogs) : std::make_unique<TDialogs>();
    return previous;
}
