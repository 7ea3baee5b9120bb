// TViewWindows: the view windows open, one per entry, found by entry ID (matched exactly, as the
// store matches IDs). It owns them and keeps their entries for them (TEntryKeeper) through the
// session: opening an entry reads it first, off the user-interface thread, and shows its window
// when the texts arrive; an edit saved, an entry deleted or a version restored is announced
// (entryWritten) so that the list is searched again; leaving the store closes every window, and is
// refused while one holds edits not yet saved. User-interface thread only.
#pragma once

#include <QObject>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/viewform.h"

class TSession;

class TViewWindows : public QObject, public TEntryKeeper {
    Q_OBJECT

public:
    TViewWindows(TSession& session, QObject* parent = nullptr);
    ~TViewWindows() override;

    // Brings the window of entry ID to the front; with none open, reads the entry and opens one.
    void Open(const std::string& ID);
    // The window open for entry ID, or null.
    TShowItem* Find(std::string_view ID) const;
    int Count() const { return static_cast<int>(fshown.size()); }
    TShowItem* At(int i) const { return fshown.at(static_cast<size_t>(i)).second.get(); }
    // The text size of every window, in points.
    void SetTextSize(int points);
    // Raises when a window holds edits not yet saved (and raises that window).
    void RefuseWhileEditing() const;
    // Closes and lets go every window: their store is being left.
    void CloseAll();

    void SaveEdit(TShowItem& window, const std::string& problem, const std::string& solution,
                  const std::string& seenVersion, TDone done) override;
    void SaveAsNew(TShowItem& window, const std::string& problem, const std::string& solution,
                   TDone done) override;
    void DeleteEntry(TShowItem& window, TDone done) override;
    void ListHistory(TShowItem& window, TVersions done) override;
    void RestoreVersion(TShowItem& window, int64_t seq, TDone done) override;
    void Forget(TShowItem& window) override;

signals:
    void entryWritten();

private:
    void Show(TShowItem& window);

    TSession& fsession;
    std::vector<std::pair<std::string, std::unique_ptr<TShowItem>>> fshown;
    std::set<std::string, std::less<>> freading;  // entries whose texts are on their way
    int ftextSize = 8;
};
