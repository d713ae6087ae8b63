#pragma once
// The waiting thread of a folder load: animates "正在加载中" with dots in the
// status line every 100 ms until it is asked to end.

#include <QThread>

class QLabel;

class TWaitingThread : public QThread {
    Q_OBJECT
public:
    using QThread::QThread;
    QLabel* ST = nullptr;

protected:
    void run() override;  // Execute

private:
    void Write(const QString& text);
};
