// The program: the one place where its parts are made and wired. The application object, the
// session on the knowledge base the user chose (the file in its folder, beside the executable or
// in the user's data folder when installed, or an office server), the main window over it with
// the checks that follow its first opening, the hidden help window, and the message loop until
// the main window closes.
#include <clocale>

#include "core/store/storechoice.h"
#include "ui/application.h"
#include "ui/helpformu.h"
#include "ui/mainform.h"
#include "ui/session.h"
#include "ui/startupchecks.h"
#include "ui/widgets/uipanel.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    TApplication app(argc, argv);
    SetUpApplication();

    TSession session(CurrentChoice());
    TForm1 form(session);
    TStartUpChecks startUpChecks(session, &form);
    THelpForm helpForm;
    HelpForm = &helpForm;
    helpForm.SetPictured(form.Panel2, form.Panel3, form.Panel7);
    QObject::connect(&form, &TForm1::helpRequested, &helpForm, &THelpForm::ShowAtSolution);
    QObject::connect(&session, &TSession::opened, &helpForm,
                     [&] { helpForm.SetDataLocation(session.LocationText()); });

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form.show();
    const int status = app.exec();
    HelpForm = nullptr;
    return status;
}
