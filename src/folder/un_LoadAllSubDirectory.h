#pragma once
// The loader thread of a folder load: walks every subfolder of IniPath and
// hands the result over on the user-interface thread.

#include <QString>
#include <QStringList>
#include <QThread>

class TLoadAllThread : public QThread {
    Q_OBJECT
public:
    using QThread::QThread;

    QString IniPath;
    const QStringList& SubDirecArr() const { return setSubDirecArr; }
    // Why the walk failed, empty when it did not; the result is then empty.
    QString FailureMessage() const { return failure_; }

    // Runs on the user-interface thread: AllSubDirectories := the result, LoadFinished := true.
    Q_INVOKABLE void PublishSubDirecArr();

protected:
    void run() override;  // Execute

private:
    QStringList setSubDirecArr;
    QString failure_;
};
