#include "un_Waiting.h"

#include <QLabel>

void TWaitingThread::Write(const QString& text)
{
    // A synchronous set-text message: the user-interface thread keeps pumping while it waits for us.
    QMetaObject::invokeMethod(ST, "setText", Qt::BlockingQueuedConnection, Q_ARG(QString, text));
}

void TWaitingThread::run()
{
    const QString base = QStringLiteral("正在加载中");
    QString text = base;
    Write(text);
    int n = 0;
    for (;;) {
        text += QLatin1Char('.');
        if (++n == 10) {
            text = base;
            n = 0;
        }
        Write(text);
        if (isInterruptionRequested())
            break;
        msleep(100);
    }
    Write(QStringLiteral("停止加载"));
}
