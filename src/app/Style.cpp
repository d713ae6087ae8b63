#include "Style.h"

#include "Dialogs.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyleFactory>

static void InitResources()
{
    // The look is compiled into this static library; register it with Qt.
    Q_INIT_RESOURCE(resources);
}

bool ApplyCyanNight(IDialogs& dialogs, const char* resourcePath)
{
    InitResources();
    QFile file(QString::fromUtf8(resourcePath));
    if (!file.open(QIODevice::ReadOnly)) {
        dialogs.ShowError(nullptr, ApplicationTitle(),
                          QStringLiteral("无法应用界面风格 \"Cyan Night\"：") + QString::fromUtf8(resourcePath));
        return false;
    }
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x1b, 0x25, 0x30));
    palette.setColor(QPalette::WindowText, QColor(0xd8, 0xee, 0xf2));
    palette.setColor(QPalette::Base, QColor(0x12, 0x1a, 0x22));
    palette.setColor(QPalette::AlternateBase, QColor(0x1f, 0x2d, 0x38));
    palette.setColor(QPalette::Text, QColor(0xe6, 0xfb, 0xff));
    palette.setColor(QPalette::Button, QColor(0x23, 0x34, 0x42));
    palette.setColor(QPalette::ButtonText, QColor(0xe6, 0xfb, 0xff));
    palette.setColor(QPalette::Highlight, QColor(0x17, 0x8a, 0x9a));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x24, 0x33, 0x41));
    palette.setColor(QPalette::ToolTipText, QColor(0xe6, 0xfb, 0xff));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x5b, 0x6f, 0x7a));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x5b, 0x6f, 0x7a));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x5b, 0x6f, 0x7a));
    QApplication::setPalette(palette);
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}
