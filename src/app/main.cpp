// Start-up: the application, its title and look, the main window, the message loop.
#include "Dialogs.h"
#include "Style.h"
#include "un_Main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    QtDialogs dialogs;
    ApplyCyanNight(dialogs);
    Tfrm_main frm_main(dialogs);
    // Closing the main window ends the program.
    QObject::connect(&frm_main, &QDialog::finished, &app, &QApplication::quit);
    frm_main.show();
    return app.exec();
}
