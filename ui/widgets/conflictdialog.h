// The edit conflict: the entry was changed elsewhere after the window showed it. The dialog
// shows the version stored now beside the one typed, read-only, and asks which to keep. Esc and
// the title bar's close decide nothing (Cancel): the texts typed stay in the window.
// User-interface thread only.
#pragma once

#include <QDialog>

#include "ui/widgets/dialogs.h"

class QPlainTextEdit;
class QPushButton;

class TConflictDialog : public QDialog {
    Q_OBJECT

public:
    TConflictDialog(const TConflictTexts& theirs, const TConflictTexts& yours,
                    QWidget* parent = nullptr);

    TConflictChoice Choice() const { return fchoice; }

    QPlainTextEdit* TheirProblem = nullptr;
    QPlainTextEdit* TheirSolution = nullptr;
    QPlainTextEdit* YourProblem = nullptr;
    QPlainTextEdit* YourSolution = nullptr;
    QPushButton* KeepTheirs = nullptr;
    QPushButton* SaveMine = nullptr;
    QPushButton* SaveAsNew = nullptr;
    QPushButton* CancelButton = nullptr;

private:
    TConflictChoice fchoice = TConflictChoice::Cancel;
};
