// The standard message boxes the program asks and tells through. Everything modal goes through
// one replaceable object, so that tests script the answers instead of blocking on a dialog.
// User-interface thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <memory>
#include <optional>

class QWidget;

// What the user chose when an edit met another version saved meanwhile.
enum class TConflictChoice {
    Cancel,      // decide later: still editing, the texts as typed
    KeepTheirs,  // the other version stays; this edit is dropped
    SaveMine,    // this edit replaces the other version (which the history keeps)
    SaveAsNew,   // this edit becomes a new entry; the other version stays
};

// The two texts of one version, as a text box shows them.
struct TConflictTexts {
    QString problem;
    QString solution;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // A question box with the given buttons; returns the button chosen (Cancel / No when the box
    // is closed without a choice, whichever of them it offers).
    virtual QMessageBox::StandardButton Ask(QWidget* parent, const QString& title,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons);
    // An error box with one OK button.
    virtual void ShowError(QWidget* parent, const QString& title, const QString& text);
    // A message box with one OK button, for news that is not an error.
    virtual void ShowInformation(QWidget* parent, const QString& title, const QString& text);
    // The desktop's file dialogs: the file chosen, empty when the user cancelled. filters as
    // QFileDialog takes them; chosenFilter, when given, gets the filter the user picked.
    virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& suggested,
                                 const QString& filters, QString* chosenFilter);
    virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filters);
    // One line of text; nothing when the user cancelled.
    virtual std::optional<QString> AskText(QWidget* parent, const QString& title,
                                           const QString& label, const QString& text);
    // An edit conflict (conflictdialog.h): the other version beside the user's, and the choice.
    virtual TConflictChoice ResolveConflict(QWidget* parent, const TConflictTexts& theirs,
                                            const TConflictTexts& yours);
};

// The dialogs in use. Never null.
TDialogs& Dialogs();
// Replaces the dialogs in use (tests); returns the previous ones. nullptr restores the standard
// message boxes.
std::unique_ptr<TDialogs> SetDialogs(std::unique_ptr<TDialogs> dialogs);
