#include "StartUp.h"

#include "Dialogs.h"
#include "Style.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

bool LoadQtChinese()
{
    // Owned by the application, so it lives as long as the texts it translates.
    auto* translator = new QTranslator(qApp);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        std::fprintf(stderr, "velmora: Qt's Chinese translation qtbase_zh_CN is not in %s\n",
                     folder.toLocal8Bit().constData());
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void PrepareApplication(IDialogs& dialogs)
{
    QApplication::setApplicationName(ApplicationTitle());
    LoadQtChinese();
    ApplyCyanNight(dialogs);
}
