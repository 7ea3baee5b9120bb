// The splash window: a borderless, always-on-top greeting with the program's name, its emblem
// and a line of status texts, shown for about two seconds when the main window is first shown
// (RunSplashSequence). It touches no knowledge base; the knowledge base is opened and loaded
// behind it, off the user-interface thread.
//
// Ownership: RunSplashSequence owns the one splash window it makes, for as long as the sequence
// runs; the global Splash refers to it meanwhile and is null otherwise. A splash window owns its
// children through the parent tree.
//
// Threads: user-interface thread only. The sequence blocks that thread on purpose: the program
// handles no input while the splash shows.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class TPanel;

class TSplash : public QWidget {
    Q_OBJECT

public:
    explicit TSplash(QWidget* parent = nullptr);
    TSplash(const TSplash&) = delete;
    TSplash& operator=(const TSplash&) = delete;

    // --- Components of the layout (all inside ClientArea, in its coordinates) ---
    QWidget* ClientArea = nullptr;  // 491 x 300, inside the window's 1-pixel border
    QLabel* Image2 = nullptr;       // the background picture, mostly outside the window
    QLabel* Image1 = nullptr;       // the small logo
    QLabel* Label1 = nullptr;       // "Pelloquin"
    TPanel* Panel1 = nullptr;       // the strip across the top
    QLabel* Panel1Caption = nullptr;
    TPanel* Panel4 = nullptr;  // the strip along the bottom
    QLabel* StatusText = nullptr;

    // Shows text in StatusText. The label keeps its right edge and widens to the left when a
    // text needs more than its 260 pixels, so that no status text is cut off.
    void SetStatus(const QString& text);

    // The window paints its whole area itself (no background erase).
    void FormCreate();
    // The top strip is painted at once, before anything else is processed.
    void FormShow();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

// The splash window while RunSplashSequence runs; null otherwise.
extern TSplash* Splash;

// How the sequence waits between its status texts: splash is the window shown, milliseconds the
// wait asked for. The standard wait sleeps; tests replace it to record the steps or to skip the
// two seconds.
using TSplashWait = std::function<void(TSplash& splash, int milliseconds)>;
// Replaces the wait in use and returns the previous one; nullptr restores the standard sleep.
TSplashWait SetSplashWait(TSplashWait wait);
// A wait that returns at once (for tests that show main windows).
void NoSplashWait(TSplash& splash, int milliseconds);

// The splash sequence of the main window's first showing: shows a splash window with its three
// status texts in turn (1000, 500 and 500 ms) and destroys it.
void RunSplashSequence();
