// The help window: the three steps of using the program, each a heading, a picture of the part
// of the main window it is about, and a short text, stacked in one column that scrolls
// vertically. The pictures are taken from the three widgets it is given (the main window's problem
// box, solution box and results list) whenever it is shown, so they always show the program as
// the user has it.
//
// Ownership: one help window for the whole program, reached through HelpForm. The program makes
// it at start. Closing it from its frame only hides it. It owns its children, not the pictured
// widgets.
//
// Threads: user-interface thread only.
#pragma once

#include <QPointer>
#include <QScrollArea>

class QLabel;
class TPanel;

class THelpForm : public QScrollArea {
    Q_OBJECT

public:
    // parent: an owner only; the help window is always a window of its own.
    explicit THelpForm(QWidget* parent = nullptr);
    ~THelpForm() override;
    THelpForm(const THelpForm&) = delete;
    THelpForm& operator=(const THelpForm&) = delete;

    // --- Components of the layout, in the column's order ---
    QWidget* Column = nullptr;  // 542 wide; scrolls
    QLabel* theproblem = nullptr;
    TPanel* Panel1 = nullptr;
    QLabel* Image1 = nullptr;  // the problem box
    QLabel* StaticText1 = nullptr;
    QLabel* AnyLanguage = nullptr;  // under the picture: texts may be in any language
    QLabel* thesolution = nullptr;
    TPanel* Panel2 = nullptr;
    QLabel* Image2 = nullptr;  // the solution box
    QLabel* StaticText2 = nullptr;
    QLabel* thesuggestionlabel = nullptr;
    TPanel* thesuggestion = nullptr;
    QLabel* Image3 = nullptr;  // the results list
    QLabel* StaticText3 = nullptr;
    QLabel* DataLocation = nullptr;  // under the third picture: where the entries are kept
    QLabel* therankings = nullptr;
    TPanel* Panel4 = nullptr;
    QLabel* RankingText = nullptr;  // what the two rankings do, and the languages stemmed

    // Shows the window, or brings it to the front when it is shown already, and scrolls the
    // "Your Solution:" heading into view (no scroll when it is fully in view).
    void ShowAtSolution();
    // The widgets the three pictures show; a widget that goes away keeps its last picture.
    void SetPictured(QWidget* problem, QWidget* solution, QWidget* results);
    // Takes the three pictures anew; keeps the old ones without a widget.
    void RefreshPictures();
    // Says where the entries are kept (a file's path, or the office server).
    void SetDataLocation(const QString& location);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Scrolls the least that brings w, a widget of the column, fully into view.
    void ScrollIntoView(QWidget* w);

    bool fshownOnce = false;
    QPointer<QWidget> fpictured[3];
};

// The one help window; null until it is made, and again once it is destroyed.
extern THelpForm* HelpForm;

// What every "HELP!" link of the main window does: shows the one help window, if the program has
// made it, at the "Your Solution:" section.
void ShowHelpAtSolution();
