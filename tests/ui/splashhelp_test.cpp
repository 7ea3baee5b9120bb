// The splash window and its sequence, the help window, and the HELP! links that open it.
#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextLayout>
#include <memory>
#include <string>
#include <vector>

#include "ui/helpformu.h"
#include "ui/splashart.h"
#include "ui/splashu.h"
#include "ui/widgets/uipanel.h"
#include "uitest.h"

namespace {

template <typename T>
int CountWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<T*>(w) ? 1 : 0;
    return n;
}

// Whether w, a widget of the help window's column, is fully in view (the window scrolls
// vertically only).
bool InView(THelpForm& help, QWidget* w) {
    const int top = w->mapTo(help.widget(), QPoint(0, 0)).y() + help.widget()->y();
    return top >= 0 && top + w->height() <= help.viewport()->height();
}

// The part of text that a word-wrapping label of its width puts on its first line.
QString FirstLine(QLabel* label) {
    QTextLayout layout(label->text(), label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(label->width());
    layout.endLayout();
    return label->text().left(line.textLength());
}

class SplashHelpTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        SetSplashWait(NoSplashWait);
    }
    void TearDown() override {
        help.reset();
        MainWindowTest::TearDown();
        SetSplashWait(nullptr);
    }

    // The help window the program makes at start, wired to the main window as the program
    // wires it.
    THelpForm& MakeHelp() {
        help = std::make_unique<THelpForm>();
        HelpForm = help.get();
        Link();
        return *help;
    }
    TForm1& Open() {
        MainWindowTest::Open();
        Link();
        return *form;
    }
    void Link() {
        if (!help || !form) return;
        help->SetPictured(form->Panel2, form->Panel3, form->Panel7);
        QObject::connect(form.get(), &TForm1::helpRequested, help.get(),
                         &THelpForm::ShowAtSolution);
    }

    std::unique_ptr<THelpForm> help;
};

struct TStep {
    QString status;
    int milliseconds;
    bool visible;
    bool current;  // the splash was the one Splash referred to
};

TEST_F(SplashHelpTest, SplashLayout) {
    TSplash splash;
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(splash.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(splash.size(), QSize(493, 302));
    EXPECT_EQ(splash.ClientArea->geometry(), QRect(1, 1, 491, 300));
    EXPECT_EQ(splash.Image2->geometry(), QRect(-160, -96, 569, 500));
    EXPECT_EQ(splash.Image2->pixmap().size(), QSize(569, 500));
    EXPECT_EQ(splash.Image1->geometry(), QRect(384, 192, 100, 48));
    EXPECT_EQ(splash.Image1->pixmap().size(), QSize(100, 48));
    EXPECT_EQ(splash.Label1->text(), "Pelloquin");
    EXPECT_EQ(splash.Label1->pos(), QPoint(56, 16));
    EXPECT_EQ(splash.Label1->font().pixelSize(), 80);
    EXPECT_FALSE(splash.Label1->autoFillBackground());
    EXPECT_EQ(splash.Panel1->geometry(), QRect(0, 0, 491, 33));
    EXPECT_EQ(splash.Panel1Caption->text(), "Tromsel for Small Office / Home Office v1.0");
    EXPECT_EQ(splash.Panel1Caption->font().pixelSize(), 19);
    EXPECT_EQ(splash.Panel4->geometry(), QRect(0, 277, 491, 23));
    EXPECT_EQ(splash.StatusText->text(), "...Loading Korvax vector data....");
    EXPECT_EQ(splash.StatusText->font().pixelSize(), 19);
    EXPECT_EQ(splash.StatusText->palette().color(QPalette::WindowText), QColor(179, 0, 179));
    EXPECT_TRUE(splash.StatusText->alignment() & Qt::AlignRight);
    EXPECT_EQ(splash.StatusText->geometry().right(), 490);
    EXPECT_GE(splash.StatusText->width(), 260);

    // Long status texts widen the label to the left rather than being cut.
    for (const QString& text : {QStringLiteral("...Loading Korvax problem/solution vectors..."),
                                QStringLiteral("...Ready...")}) {
        splash.SetStatus(text);
        EXPECT_GE(splash.StatusText->width(),
                  splash.StatusText->fontMetrics().horizontalAdvance(text));
        EXPECT_GE(splash.StatusText->width(), 260);
        EXPECT_EQ(splash.StatusText->geometry().right(), 490);
    }

    // What shows: white where nothing is drawn, the emblem's ring where the background puts it.
    const QImage shown = splash.ClientArea->grab().toImage();
    EXPECT_EQ(shown.pixelColor(450, 100), QColor(Qt::white));
    const QPoint ring = kSplashEmblemCentre - QPoint(160, 96) + QPoint(kSplashEmblemRadius, 0);
    const QColor atRing = shown.pixelColor(ring);
    EXPECT_GT(atRing.red(), 120);
    EXPECT_LT(atRing.green(), 80);
    EXPECT_GT(atRing.blue(), 120);
}

TEST_F(SplashHelpTest, SplashSequenceShowsItsStatusTextsInOrderThenGoesAndRecolours) {
    std::vector<TStep> steps;
    SetSplashWait([&](TSplash& splash, int ms) {
        steps.push_back({splash.StatusText->text(), ms, splash.isVisible(), Splash == &splash});
    });
    TForm1& f = Open();
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(255, 251, 240));
    f.FormShow();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].status, "...Welcome to Pelloquin...");
    EXPECT_EQ(steps[0].milliseconds, 1000);
    EXPECT_EQ(steps[1].status, "...Loading Korvax problem/solution vectors...");
    EXPECT_EQ(steps[1].milliseconds, 500);
    EXPECT_EQ(steps[2].status, "...Ready...");
    EXPECT_EQ(steps[2].milliseconds, 500);
    for (const TStep& step : steps) {
        EXPECT_TRUE(step.visible);
        EXPECT_TRUE(step.current);
    }
    EXPECT_EQ(Splash, nullptr);
    EXPECT_EQ(CountWindows<TSplash>(), 0);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(240, 240, 240));
}

TEST_F(SplashHelpTest, FirstShowingOfTheMainWindowRunsTheSplashOnceForAboutTwoSeconds) {
    SetSplashWait(nullptr);  // the real waits
    TForm1& f = Open();
    QElapsedTimer timer;
    timer.start();
    f.show();
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 4000);
    EXPECT_EQ(CountWindows<TSplash>(), 0);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(240, 240, 240));

    // Later showings do not greet again.
    f.hide();
    timer.restart();
    f.show();
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST_F(SplashHelpTest, HelpLayout) {
    THelpForm& h = MakeHelp();
    EXPECT_EQ(h.windowTitle(), "Pelloquin: Help");
    EXPECT_TRUE(h.isWindow());
    // 567 x 666 outside a standard frame.
    EXPECT_EQ(h.size(), QSize(567 - 16, 666 - 39));
    EXPECT_EQ(h.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(h.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(h.widget(), h.Column);
    // The three steps take 776 pixels; the section on the rankings (a heading and its text)
    // follows them.
    EXPECT_EQ(h.Column->size(), QSize(542, 776 + 23 + 250));
    EXPECT_EQ(h.therankings->geometry(), QRect(0, 776, 542, 23));
    EXPECT_TRUE(h.RankingText->text().contains(QStringLiteral("Russian")));

    struct TRow {
        QWidget* w;
        QRect place;
    };
    const TRow rows[] = {
        {h.theproblem, QRect(0, 0, 542, 23)},
        {h.Panel1, QRect(0, 23, 542, 225)},
        {h.thesolution, QRect(0, 248, 542, 23)},
        {h.Panel2, QRect(0, 271, 542, 226)},
        {h.thesuggestionlabel, QRect(0, 497, 542, 23)},
        {h.thesuggestion, QRect(0, 520, 542, 256)},
        {h.Image1, QRect(32, 40, 254, 142)},
        {h.StaticText1, QRect(320, 16, 217, 201)},
        {h.Image2, QRect(24, 40, 273, 159)},
        {h.StaticText2, QRect(320, 8, 209, 209)},
        {h.Image3, QRect(8, 40, 309, 157)},
        {h.StaticText3, QRect(320, 10, 185, 239)},
    };
    for (const TRow& row : rows)
        EXPECT_EQ(row.w->geometry(), row.place) << row.w;
    EXPECT_EQ(h.Image1->parent(), h.Panel1);
    EXPECT_EQ(h.StaticText3->parent(), h.thesuggestion);

    EXPECT_EQ(h.theproblem->text(), "The Problem:");
    EXPECT_EQ(h.thesolution->text(), "Your Solution:");
    EXPECT_EQ(h.thesuggestionlabel->text(), "Similar Problems/Solutions:");
    for (QLabel* heading : {h.theproblem, h.thesolution, h.thesuggestionlabel}) {
        EXPECT_EQ(heading->font().pixelSize(), 19);
        EXPECT_TRUE(heading->autoFillBackground());
        EXPECT_EQ(heading->palette().color(QPalette::Window), QColor(240, 240, 240));
    }

    EXPECT_EQ(h.StaticText1->text(),
              "STEP 1:" + QString(31, ' ') +
                  "Enter the current problem you are facing, give as much detail as possible. "
                  "You should either keep Pelloquin open while you work on the problem, or fill "
                  "in everything once you've solved the problem.");
    EXPECT_EQ(h.StaticText2->text(),
              "STEP 2:" + QString(29, ' ') +
                  "Enter your solution to the problem. Remember to be as detailed as possible.");
    EXPECT_EQ(h.StaticText3->text(),
              "STEP 3:" + QString(21, ' ') +
                  "Once you have a database of solutions, they will start appearing in the "
                  "suggestion box to the right. Pelloquin will do this AS YOU TYPE in real time. "
                  "Click on a title to view the problem and solution.");
    const std::pair<QLabel*, const char*> steps[] = {
        {h.StaticText1, "STEP 1:"}, {h.StaticText2, "STEP 2:"}, {h.StaticText3, "STEP 3:"}};
    for (const auto& [text, label] : steps) {
        EXPECT_EQ(text->font().pixelSize(), 17);
        EXPECT_TRUE(text->wordWrap());
        EXPECT_EQ(text->textFormat(), Qt::PlainText);
        // The blanks fill the first line: the step label stands on a line of its own.
        EXPECT_EQ(FirstLine(text).trimmed(), label);
    }
    // The note on languages fills free space under the first picture, with none of it clipped.
    QLabel* note = h.AnyLanguage;
    EXPECT_EQ(note->parent(), h.Panel1);
    EXPECT_TRUE(h.Panel1->rect().contains(note->geometry()));
    EXPECT_FALSE(note->geometry().intersects(h.Image1->geometry()));
    EXPECT_FALSE(note->geometry().intersects(h.StaticText1->geometry()));
    EXPECT_LE(note->fontMetrics()
                  .boundingRect(QRect(QPoint(), note->size()), Qt::TextWordWrap, note->text())
                  .height(),
              note->height());
}

TEST_F(SplashHelpTest, HelpStartsAt144AndKeepsWhereTheUserLeftIt) {
    THelpForm& h = MakeHelp();
    h.show();
    EXPECT_EQ(h.verticalScrollBar()->value(), 144);
    h.verticalScrollBar()->setValue(30);
    h.close();  // the frame's close only hides it
    EXPECT_FALSE(h.isVisible());
    EXPECT_EQ(HelpForm, &h);
    h.show();
    EXPECT_EQ(h.verticalScrollBar()->value(), 30);
}

TEST_F(SplashHelpTest, EveryHelpLinkShowsTheOneHelpWindowAtYourSolution) {
    THelpForm& h = MakeHelp();
    TForm1& f = Open();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    const int windows = CountWindows<THelpForm>();
    for (QLabel* link : {f.Label5, f.Label1, f.Label2}) {
        SCOPED_TRACE(link == f.Label5 ? "Label5" : link == f.Label1 ? "Label1" : "Label2");
        h.hide();
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        ASSERT_TRUE(WaitUntil([&] { return h.isVisible(); }, 2000));
        EXPECT_TRUE(InView(h, h.thesolution));
        EXPECT_EQ(CountWindows<THelpForm>(), windows);

        // Clicked again while open: the same window, still at "Your Solution:".
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        EXPECT_TRUE(h.isVisible());
        EXPECT_TRUE(InView(h, h.thesolution));
        EXPECT_EQ(CountWindows<THelpForm>(), windows);

        // A screen reader sees a link, and pressing it does what a click does.
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(link);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::Link);
        EXPECT_EQ(accessible->text(QAccessible::Name), "HELP!");
        h.hide();
        ASSERT_NE(accessible->actionInterface(), nullptr);
        accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(h.isVisible());
    }
    EXPECT_EQ(h.verticalScrollBar()->value(), 144);  // in view at 144: no scroll
}

TEST_F(SplashHelpTest, TheLinkScrollsOnlyWhenYourSolutionIsOutOfView) {
    THelpForm& h = MakeHelp();
    TForm1& f = Open();
    h.show();
    h.resize(h.width(), 150);  // a window the user made small
    ASSERT_TRUE(WaitUntil([&] { return h.viewport()->height() == 150; }));
    QScrollBar* bar = h.verticalScrollBar();

    bar->setValue(0);
    ASSERT_FALSE(InView(h, h.thesolution));
    ShowHelpAtSolution();
    EXPECT_TRUE(InView(h, h.thesolution));
    EXPECT_GT(bar->value(), 0);

    bar->setValue(bar->maximum());
    ASSERT_FALSE(InView(h, h.thesolution));
    ShowHelpAtSolution();
    EXPECT_TRUE(InView(h, h.thesolution));
    EXPECT_LT(bar->value(), bar->maximum());

    bar->setValue(248 - 50);  // fully in view, near the bottom edge
    ASSERT_TRUE(InView(h, h.thesolution));
    ShowHelpAtSolution();
    EXPECT_EQ(bar->value(), 248 - 50);
    (void)f;
}

TEST_F(SplashHelpTest, PicturesShowTheMainWindowAsItIsNow) {
    THelpForm& h = MakeHelp();
    const QImage placeholder = h.Image1->pixmap().toImage();
    TForm1& f = Open();
    f.show();
    ShowHelpAtSolution();
    const QImage problem = h.Image1->pixmap().toImage();
    const QImage solution = h.Image2->pixmap().toImage();
    const QImage results = h.Image3->pixmap().toImage();
    EXPECT_NE(problem, placeholder);
    // Each fills its place, but for rounding and the proportions of the part it shows.
    const std::pair<QImage, QLabel*> pictures[] = {
        {problem, h.Image1}, {solution, h.Image2}, {results, h.Image3}};
    for (const auto& [picture, place] : pictures) {
        EXPECT_LE(picture.width(), place->width());
        EXPECT_LE(picture.height(), place->height());
        EXPECT_GE(picture.width(), place->width() - 1);
        EXPECT_GE(picture.height(), place->height() - 6);
    }

    // What the user does in the main window shows in the next showing, and in a raise.
    f.ProblemText->setPlainText("The printer on the second floor jams on every second page.\n" +
                                QString(20, 'W'));
    f.SolutionText->setPlainText("Cleaned the rollers.\n" + QString(20, 'W'));
    h.hide();
    ShowHelpAtSolution();
    EXPECT_NE(h.Image1->pixmap().toImage(), problem);
    EXPECT_NE(h.Image2->pixmap().toImage(), solution);
    const QImage typed = h.Image1->pixmap().toImage();
    f.ProblemText->clear();
    ShowHelpAtSolution();  // already shown
    EXPECT_NE(h.Image1->pixmap().toImage(), typed);
}

}  // namespace
