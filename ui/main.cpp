// The program: the application object, the main window on the knowledge base the user chose (the
// file in its folder, beside the executable or in the user's data folder when installed, or an
// office server), the hidden help window, and the message loop until the main window closes.
#include <clocale>

#include "ui/application.h"
#include "ui/helpformu.h"
#include "ui/kbmenu.h"
#include "ui/mainform.h"
#include "core/store/storechoice.h"
#include "ui/widgets/uipanel.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    TApplication app(argc, argv);
    SetUpApplication();

    TForm1 form(CurrentChoice());
    form.KnowledgeBaseMenu().SetStartUpChecks(true);
    THelpForm helpForm;
    HelpForm = &helpForm;
    helpForm.SetPictured(form.Panel2, form.Panel3, form.Panel7);
    QObject::connect(&form, &TForm1::helpRequested, &helpForm, &THelpForm::ShowAtSolution);
    QObject::connect(&form.KnowledgeBaseMenu(), &TKnowledgeBaseMenu::locationChanged, &helpForm,
                     &THelpForm::SetDataLocation);

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    form.show();
    const int status = app.exec();
    HelpForm = nullptr;
    return status;
}
