// Start-up: the application, its title, texts and look, the main window, the message loop.
#include "Dialogs.h"
#include "StartUp.h"
#include "folder_services.h"
#include "un_Main.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    PrepareApplication(dialogs);
    Tfrm_main frm_main(dialogs);
    // Closing the main window ends the program.
    QObject::connect(&frm_main, &QDialog::finished, &app, &QApplication::quit);
    frm_main.show();
    // A folder or archive to open (QApplication has taken its own options out
    // of argv). Names are decoded as file names, so one that is not UTF-8 still
    // names the same file. Opened once the window is up, so the load shows.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << DecodePath(argv[i]);
    QTimer::singleShot(0, &frm_main, [&frm_main, arguments] { frm_main.OpenStartArguments(arguments); });
    return app.exec();
}
