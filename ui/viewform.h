// The entry view window: one stored entry, problem and solution, read-only, with buttons to
// delete the entry and to edit it. The registry of view windows (viewwindows.h) keeps one per
// entry opened and owns them. The window only shows and asks: deleting and saving an edit are
// its keeper's (TEntryKeeper), which answers once the store has; Close and Delete tell the keeper
// that the window may go; the title-bar close only hides it.
//
// Editing: Edit makes both boxes editable and turns into Save, Close into Cancel; Save hands the
// texts over, Cancel or Esc puts the stored texts back. Closing with unsaved edits asks first.
// While a save or a delete is on its way the buttons wait; a failure is shown and leaves the
// window as it was, texts as typed.
// User-interface thread only.
#pragma once

#include <QWidget>
#include <exception>
#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class TPanel;
class TShowItem;

// What a view window asks of whoever keeps its entry. Each call answers once, later, on the
// user-interface thread: failure null when it was done, else what it raised.
class TEntryKeeper {
public:
    using TDone = std::function<void(std::exception_ptr failure)>;
    // Stores the window's entry with these texts (stored bytes).
    virtual void SaveEdit(TShowItem& window, const std::string& problem,
                          const std::string& solution, TDone done) = 0;
    virtual void DeleteEntry(TShowItem& window, TDone done) = 0;
    // Close or Delete has closed the window: it may go (later, not inside this call).
    virtual void Forget(TShowItem& window) = 0;

protected:
    ~TEntryKeeper() = default;
};

class TShowItem : public QWidget {
    Q_OBJECT

public:
    explicit TShowItem(TEntryKeeper& keeper, QWidget* parent = nullptr);

    // Shows entry ID with its two texts (stored bytes).
    void Execute(const std::string& ID, const std::string& Problem, const std::string& Solution);
    // Close: closes the window and lets the keeper forget it.
    void Button2Click();
    // Delete: asks, has the keeper delete the entry, then closes as Close does.
    void Button1Click();
    // Edit, and Save while editing.
    void Button3Click();

    bool Editing() const { return fediting; }
    // A save or a delete is on its way.
    bool Waiting() const { return fwaiting; }
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

private:
    void SetEditing(bool editing);
    // Leaves editing, putting the texts shown before Edit back.
    void CancelEdit();
    // Asks about unsaved edits; false when the window should stay open (also while a save
    // asked for here is on its way: the window closes when it is done).
    bool MayClose();
    // Hands the edited texts to the keeper; then closes when closeAfter.
    void SaveEdits(bool closeAfter);
    void SetWaiting(bool waiting);
    // Waits while ask hands work to the keeper, or not at all when ask raises.
    void Wait(const std::function<void()>& ask);
    // Close and Delete's end: hidden, and forgotten by the keeper.
    void CloseAndForget();

    TEntryKeeper& fkeeper;
    std::string fid;
    std::string fproblem, fsolution;  // the texts as stored
    bool fplaced = false;
    bool fediting = false;
    bool fwaiting = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
