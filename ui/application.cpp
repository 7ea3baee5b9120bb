#include "ui/application.h"

#include <QFontDatabase>
#include <QIcon>
#include <QWidget>

#include "ui/widgets/dialogs.h"
#include "ui/widgets/qtext.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
        return false;
    }
}

void SetUpApplication() {
    // Only the name: a display name would be appended to every window's caption on X11.
    QApplication::setApplicationName(kApplicationTitle);
    // The desktop matches windows to the desktop entry by this name (Wayland's app ID).
    QGuiApplication::setDesktopFileName(kApplicationId);
    // The icons are linked from a static library: without this their resource would be dropped.
    Q_INIT_RESOURCE(pelloquin);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    }
    QApplication::setWindowIcon(icon);
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/") +
                                          QString::fromLatin1(file));
    }
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + QChar('.');
    return message;
}

void ShowException(const std::exception& e) {
    Dialogs().ShowError(QApplication::activeWindow(), kApplicationTitle,
                        ErrorBoxText(ToQString(e.what())));
}

bool RunHandler(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        ShowException(e);
        return false;
    }
}
