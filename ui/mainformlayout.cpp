// The main window's layout: every control at its place and size, anchored as the window grows,
// the menu with its shortcuts, the order of the focus and the names screen readers announce.
// Only building; what the controls do is in mainform.cpp.
#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>

#include "textsearch/renderpanel/vrenderpanel.h"
#include "ui/application.h"
#include "ui/mainform.h"
#include "ui/session.h"
#include "ui/widgets/fonts.h"
#include "ui/widgets/linklabel.h"
#include "ui/widgets/uipanel.h"

namespace {

const QColor kButtonBar(243, 243, 243);
const QColor kHelpBack(240, 240, 240);

TLinkLabel* HelpLink(QWidget* parent) {
    auto* label = new TLinkLabel(QStringLiteral("HELP!"), parent);
    QFont font = TahomaFont(9, true);
    font.setUnderline(true);
    label->setFont(font);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 111, 111));
    palette.setColor(QPalette::Window, kHelpBack);
    label->setPalette(palette);
    return label;
}

TPanel* Header(QWidget* parent, QSize size, const QString& caption) {
    auto* header = new TPanel(parent, size);
    header->setFont(TahomaFont(19));
    header->SetCaption(caption);
    return header;
}

QPlainTextEdit* Editor(QWidget* parent) {
    auto* editor = new QPlainTextEdit(parent);
    // Tab moves on, as in the text boxes of earlier versions; Ctrl+Tab types a tab.
    editor->setTabChangesFocus(true);
    editor->setFrameShape(QFrame::NoFrame);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor->setFont(TahomaFont(13));
    return editor;
}

}  // namespace

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("Pelloquin: Tromsel Veru v1.0"));
    setFont(TahomaFont(11));

    // Every item has a mnemonic; the common actions their usual shortcuts.
    Configure1 = menuBar()->addMenu(QStringLiteral("&Settings"));
    Fontsize1 = Configure1->addMenu(QStringLiteral("&Text Size"));
    Larger1 = Fontsize1->addAction(QStringLiteral("&Larger"));
    Larger1->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    Smaller1 = Fontsize1->addAction(QStringLiteral("&Smaller"));
    Smaller1->setShortcut(QKeySequence::ZoomOut);
    Ranking1 = Configure1->addMenu(QStringLiteral("&Ranking"));
    BestMatch1 = Ranking1->addAction(QStringLiteral("&Best match"));
    Classic1 = Ranking1->addAction(QStringLiteral("&Classic (as earlier versions)"));
    auto* rankings = new QActionGroup(this);
    for (QAction* ranking : {BestMatch1, Classic1}) {
        ranking->setCheckable(true);
        rankings->addAction(ranking);
    }
    // The check follows the session, whoever set its ranking.
    connect(Ranking1, &QMenu::aboutToShow, this, [this] {
        BestMatch1->setChecked(fsession.Ranking() == TRanking::BestMatch);
        Classic1->setChecked(fsession.Ranking() == TRanking::Classic);
    });
    YourName1 = Configure1->addAction(QStringLiteral("Your &name..."));
    connect(YourName1, &QAction::triggered, this,
            [this] { RunHandler([this] { YourName1Click(); }); });
    KnowledgeBase1 = menuBar()->addMenu(QStringLiteral("&Knowledge base"));  // kbmenu.h fills it
    Exit1 = menuBar()->addAction(QStringLiteral("E&xit"));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    auto* saveShortcut = new QAction(this);
    saveShortcut->setShortcut(QKeySequence::Save);
    addAction(saveShortcut);
    auto* helpShortcut = new QAction(this);
    helpShortcut->setShortcut(QKeySequence::HelpContents);
    addAction(helpShortcut);
    connect(saveShortcut, &QAction::triggered, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(helpShortcut, &QAction::triggered, this, [this] { emit helpRequested(); });

    auto* client = new QWidget(this);
    auto* row = new QHBoxLayout(client);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, client);
    Splitter1->setAutoFillBackground(true);
    row->addWidget(Splitter1, 1);
    vs = new QScrollBar(Qt::Vertical, client);
    vs->setFixedWidth(15);
    vs->setRange(0, 100);  // until the list sets it up (SetUpScrollBar)
    row->addWidget(vs);

    // The editors' side.
    Panel1 = new TPanel(Splitter1, QSize(385, 546));
    Splitter2 = new QSplitter(Qt::Vertical, Panel1);
    Panel1->Place(Splitter2, QRect(0, 0, 385, 546), akLeft | akTop | akRight | akBottom);

    Panel2 = new TPanel(Splitter2, QSize(385, 209));
    Panel5 = Header(Panel2, QSize(385, 24), QStringLiteral("The Problem:"));
    Panel2->Place(Panel5, QRect(0, 0, 385, 24), akLeft | akTop | akRight);
    Label5 = HelpLink(Panel5);
    Panel5->Place(Label5, QRect(348, 8, 30, 11), akTop | akRight);
    ProblemText = Editor(Panel2);
    Panel2->Place(ProblemText, QRect(1, 25, 383, 183), akLeft | akTop | akRight | akBottom);

    Panel3 = new TPanel(Splitter2, QSize(385, 334));
    Panel6 = Header(Panel3, QSize(533, 24), QStringLiteral("The Solution:"));
    Panel3->Place(Panel6, QRect(1, 1, 533, 24));
    Label1 = HelpLink(Panel6);
    Panel6->Place(Label1, QRect(496, 8, 30, 11), akTop | akRight);
    SolutionText = Editor(Panel3);
    Panel3->Place(SolutionText, QRect(1, 24, 383, 274), akLeft | akTop | akRight | akBottom);
    Panel4 = new TPanel(Panel3, QSize(385, 35));
    Panel4->SetColor(kButtonBar);
    Panel3->Place(Panel4, QRect(0, 299, 385, 35), akLeft | akRight | akBottom);
    Button1 = new QPushButton(QStringLiteral("Save"), Panel4);
    Button1->setFont(TahomaFont(19));
    Panel4->Place(Button1, QRect(206, 8, 75, 25), akTop | akRight);
    Button2 = new QPushButton(QStringLiteral("Exit"), Panel4);
    Button2->setFont(TahomaFont(19));
    Panel4->Place(Button2, QRect(294, 8, 75, 25), akTop | akRight);

    SetUpPanes(Splitter2, Panel2, Panel3, 209, 334);

    // The results' side.
    Panel7 = new TPanel(Splitter1, QSize(425, 546));
    Panel8 = Header(Panel7, QSize(425, 24), QStringLiteral("Similar Problems/Solutions:"));
    Panel7->Place(Panel8, QRect(0, 0, 425, 24), akLeft | akTop | akRight);
    Label2 = HelpLink(Panel8);
    Panel8->Place(Label2, QRect(388, 8, 30, 11), akTop | akRight);

    SetUpPanes(Splitter1, Panel1, Panel7, 385, 425);

    setCentralWidget(client);
    client->setMinimumSize(1, 1);
    resize(828, 546 + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // Every handler runs guarded: an error it raises is shown and the program goes on.
    connect(Larger1, &QAction::triggered, this, [this] { RunHandler([this] { Larger1Click(); }); });
    connect(Smaller1, &QAction::triggered, this,
            [this] { RunHandler([this] { Smaller1Click(); }); });
    connect(BestMatch1, &QAction::triggered, this,
            [this] { RunHandler([this] { RankingClick(TRanking::BestMatch); }); });
    connect(Classic1, &QAction::triggered, this,
            [this] { RunHandler([this] { RankingClick(TRanking::Classic); }); });
    connect(Exit1, &QAction::triggered, this, [this] { RunHandler([this] { Exit1Click(); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button2Click(); }); });
    connect(ProblemText, &QPlainTextEdit::textChanged, this,
            [this] { RunHandler([this] { ProblemTextChange(); }); });
    connect(ProblemText, &QPlainTextEdit::cursorPositionChanged, this,
            [this] { RunHandler([this] { ProblemTextCaretMove(); }); });
    connect(vs, &QScrollBar::valueChanged, this, [this] { RunHandler([this] { vsChange(); }); });
    for (TLinkLabel* link : {Label5, Label1, Label2}) {
        connect(link, &TLinkLabel::activated, this,
                [this] { RunHandler([this] { Label5Click(); }); });
    }
}

void TForm1::SetUpKeyboardAndNames() {
    // Tab order: problem box, solution box, Save, Exit, the list.
    setTabOrder(ProblemText, SolutionText);
    setTabOrder(SolutionText, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Results);
    ProblemText->installEventFilter(this);
    SolutionText->installEventFilter(this);

    ProblemText->setAccessibleName(QStringLiteral("The Problem"));
    ProblemText->setAccessibleDescription(
        QStringLiteral("Describe the problem; similar entries are listed as you type"));
    SolutionText->setAccessibleName(QStringLiteral("The Solution"));
    SolutionText->setAccessibleDescription(QStringLiteral("How the problem was solved"));
    Button1->setAccessibleName(QStringLiteral("Save"));
    Button1->setAccessibleDescription(QStringLiteral("Save the problem and its solution"));
    Button2->setAccessibleName(QStringLiteral("Exit"));
    Button2->setAccessibleDescription(QStringLiteral("Close Pelloquin"));
    vs->setAccessibleName(QStringLiteral("Scroll the similar entries"));
    for (QLabel* link : {Label5, Label1, Label2}) {
        link->setAccessibleName(QStringLiteral("HELP!"));
        link->setAccessibleDescription(QStringLiteral("Open the help window"));
        link->setFocusPolicy(Qt::NoFocus);
    }
    menuBar()->setAccessibleName(QStringLiteral("Menu"));
}
