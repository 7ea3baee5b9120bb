// The program: the application object, the main window with the knowledge base beside the
// executable, the hidden view and help windows, and the message loop until the main window
// closes.
#include <clocale>

#include "application.h"
#include "helpformu.h"
#include "mainform.h"
#include "viewform.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    TApplication app(argc, argv);
    SetUpApplication();

    TForm1 form(QCoreApplication::applicationDirPath().toStdString());
    TShowItem showItem;
    ShowItem = &showItem;
    THelpForm helpForm;
    HelpForm = &helpForm;

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form.show();
    const int status = app.exec();
    ShowItem = nullptr;
    HelpForm = nullptr;
    return status;
}
