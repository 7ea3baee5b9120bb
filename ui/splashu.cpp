// The splash window is a frameless top-level widget 1 pixel larger on every side than its client
// area, which holds the pictures, the name, and the two strips. RunSplashSequence shows it, waits
// until the window system has it on screen so that the first status text is really seen, then
// steps through the status texts, each time painting at once and processing what is pending
// (input excepted: the program takes none during the splash) before the blocking wait.
#include "ui/splashu.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "ui/splashart.h"
#include "ui/widgets/fonts.h"
#include "ui/widgets/uipanel.h"

TSplash* Splash = nullptr;

namespace {

constexpr int kBorder = 1;
constexpr QSize kClient(491, 300);
constexpr int kStatusWidth = 260;
const QColor kStrip(240, 240, 240);

QLabel* Picture(QWidget* parent, const QPixmap& pixmap, QRect place) {
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setGeometry(place);
    return label;
}

void StandardWait(TSplash&, int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TSplashWait& CurrentWait() {
    static TSplashWait wait = StandardWait;
    return wait;
}

void ProcessPending() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Keeps Splash pointing at the window of the running sequence, and clears it on every way out.
class TSplashReference {
public:
    explicit TSplashReference(TSplash* splash) { Splash = splash; }
    ~TSplashReference() { Splash = nullptr; }
    TSplashReference(const TSplashReference&) = delete;
    TSplashReference& operator=(const TSplashReference&) = delete;
};

// A window that is shown is not yet on screen; painting before that would paint nothing.
void WaitUntilExposed(QWidget& window) {
    QElapsedTimer timer;
    timer.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
           timer.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
}

void Step(TSplash& splash, const QString& status, int milliseconds) {
    splash.SetStatus(status);
    splash.repaint();
    ProcessPending();
    CurrentWait()(splash, milliseconds);
}

}  // namespace

TSplash::TSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    resize(kClient.width() + 2 * kBorder, kClient.height() + 2 * kBorder);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    ClientArea = new QWidget(this);
    ClientArea->setGeometry(QRect(QPoint(kBorder, kBorder), kClient));

    // Later siblings lie on top: the strips cover the name's upper leading, as designed.
    Image2 = Picture(ClientArea, SplashBackground(), QRect(-160, -96, 569, 500));
    Image1 = Picture(ClientArea, SplashLogo(), QRect(384, 192, 100, 48));

    Label1 = new QLabel(QStringLiteral("Pelloquin"), ClientArea);
    Label1->setFont(TahomaFont(80));
    // The design's Tahoma puts its baseline a full character height (80) below the label's top,
    // just clearing the strip; a face with a smaller ascent gets the difference as a margin, so
    // the name is not cut by the strip that lies over it.
    Label1->setContentsMargins(0, std::max(0, 80 - Label1->fontMetrics().ascent()), 0, 0);
    Label1->move(56, 16);
    Label1->adjustSize();

    Panel1 = new TPanel(ClientArea, QSize(kClient.width(), 33));
    Panel1->move(0, 0);
    Panel1->SetColor(kStrip);
    Panel1Caption =
        new QLabel(QStringLiteral("Tromsel for Small Office / Home Office v1.0"), Panel1);
    Panel1Caption->setFont(TahomaFont(19));
    Panel1Caption->setAlignment(Qt::AlignCenter);
    Panel1->Place(Panel1Caption, QRect(0, 0, kClient.width(), 33),
                  akLeft | akTop | akRight | akBottom);

    Panel4 = new TPanel(ClientArea, QSize(kClient.width(), 23));
    Panel4->move(0, kClient.height() - 23);
    Panel4->SetColor(kStrip);
    StatusText = new QLabel(Panel4);
    StatusText->setFont(TahomaFont(19));
    StatusText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette magenta = StatusText->palette();
    magenta.setColor(QPalette::WindowText, QColor(179, 0, 179));
    StatusText->setPalette(magenta);
    SetStatus(QStringLiteral("...Loading Korvax vector data...."));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    FormCreate();
}

void TSplash::FormCreate() {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSplash::FormShow() {
    Panel1->repaint();
}

void TSplash::SetStatus(const QString& text) {
    StatusText->setText(text);
    // A little room beyond the text, so that the last dot is never clipped.
    const int needed = StatusText->fontMetrics().horizontalAdvance(text) + 4;
    const int width = std::min(kClient.width(), std::max(kStatusWidth, needed));
    StatusText->setGeometry(kClient.width() - width, 0, width, Panel4->height());
}

void TSplash::paintEvent(QPaintEvent*) {
    // Opaque: the border and every part of the client area that no picture covers are white.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
}

void TSplash::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

TSplashWait SetSplashWait(TSplashWait wait) {
    TSplashWait previous = std::move(CurrentWait());
    CurrentWait() = wait ? std::move(wait) : TSplashWait(StandardWait);
    return previous;
}

void NoSplashWait(TSplash&, int) {}

void RunSplashSequence() {
    {
        auto splash = std::make_unique<TSplash>();
        TSplashReference reference(splash.get());
        splash->show();
        WaitUntilExposed(*splash);
        ProcessPending();
        Step(*splash, QStringLiteral("...Welcome to Pelloquin..."), 1000);
        Step(*splash, QStringLiteral("...Loading Korvax problem/solution vectors..."), 500);
        Step(*splash, QStringLiteral("...Ready..."), 500);
        splash->hide();
        ProcessPending();
    }
}
