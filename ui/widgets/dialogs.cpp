#include "ui/widgets/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>

#include "ui/widgets/conflictdialog.h"

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

void TDialogs::ShowInformation(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

QString TDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& suggested,
                               const QString& filters, QString* chosenFilter) {
    return QFileDialog::getSaveFileName(parent, title, suggested, filters, chosenFilter);
}

QString TDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& filters) {
    return QFileDialog::getOpenFileName(parent, title, QDir::homePath(), filters);
}

std::optional<QString> TDialogs::AskText(QWidget* parent, const QString& title,
                                         const QString& label, const QString& text) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
    if (!ok) return std::nullopt;
    return answer;
}

TConflictChoice TDialogs::ResolveConflict(QWidget* parent, const TConflictTexts& theirs,
                                          const TConflictTexts& yours) {
    TConflictDialog dialog(theirs, yours, parent);
    dialog.exec();
    return dialog.Choice();
}

TDialogs& Dialogs() {
    return *Current();
}

std::unique_ptr<TDialogs> SetDialogs(std::unique_ptr<TDialogs> dialogs) {
    auto previous = std::move(Current());
    Current() = dialogs ? std::move(dialogs) : std::make_unique<TDialogs>();
    return previous;
}
