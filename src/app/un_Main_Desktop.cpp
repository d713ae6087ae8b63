// The window among the desktop's other programs: a folder or an archive named
// on the command line (as a file manager's "Open with" does), and the context
// menu of the four lists (open, show in its folder, copy paths, undo renames).
#include "un_Main.h"

#include "Dialogs.h"
#include "RenameJournal.h"
#include "folder_services.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>
#include <QUrl>
#include <exception>
#include <memory>

namespace {

// A path as the user gave it: a file: URL becomes its path, a relative path is
// taken from the current folder; "." and ".." and a trailing "/" are dropped.
QString AbsoluteArgument(const QString& argument)
{
    QString path = argument;
    if (path.startsWith(QLatin1String("file:")))
        path = QUrl(path).toLocalFile();
    if (path.isEmpty())
        return argument;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Whether the path names a file, asked by its bytes: QFileInfo would ask by
// a name that loses the bytes that aren't UTF-8.
bool IsFile(const QString& path)
{
    struct stat st{};
    try {
        return ::stat(EncodePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    } catch (const std::exception&) {
        return false;
    }
}

// Only names ending in ".zip" exactly are archives to the extract batches.
bool IsArchive(const QFileInfo& info)
{
    return IsFile(info.filePath()) && info.fileName().endsWith(QLatin1String(".zip"));
}

void CheckOnly(QListWidget* list, const QString& path)
{
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(list->item(i)->text() == path ? Qt::Checked : Qt::Unchecked);
}

// The file: URL of a path, from its file-system bytes, so a name that is not
// UTF-8 still names the same file.
QUrl FileUrl(const QString& path)
{
    return QUrl::fromEncoded("file://" + QByteArray::fromStdString(EncodePath(path)).toPercentEncoding("/"));
}

QString ContainingFolder(const QString& path)
{
    const QString folder = FolderPart(path);
    return folder.size() > 1 && folder.endsWith(QLatin1Char('/')) ? folder.chopped(1) : folder;
}

QStringList SelectedPaths(const QListWidget* list)
{
    QStringList paths;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            paths << list->item(i)->text();
    return paths;
}

}  // namespace

void Tfrm_main::OpenStartArguments(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return;
    const QString path = AbsoluteArgument(arguments.first());
    const QFileInfo info(path);
    if (IsArchive(info)) {
        edt_Folder_2->setText(info.absolutePath());  // a change of the text loads the page
        CheckOnly(Lst_FIles_2, JoinPath(info.absolutePath(), info.fileName()));
        PageControl1->setCurrentIndex(1);
        return;
    }
    if (IsFile(path)) {
        edt_Folder->setText(info.absolutePath());
        CheckOnly(Lst_FIles_1, JoinPath(info.absolutePath(), info.fileName()));
    } else {
        // A folder, or a name that names nothing: each page shows its own error box then.
        edt_Folder->setText(path);
        edt_Folder_2->setText(path);
    }
    PageControl1->setCurrentIndex(0);
}

void Tfrm_main::InstallContextMenus()
{
    for (QListWidget* list : {Lst_FIles_1, Lst_FIles_2, lst_SubDirectory_1, lst_SubDirectory_2}) {
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this,
                [this, list](const QPoint& pos) { ShowListMenu(list, pos); });
    }
    // Several files can be chosen for "复制路径"; the check marks stay what the batches go by.
    Lst_FIles_1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Lst_FIles_2->setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void Tfrm_main::ShowListMenu(QListWidget* list, const QPoint& pos)
{
    auto menu = std::make_unique<QMenu>(this);
    const QListWidgetItem* item = list->itemAt(pos);
    const QString path = item ? item->text() : QString();
    // Menus open without waiting (popup, not exec), so one opened during a
    // batch can't hold it; while a batch runs every entry is greyed.
    const bool idle = !ActionRunning();
    const auto add = [&](const char* text, bool enabled, std::function<void()> run) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setEnabled(idle && enabled);
        connect(action, &QAction::triggered, this, [this, run] {
            RunLater([this, run] {
                if (!ActionRunning())
                    RunAction(run);
            });
        });
    };
    const bool onEntry = item != nullptr;
    add("打开", onEntry, [this, path] { OpenPath(path); });
    add("打开所在文件夹", onEntry, [this, path] { OpenPath(ContainingFolder(path)); });
    add("复制路径", onEntry, [list, path] {
        const QStringList selected = SelectedPaths(list);  // the clicked entry when none is selected
        QGuiApplication::clipboard()->setText(selected.isEmpty() ? path : selected.join(QLatin1Char('\n')));
    });
    if (list == Lst_FIles_1) {
        menu->addSeparator();
        add("撤销上次批量改名", HasRenameJournal(), [this] { UndoLastRenameClick(); });
    }
    if (contextMenuHook) {
        contextMenuHook(*menu);
        return;
    }
    QMenu* shown = menu.release();
    connect(shown, &QMenu::aboutToHide, shown, &QObject::deleteLater);
    shown->popup(list->viewport()->mapToGlobal(pos));
}

void Tfrm_main::OpenPath(const QString& path)
{
    const QUrl url = FileUrl(path);
    const bool opened = openUrlHook ? openUrlHook(url) : QDesktopServices::openUrl(url);
    if (!opened)
        Dialogs().ShowError(this, ApplicationTitle(), QStringLiteral("无法打开：") + path);
}
