// The entry view window: one stored entry, problem and solution, read-only, with a button to
// delete the entry from the knowledge base. The main window keeps one per entry it has opened
// (its list `shown`) and owns them. The window only shows and asks: deleting is left to whoever
// connects deleteConfirmed, and Close and Delete tell closedByButton so that the window is dropped
// from that list; the title-bar close only hides it.
// User-interface thread only.
#pragma once

#include <QWidget>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class TPanel;

class TShowItem : public QWidget {
    Q_OBJECT

public:
    explicit TShowItem(QWidget* parent = nullptr);

    // Shows entry ID with its two texts (stored bytes).
    void Execute(const std::string& ID, const std::string& Problem, const std::string& Solution);
    // Close: drops the window from the main window's list and closes it.
    void Button2Click();
    // Delete: asks, deletes the entry, drops the window, searches again and closes it.
    void Button1Click();

    const std::string& EntryID() const { return fid; }
    // The size of both texts, in points (the main window's text size), in a scalable face.
    void SetTextSize(int points);

    QPlainTextEdit* ProblemText = nullptr;
    QPlainTextEdit* SolutionText = nullptr;
    QLabel* ProblemLabel = nullptr;
    QLabel* SolutionLabel = nullptr;
    QSplitter* Splitter1 = nullptr;
    TPanel* ButtonBar = nullptr;
    QPushButton* Button1 = nullptr;  // "Delete"
    QPushButton* Button2 = nullptr;  // "Close"

signals:
    // The user confirmed Delete. A receiver that cannot delete the entry raises, which leaves
    // the window open.
    void deleteConfirmed(TShowItem* window);
    // Close or Delete closed the window.
    void closedByButton(TShowItem* window);

private:
    std::string fid;
    bool fplaced = false;

protected:
    void showEvent(QShowEvent* event) override;
};
