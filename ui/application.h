// The application object: its title, its identity on the desktop, the fonts it ships with, and
// the top-level error handler that every user-interface handler relies on. An error leaving a
// handler is shown in an error box titled with the application title and the program goes on
// running.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>

inline const QString kApplicationTitle = QStringLiteral("Pelloquin?!?! Tromsel Veru v1.0");
// The desktop's name for the program: its desktop entry, metainfo and icon are named by it.
inline const QString kApplicationId = QStringLiteral("org.pelloquin.Pelloquin");

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Sets the application title, the desktop entry's name and every window's icon, and loads the
// bundled fonts (Tahoma, MS Sans Serif) when present.
void SetUpApplication();

// The text an error box shows for message: a "." is added when its last character sorts after ".".
QString ErrorBoxText(const QString& message);

// Shows e the way the top-level handler does.
void ShowException(const std::exception& e);

// Runs handler, showing any error that leaves it; true when it completed.
bool RunHandler(const std::function<void()>& handler);
