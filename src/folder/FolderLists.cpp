// The widget half of the folder services: filling a page's file list and its
// subfolder list, the latter from a walk on the loader thread.
#include "folder_services.h"

#include "DirWalk.h"
#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "un_LoadAllSubDirectory.h"
#include "un_Waiting.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <memory>
#include <stdexcept>

QStringList AllSubDirectories;
bool LoadFinished = false;

namespace {

QListWidgetItem* MakeFileItem(const QString& path)
{
    auto* item = new QListWidgetItem(path);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    return item;
}

// One background load: the waiting thread and the loader, released on every
// way out (steps 6 to 9), pumping so the waiting thread's last writes get through.
class BackgroundLoad {
public:
    BackgroundLoad(const QString& folder, QLabel* status)
    {
        waiter_ = std::make_unique<TWaitingThread>();
        waiter_->ST = status;
        waiter_->start();
        LoadFinished = false;
        loader_ = std::make_unique<TLoadAllThread>();
        loader_->IniPath = folder;
        loader_->start();
    }

    ~BackgroundLoad()
    {
        Release(loader_);
        Release(waiter_);
    }

    // Step 4: wait for the hand-over, sleeping until a message arrives
    // instead of spinning a core; the window stays responsive meanwhile.
    void AwaitResult(const std::function<bool()>& superseded)
    {
        while (!LoadFinished) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (superseded && superseded())
                loader_->requestInterruption();
        }
    }

    QString FailureMessage() const { return loader_->FailureMessage(); }

private:
    template <typename Thread>
    static void Release(std::unique_ptr<Thread>& thread)
    {
        if (!thread)
            return;
        thread->requestInterruption();
        while (!thread->wait(5))
            QCoreApplication::processEvents();
        thread.reset();
    }

    std::unique_ptr<TWaitingThread> waiter_;
    std::unique_ptr<TLoadAllThread> loader_;
};

}  // namespace

void FillFileList(const QString& folder, QString marker, const std::int32_t& stopFlag, QLabel* status,
                  TProgressBar* progress, QListWidget* list)
{
    list->clear();
    const QStringList files = DecodePaths(dirwalk::FilesOf(EncodePath(folder)));
    const qsizetype total = files.size();
    qsizetype done = 0;
    for (const QString& path : files) {
        list->addItem(MakeFileItem(path));
        ++done;
        if (path != marker) {
            status->setText(QStringLiteral("添加目录:") + path);
            marker = path;
            progress->SetPosition(done * 100 / total);
        }
        PumpMessages();
        if (stopFlag != 0)
            break;
    }
    status->setText(QStringLiteral("目录添加完成"));
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(Qt::Checked);
}

void FillSubDirectoryList(const QString& folder, QString marker, const std::int32_t& stopFlag, QLabel* status,
                          TProgressBar* progress, QListWidget* list, IDialogs& dialogs, QWidget* boxParent,
                          const std::function<bool()>& superseded)
{
    try {
        list->clear();
        {
            BackgroundLoad load(folder, status);
            load.AwaitResult(superseded);
            if (!load.FailureMessage().isEmpty())
                throw std::runtime_error(load.FailureMessage().toStdString());
            const QStringList paths = AllSubDirectories;
            if (!paths.isEmpty()) {
                progress->SetPosition(0);
                progress->SetMax(100);
                const qsizetype total = paths.size();
                for (qsizetype i = 0; i < total; ++i) {
                    list->addItem(paths[i]);
                    if (paths[i] != marker) {
                        status->setText(QStringLiteral("添加目录:") + paths[i]);
                        marker = paths[i];
                        progress->SetPosition((i + 1) * 100 / total);
                    }
                    PumpMessages();
                    if (stopFlag != 0)
                        break;
                }
            }
        }  // both threads ended and released here, also after a failure
        status->setText(QStringLiteral("目录添加完成"));
    } catch (const std::exception& e) {
        dialogs.ShowMessage(boxParent, ApplicationTitle(), QString::fromUtf8(e.what()));
    }
}
