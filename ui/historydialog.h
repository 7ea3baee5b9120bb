// The history dialogs: an entry's earlier versions (History... of its view window) and the
// entries deleted (Knowledge base > Recently deleted...), newest first. Selecting one shows its
// texts; Restore hands it to whoever opened the dialog, which brings it back; the deleted ones
// are filtered by the words typed in the Find box (historylist.h). The dialog only shows and
// asks: the versions arrive from the session when read (SetVersions), and it says so while they
// are on their way and when there are none.
// User-interface thread only.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "core/store/entryhistory.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class THistoryDialog : public QDialog {
    Q_OBJECT

public:
    enum class Kind { EntryHistory, Deleted };
    using TRestore = std::function<void(const TEntryVersion& version)>;

    explicit THistoryDialog(Kind kind, QWidget* parent = nullptr);

    // The versions to list, newest first.
    void SetVersions(std::vector<TEntryVersion> versions);
    void SetRestore(TRestore restore) { frestore = std::move(restore); }
    // A restore is on its way: nothing may be chosen meanwhile.
    void SetWaiting(bool waiting);

    // The versions listed now (after the filter), top first.
    std::vector<const TEntryVersion*> Listed() const;
    // The version selected, or null.
    const TEntryVersion* Selected() const;
    // Selects the row'th listed version (tests, and the first after a filter).
    void Select(int row);
    // Restore: hands the selected version over.
    void RestoreClick();

    QLineEdit* Find = nullptr;  // the deleted entries' filter; null for an entry's history
    QTreeWidget* List = nullptr;
    QLabel* Status = nullptr;  // loading, none kept, none found
    QPlainTextEdit* ProblemView = nullptr;
    QPlainTextEdit* SolutionView = nullptr;
    QPushButton* RestoreButton = nullptr;
    QPushButton* CloseButton = nullptr;

private:
    void Fill();
    void ShowSelected();

    const Kind fkind;
    std::vector<TEntryVersion> fversions;
    bool floaded = false;
    bool fwaiting = false;
    TRestore frestore;
};
