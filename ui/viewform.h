// The entry view window: one stored entry, problem and solution, read-only, with buttons to
// delete the entry and to edit it. The main window keeps one per entry it has opened (its list
// `shown`) and owns them. The window only shows and asks: deleting and saving an edit are left to
// whoever connects deleteConfirmed and editSaved, and Close and Delete tell closedByButton so that
// the window is dropped from that list; the title-bar close only hides it.
//
// Editing: Edit makes both boxes editable and turns into Save, Close into Cancel; Save hands the
// texts over, Cancel or Esc puts the stored texts back. Closing with unsaved edits asks first.
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
    // Edit, and Save while editing.
    void Button3Click();

    bool Editing() const { return fediting; }
    // The edited texts differ from those shown before Edit.
    bool Modified() const;

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
    QPushButton* Button2 = nullptr;  // "Close", "Cancel" while editing
    QPushButton* Button3 = nullptr;  // "Edit", "Save" while editing

signals:
    // The user confirmed Delete. A receiver that cannot delete the entry raises, which leaves
    // the window open.
    void deleteConfirmed(TShowItem* window);
    // Close or Delete closed the window.
    void closedByButton(TShowItem* window);
    // Save while editing, with the two texts (stored bytes). A receiver that cannot store them
    // raises, which keeps the window editing with the texts as typed.
    void editSaved(TShowItem* window, const std::string& problem, const std::string& solution);

private:
    void SetEditing(bool editing);
    // Leaves editing, putting the texts shown before Edit back.
    void CancelEdit();
    // Asks about unsaved edits; false when the window should stay open.
    bool MayClose();

    std::string fid;
    std::string fproblem, fsolution;  // the texts as stored
    bool fplaced = false;
    bool fediting = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
