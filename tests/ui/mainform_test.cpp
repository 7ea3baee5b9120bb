// The main window: its layout, what it builds when created (also when that fails), and closing.
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "core/knowledgebase.h"
#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/widgets/uipanel.h"
#include "uitest.h"

namespace {

QRect InWindow(QWidget* w, TForm1& form) {
    return QRect(w->mapTo(form.centralWidget(), QPoint(0, 0)), w->size());
}

TEST_F(MainWindowTest, LayoutHasTheSizesPlacesAndCaptions) {
    TForm1& f = Open();
    f.show();
    ASSERT_TRUE(WaitUntil([&] { return f.isVisible(); }));
    EXPECT_EQ(f.windowTitle(), "Pelloquin: Tromsel Veru v1.0");
    EXPECT_EQ(f.centralWidget()->size(), QSize(828, 546));
    EXPECT_EQ(InWindow(f.Panel1, f), QRect(0, 0, 385, 546));
    EXPECT_EQ(InWindow(f.Panel2, f), QRect(0, 0, 385, 209));
    EXPECT_EQ(InWindow(f.ProblemText, f), QRect(1, 25, 383, 183));
    EXPECT_EQ(InWindow(f.Panel3, f).top(), 212);  // below a splitter 3 pixels high
    EXPECT_EQ(InWindow(f.SolutionText, f), QRect(1, 236, 383, 274));
    EXPECT_EQ(InWindow(f.Panel4, f), QRect(0, 511, 385, 35));
    EXPECT_EQ(InWindow(f.Button1, f), QRect(206, 519, 75, 25));
    EXPECT_EQ(InWindow(f.Button2, f), QRect(294, 519, 75, 25));
    EXPECT_EQ(InWindow(f.Panel7, f), QRect(388, 0, 425, 546));
    EXPECT_EQ(InWindow(f.Results, f), QRect(388, 24, 425, 522));
    EXPECT_EQ(InWindow(f.vs, f), QRect(813, 0, 15, 546));
    EXPECT_EQ(InWindow(f.Label5, f), QRect(348, 8, 30, 11));
    EXPECT_EQ(InWindow(f.Label2, f), QRect(388 + 388, 8, 30, 11));
    EXPECT_EQ(f.Button1->text(), "Save");
    EXPECT_EQ(f.Button2->text(), "Exit");
    EXPECT_EQ(f.Panel5->Caption(), "The Problem:");
    EXPECT_EQ(f.Panel6->Caption(), "The Solution:");
    EXPECT_EQ(f.Panel8->Caption(), "Similar Problems/Solutions:");
    for (QLabel* link : {f.Label5, f.Label1, f.Label2}) {
        EXPECT_EQ(link->text(), "HELP!");
        EXPECT_TRUE(link->font().bold() && link->font().underline());
    }
    // An empty list has nothing to scroll.
    EXPECT_EQ(f.vs->minimum(), 0);
    EXPECT_EQ(f.vs->maximum(), 0);
    EXPECT_EQ(f.vs->value(), 0);

    // Widening the window widens the results side; the editors keep their width, the buttons
    // keep their distance from the right edge of their bar.
    f.resize(f.width() + 100, f.height() + 50);
    ASSERT_TRUE(WaitUntil([&] { return f.centralWidget()->width() == 928; }));
    EXPECT_EQ(InWindow(f.Panel1, f).width(), 385);
    EXPECT_EQ(InWindow(f.Panel7, f).width(), 525);
    EXPECT_EQ(InWindow(f.Button2, f).right(), 385 - 16 - 1);
    EXPECT_EQ(InWindow(f.ProblemText, f).height(), 183);
    EXPECT_EQ(InWindow(f.SolutionText, f).height(), 274 + 50);
}

TEST_F(MainWindowTest, MenuHoldsSettingsKnowledgeBaseAndExitEachItemWithItsOwnMnemonic) {
    TForm1& f = Open();
    auto caption = [](QString text) { return text.remove('&'); };
    // Every item of a menu (the bar included) has one mnemonic, and no two share one.
    std::function<void(const QList<QAction*>&)> checkMnemonics = [&](const QList<QAction*>& items) {
        std::set<QChar> keys;
        for (QAction* item : items) {
            if (item->isSeparator()) continue;
            const QString text = item->text();
            ASSERT_EQ(text.count('&'), 1) << text.toStdString();
            EXPECT_TRUE(keys.insert(text[text.indexOf('&') + 1].toLower()).second)
                << text.toStdString();
            if (item->menu()) checkMnemonics(item->menu()->actions());
        }
    };
    const auto top = f.menuBar()->actions();
    checkMnemonics(top);
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(caption(top[0]->text()), "Settings");
    EXPECT_EQ(caption(top[1]->text()), "Knowledge base");
    EXPECT_EQ(caption(top[2]->text()), "Exit");
    EXPECT_EQ(caption(f.Fontsize1->title()), "Text Size");
    EXPECT_EQ(caption(f.Larger1->text()), "Larger");
    EXPECT_EQ(caption(f.Smaller1->text()), "Smaller");
    QStringList items;
    for (QAction* item : f.KnowledgeBase1->actions())
        if (!item->isSeparator()) items << caption(item->text());
    EXPECT_EQ(items, QStringList({"Back up now...", "Export...", "Import...", "Recently deleted...",
                                  "Show data folder", "Connect to office server...",
                                  "Use this computer's file"}));
}

TEST_F(MainWindowTest, FirstStartCreatesTheKnowledgeBase) {
    TForm1& f = Open();
    EXPECT_EQ(dialogs->shown.size(), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir.File("pelloquin.dat")));
    EXPECT_TRUE(FileDB().TableExists("textdata"));
    EXPECT_TRUE(FileDB().TableExists("vectors"));
    EXPECT_TRUE(FileDB().TableExists("settings"));
    EXPECT_EQ(f.FontSize(), 10);
    EXPECT_EQ(static_cast<int>(f.Session().TEST_Engine().LiveTexts()), 0);
    EXPECT_EQ(f.ScoredHits().Count(), 0);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(255, 251, 240));
}

TEST_F(MainWindowTest, AKnowledgeBaseThatCannotBeOpenedIsReportedAndNothingUsesIt) {
    // A regular file where the directory should be: the open fails even for root.
    std::ofstream(dir.File("notadir")) << "x";
    Make(FileChoice(kb::KnowledgeBaseFile(dir.File("notadir"))));
    WaitForOpening();
    TForm1& f = *form;
    ASSERT_EQ(dialogs->Errors(), 1);
    EXPECT_EQ(dialogs->shown[0].title, "Pelloquin?!?! Tromsel Veru v1.0");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("Failed to open database \""));
    EXPECT_TRUE(dialogs->shown[0].text.endsWith("."));
    EXPECT_EQ(f.Session().TEST_Engine().LiveTexts(), 0u);

    // Typing searches nothing, saving reports instead of pretending, menus do nothing harmful.
    TypeProblem("printer");
    WaitForSearches();
    EXPECT_EQ(f.ScoredHits().Count(), 0);
    f.SolutionText->setPlainText("fix");
    f.Button1->click();
    WaitForWrites(f.Session());
    EXPECT_EQ(dialogs->Errors(), 2);
    EXPECT_EQ(f.ProblemText->toPlainText(), "printer");
    f.Larger1->trigger();
    EXPECT_EQ(f.FontSize(), 1);
    // Closing still asks about the unsaved texts; "No" closes.
    dialogs->answers.push_back(QMessageBox::No);
    EXPECT_TRUE(f.close());
}

TEST_F(MainWindowTest, ExitButtonExitMenuAndTitleBarCloseAllAskFirst) {
    TForm1& f = Open();
    f.show();
    f.ProblemText->setPlainText("   ");  // blanks alone still count as text to keep
    const std::function<void()> closers[] = {[&] { f.Button2->click(); },
                                             [&] { f.Exit1->trigger(); }, [&] { f.close(); }};
    for (const auto& close : closers) {
        dialogs->answers.push_back(QMessageBox::Cancel);
        close();
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(f.ProblemText->toPlainText(), "   ");
    }
    ASSERT_EQ(dialogs->shown.size(), 3u);
    for (const auto& shown : dialogs->shown) {
        EXPECT_EQ(shown.title, "Confirm");
        EXPECT_EQ(shown.text, "Would you like to save this entry before closing?");
        EXPECT_EQ(shown.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    }
    f.ProblemText->clear();
    f.Button2->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(dialogs->shown.size(), 3u);  // empty boxes: nothing asked
    EXPECT_EQ(f.Results, nullptr);         // the state is freed once the window has closed
}

// The desktop matches windows to the desktop entry by this name, and the window manager shows
// the icon in every size a desktop asks for; a resource dropped at link time shows none.
TEST_F(MainWindowTest, WindowsCarryTheIconInEverySizeAndTheDesktopName) {
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("org.pelloquin.Pelloquin"));
    TForm1& f = Open();
    const QList<QSize> sizes = f.windowIcon().availableSizes();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
        EXPECT_EQ(f.windowIcon().pixmap(size).size(), QSize(size, size)) << size;
    }
}

TEST_F(MainWindowTest, ErrorBoxTextEndsWithAFullStop) {
    EXPECT_EQ(ErrorBoxText("Table is at End of File"), "Table is at End of File.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Really!"), "Really!");  // '!' sorts before '.'
    EXPECT_EQ(ErrorBoxText("("), "(");
    EXPECT_EQ(ErrorBoxText(""), "");
}

}  // namespace
