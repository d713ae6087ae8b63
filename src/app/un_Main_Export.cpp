// File list export: the whole tree of edt_Folder, or the checked entries of
// Lst_FIles_1, one CSV row per file.
#include "un_Main.h"

#include "Dialogs.h"
#include "ListBatch.h"
#include "ListEntries.h"
#include "FileInfo.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "folder_services.h"

#include <functional>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <exception>

namespace {

const QString kListFileFilter = QStringLiteral("*.csv|*.csv");
const QString kSaved = QStringLiteral("列表文件保存成功！");

// The window's side of an export: a file is announced when its path differs
// from the marker, messages run after each row, a failed row is shown in a
// box and the export goes on; folders the walk left out go to *leftOut.
batch::Hooks ExportHooks(Tfrm_main& form, QList<LeftOutFile>* leftOut = nullptr)
{
    batch::Hooks hooks;
    if (leftOut)
        hooks.leftOut = [leftOut](const QString& file, const QString& reason) { leftOut->append({file, reason}); };
    hooks.done = [&form](const QString& path, qsizetype index) {
        if (path != form.CurrentFile) {
            form.StaticText1->setText(QStringLiteral("正在添加文件:") + BareFileName(path) + QStringLiteral("信息"));
            form.CurrentFile = path;
            form.ProgressBar->SetPosition(index + 1);
        }
        PumpMessages();
    };
    hooks.failed = [&form](const batch::Failure& f) {
        form.Dialogs().ShowMessage(&form, ApplicationTitle(), f.reason);
        return true;
    };
    hooks.stop = [&form] { return form.StopFlag != 0; };
    return hooks;
}

// The save dialog's answer; nothing when it was cancelled or left empty.
std::optional<QString> AskListFileName(Tfrm_main& form)
{
    std::optional<QString> name = form.ShowSaveDialog();
    if (!name || name->isEmpty())
        return std::nullopt;
    return name;
}

// The first failed write ends the export with one error box naming its
// cause; the earlier list of that name is kept and no success is reported.
bool ReportedWriteFailure(Tfrm_main& form, const std::function<void()>& writeList)
{
    try {
        writeList();
        return false;
    } catch (const ListFileError& e) {
        form.Dialogs().ShowError(&form, ApplicationTitle(), QString::fromUtf8(e.what()));
        return true;
    }
}

}  // namespace

void Tfrm_main::btn_OutAllFilesClick()
{
    // 1. Start the action.
    StopFlag = 0;
    ProgressBar->SetPosition(0);
    saveDialogFilter = kListFileFilter;
    DisEnabledExclude(QStringLiteral("btn_Stop"));

    // 2. Ask for the list file.
    const std::optional<QString> name = AskListFileName(*this);
    if (!name) {
        EnabledAllButton();
        return;
    }

    // 3. Create it with its header. ".csv" is added whatever the name ends in.
    FileListWriter out(*name + QStringLiteral(".csv"));
    QList<LeftOutFile> leftOut;
    const batch::Hooks hooks = ExportHooks(*this, &leftOut);
    const bool failed = ReportedWriteFailure(*this, [&] {
        out.WriteLine(listbatch::AllFilesHeader());

        // 4. One row for every file of the tree. A folder text that names no
        // folder throws: no list is put in place and the failure is reported
        // instead of a success.
        const QString folder = edt_Folder->text();
        if (!folder.isEmpty()) {
            const QStringList files = GetAllFiles(folder, hooks.FolderSkipped());
            ProgressBar->SetMax(files.size());
            listbatch::WriteRows(out, batch::Entries::Of(files), hooks);
        }

        // 5. Close, which puts the list in place.
        out.Close();
    });

    // 6. Report, also after a stop.
    if (!failed)
        Dialogs().ShowMessage(this, ApplicationTitle(), kSaved);
    ShowLeftOut(leftOut);

    // 7.
    EnabledAllButton();
}

void Tfrm_main::btn_OutFilesClick()
{
    // 1. Start the action.
    StopFlag = 0;
    ProgressBar->SetPosition(0);
    saveDialogFilter = kListFileFilter;
    DisEnabledExclude(QStringLiteral("btn_Stop"));

    // 2. Ask for the list file.
    const std::optional<QString> name = AskListFileName(*this);
    // 3. An empty list writes nothing and says nothing.
    if (!name || Lst_FIles_1->count() == 0) {
        EnabledAllButton();
        return;
    }

    // 4. Create the file with its header; the bar counts the checked entries.
    FileListWriter out(*name + QStringLiteral(".csv"));
    const bool failed = ReportedWriteFailure(*this, [&] {
        out.WriteLine(listbatch::CheckedFilesHeader());
        std::int64_t checked = 0;
        for (int i = 0; i < Lst_FIles_1->count(); ++i)
            if (Lst_FIles_1->item(i)->checkState() == Qt::Checked)
                ++checked;
        ProgressBar->SetMax(checked);

        // 5. One row per checked entry; the bar shows the entry's place in the
        // whole list, so it fills early when unchecked entries come first.
        listbatch::WriteRows(out, CheckedEntries(Lst_FIles_1), ExportHooks(*this));
        out.Close();
    });

    // 6. Report, also after a stop or with nothing checked.
    if (!failed)
        Dialogs().ShowMessage(this, ApplicationTitle(), kSaved);

    // 7.
    EnabledAllButton();
}
