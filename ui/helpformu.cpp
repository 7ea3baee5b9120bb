// The help window is a scroll area over a fixed column of headings and panels. Its size is given
// as the outer size of a window with a standard frame, so the client area is that less the frame;
// the column is taller than the client area, which leaves room for the scroll position 144 that
// the window starts at. Each showing grabs the problem, solution and results parts of the live
// main window and scales them into the three pictures.
#include "ui/helpformu.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QString>
#include <algorithm>
#include <utility>

#include "ui/widgets/fonts.h"
#include "ui/widgets/uipanel.h"

THelpForm* HelpForm = nullptr;

namespace {

constexpr QSize kOuter(567, 666);
// A standard sizeable frame at 96 dots per inch: 8 pixels at the sides and bottom, 31 on top.
constexpr QSize kClient(kOuter.width() - 16, kOuter.height() - 39);
constexpr int kColumnWidth = 542;
constexpr int kFirstScroll = 144;
const QColor kHeading(240, 240, 240);

QString Step(int number, int blanks, const char* text) {
    return QStringLiteral("STEP %1:").arg(number) + QString(blanks, QChar(' ')) +
           QString::fromLatin1(text);
}

QLabel* Heading(QWidget* column, const QString& caption, int top) {
    auto* label = new QLabel(caption, column);
    label->setFont(TahomaFont(19));
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, kHeading);
    label->setPalette(palette);
    label->setContentsMargins(2, 0, 0, 0);
    label->setGeometry(0, top, kColumnWidth, 23);
    return label;
}

TPanel* Section(QWidget* column, int top, int height) {
    auto* panel = new TPanel(column, QSize(kColumnWidth, height));
    panel->move(0, top);
    return panel;
}

QLabel* Picture(TPanel* panel, QRect place) {
    auto* label = new QLabel(panel);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(place);
    // Until the first showing takes the real picture: an empty frame of the right size.
    QPixmap frame(place.size());
    frame.fill(QColor(248, 248, 248));
    QPainter p(&frame);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(frame.rect().adjusted(0, 0, -1, -1));
    p.end();
    label->setPixmap(frame);
    return label;
}

QLabel* StepText(TPanel* panel, const QString& text, QRect place) {
    auto* label = new QLabel(panel);
    label->setTextFormat(Qt::PlainText);  // plain text keeps the run of blanks after the step
    label->setText(text);
    label->setFont(TahomaFont(17));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(place);
    return label;
}

// The top part of source with the picture's proportions (the whole of it when it is wider than
// the picture), scaled to fit size, framed so that it reads as a picture on the white page.
QPixmap Snapshot(QWidget* source, QSize size) {
    QRect part = source->rect();
    if (part.isEmpty()) return {};
    const int height = part.width() * size.height() / size.width();
    if (height < part.height()) part.setHeight(height);
    QPixmap shot = source->grab(part).scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter p(&shot);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(shot.rect().adjusted(0, 0, -1, -1));
    p.end();
    return shot;
}

}  // namespace

THelpForm::THelpForm(QWidget* parent) : QScrollArea(parent) {
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("Pelloquin: Help"));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    setPalette(white);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    Column = new QWidget;
    Column->setAutoFillBackground(true);
    int top = 0;
    theproblem = Heading(Column, QStringLiteral("The Problem:"), top);
    top += 23;
    Panel1 = Section(Column, top, 225);
    Image1 = Picture(Panel1, QRect(32, 40, 254, 142));
    StaticText1 = StepText(
        Panel1,
        Step(1, 31,
             "Enter the current problem you are facing, give as much detail as possible. You "
             "should either keep Pelloquin open while you work on the problem, or fill in "
             "everything once you've solved the problem."),
        QRect(320, 16, 217, 201));
    // In the free space under the picture, so the steps and the column keep their layout.
    AnyLanguage = StepText(Panel1,
                           QStringLiteral("Write in any language you like: every character you "
                                          "type is kept."),
                           QRect(32, 186, 254, 36));
    AnyLanguage->setFont(TahomaFont(13));
    top += 225;
    thesolution = Heading(Column, QStringLiteral("Your Solution:"), top);
    top += 23;
    Panel2 = Section(Column, top, 226);
    Image2 = Picture(Panel2, QRect(24, 40, 273, 159));
    StaticText2 = StepText(
        Panel2,
        Step(2, 29, "Enter your solution to the problem. Remember to be as detailed as possible."),
        QRect(320, 8, 209, 209));
    top += 226;
    thesuggestionlabel = Heading(Column, QStringLiteral("Similar Problems/Solutions:"), top);
    top += 23;
    thesuggestion = Section(Column, top, 256);
    Image3 = Picture(thesuggestion, QRect(8, 40, 309, 157));
    StaticText3 = StepText(
        thesuggestion,
        Step(3, 21,
             "Once you have a database of solutions, they will start appearing in the suggestion "
             "box to the right. Pelloquin will do this AS YOU TYPE in real time. Click on a "
             "title to view the problem and solution."),
        QRect(320, 10, 185, 239));
    // In the free space under the third picture, like the note under the first.
    DataLocation = StepText(thesuggestion, QString(), QRect(8, 201, 309, 50));
    DataLocation->setFont(TahomaFont(11));
    DataLocation->setWordWrap(true);
    DataLocation->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top += 256;
    Column->setFixedSize(kColumnWidth, top);
    setWidget(Column);  // the scroll area owns the column from here on

    resize(kClient);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // The frame's top left is what a window's position names.
        move(screen->availableGeometry().center() -
             QPoint(kOuter.width() / 2, kOuter.height() / 2));
    }
}

THelpForm::~THelpForm() {
    if (HelpForm == this) HelpForm = nullptr;
}

void THelpForm::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    RefreshPictures();
    if (!fshownOnce) {
        fshownOnce = true;
        verticalScrollBar()->setValue(kFirstScroll);
    }
}

void THelpForm::SetDataLocation(const QString& location) {
    // A path has no blanks to wrap at; a zero-width space after each separator gives it some.
    QString breakable = location;
    breakable.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    DataLocation->setText(
        QStringLiteral("Your entries are kept in %1. Knowledge base > Show data folder opens it.")
            .arg(breakable));
    DataLocation->setToolTip(location);
}

void THelpForm::SetPictured(QWidget* problem, QWidget* solution, QWidget* results) {
    fpictured[0] = problem;
    fpictured[1] = solution;
    fpictured[2] = results;
}

void THelpForm::RefreshPictures() {
    QLabel* const pictures[] = {Image1, Image2, Image3};
    for (int i = 0; i < 3; ++i) {
        if (!fpictured[i]) continue;
        QPixmap shot = Snapshot(fpictured[i], pictures[i]->size());
        if (!shot.isNull()) pictures[i]->setPixmap(shot);
    }
}

void THelpForm::ShowAtSolution() {
    if (isVisible()) RefreshPictures();  // showing takes them itself
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    ScrollIntoView(thesolution);
}

void THelpForm::ScrollIntoView(QWidget* w) {
    // Vertical only, and nothing when it is in view: the column is a little wider than the view,
    // so a containment test on both axes would scroll on every call.
    QScrollBar* bar = verticalScrollBar();
    const int top = w->mapTo(Column, QPoint(0, 0)).y();
    const int bottom = top + w->height();
    const int viewHeight = viewport()->height();
    if (top < bar->value())
        bar->setValue(top);
    else if (bottom > bar->value() + viewHeight)
        bar->setValue(std::min(top, bottom - viewHeight));
}

void ShowHelpAtSolution() {
    if (HelpForm) HelpForm->ShowAtSolution();
}
