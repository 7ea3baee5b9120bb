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
//
// The window remembers the version of the entry it shows, and an edit is saved as an edit of that
// version. When another program or window changed the entry meanwhile, the user is shown both
// and chooses (TDialogs::ResolveConflict): their version kept, theirs replaced by this one (kept
// in the history), or this one saved as a new entry; a choice made too late is offered again.
// An entry deleted meanwhile offers to keep the texts as a new entry. Until the user has chosen,
// the texts typed stay in the window. History... lists the earlier versions and restores one.
// User-interface thread only.
#pragma once

#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/store/entryhistory.h"

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
    using TVersions =
        std::function<void(const std::vector<TEntryVersion>& versions, std::exception_ptr failure)>;
    // Stores the window's entry with these texts (stored bytes), as an edit of seenVersion: fails
    // with EEditConflict when the stored entry is another version, EEntryDeleted when it is gone.
    virtual void SaveEdit(TShowItem& window, const std::string& problem,
                          const std::string& solution, const std::string& seenVersion,
                          TDone done) = 0;
    // Stores the texts as a new entry, and opens it in a window of its own.
    virtual void SaveAsNew(TShowItem& window, const std::string& problem,
                           const std::string& solution, TDone done) = 0;
    virtual void DeleteEntry(TShowItem& window, TDone done) = 0;
    // The earlier versions of the window's entry, newest first.
    virtual void ListHistory(TShowItem& window, TVersions done) = 0;
    // Brings back version seq of the window's entry; the window then shows it.
    virtual void RestoreVersion(TShowItem& window, int64_t seq, TDone done) = 0;
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
    // The same, with the version read and what the knowledge base records of the entry.
    void Execute(const std::string& ID, const TEntryTexts& texts);
    // What was read of the entry after a save of this window: shown when it is still the texts
    // the window shows (the version, who and when), else left for the next save to find.
    void Refresh(const TEntryTexts& texts);
    // History...: the earlier versions, in a dialog of the window's own.
    void Button4Click();
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
    // The version shown, which an edit is saved as an edit of ("" when not known).
    const std::string& Version() const { return fversion; }
    // The history dialog open, or null.
    class THistoryDialog* HistoryDialog() const;
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
    QPushButton* Button4 = nullptr;  // "History..."
    QLabel* RecordLabel = nullptr;   // who saved and changed the entry, and when

private:
    void SetEditing(bool editing);
    // Leaves editing, putting the texts shown before Edit back.
    void CancelEdit();
    // Asks about unsaved edits; false when the window should stay open (also while a save
    // asked for here is on its way: the window closes when it is done).
    bool MayClose();
    // Hands the edited texts to the keeper; then closes when closeAfter.
    void SaveEdits(bool closeAfter);
    // Hands texts to the keeper as an edit of seenVersion; a conflict or a delete met on the way
    // is offered to the user (Settle).
    void SendEdit(const std::string& problem, const std::string& solution,
                  const std::string& seenVersion, bool closeAfter);
    // Hands texts to the keeper as a new entry; then shows `then` (theirs), or closes when the
    // entry is gone (then null).
    void SendAsNew(const std::string& problem, const std::string& solution,
                   std::shared_ptr<TEntryTexts> then, bool closeAfter);
    // What a failed edit leaves to the user; false when it is no conflict nor a delete.
    bool Settle(std::exception_ptr failure, const std::string& problem, const std::string& solution,
                bool closeAfter);
    void SetWaiting(bool waiting);
    // Waits while ask hands work to the keeper, or not at all when ask raises.
    void Wait(const std::function<void()>& ask);
    // Close and Delete's end: hidden, and forgotten by the keeper.
    void CloseAndForget();

    TEntryKeeper& fkeeper;
    std::string fid;
    std::string fproblem, fsolution;  // the texts as stored
    std::string fversion;             // their version
    bool fplaced = false;
    bool fediting = false;
    bool fwaiting = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
};
