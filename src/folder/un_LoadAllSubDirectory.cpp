#include "un_LoadAllSubDirectory.h"

#include "DirWalk.h"
#include "folder_services.h"

void TLoadAllThread::run()
{
    // Whatever happens, the result is handed over: the user-interface thread
    // waits for LoadFinished and must never wait forever.
    if (!isInterruptionRequested()) {
        try {
            // A load the user has moved on from (a newer folder text, the window
            // closing) asks the walk to end: a walk of "/" may never finish.
            const auto walk = dirwalk::SubFolderWalk(EncodePath(IniPath), [this] { return isInterruptionRequested(); });
            if (!isInterruptionRequested())
                for (const std::string& path : walk)
                    setSubDirecArr.append(DecodePath(path));
        } catch (const std::exception& e) {
            setSubDirecArr.clear();
            failure_ = QString::fromUtf8(e.what());
        } catch (...) {
            setSubDirecArr.clear();
            failure_ = QStringLiteral("unknown failure");
        }
    }
    QMetaObject::invokeMethod(this, "PublishSubDirecArr", Qt::BlockingQueuedConnection);
}

void TLoadAllThread::PublishSubDirecArr()
{
    AllSubDirectories = setSubDirecArr;
    LoadFinished = true;
}
