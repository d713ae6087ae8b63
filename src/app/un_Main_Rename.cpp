// Batch rename: every file of the folder tree, or the checked files of page 1,
// renamed by the rule the user gives in the rule dialog.
#include "un_Main.h"

#include "Dialogs.h"
#include "ProgressBar.h"
#include "RenameJournal.h"
#include "Pump.h"
#include "RuleLanguage.h"
#include "ShownProgress.h"
#include "folder_services.h"
#include "un_Rule.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <exception>
#include <memory>
#include <stdexcept>

namespace {

const QString kChanging = QStringLiteral("正在更改文件:");
const QString kAllDone = QStringLiteral("文件名已修改完成");
const QString kSelectedDone = QStringLiteral("选中文件名修改完成！");

// Creates the rule dialog, shows it modally and makes sure it is closed. The
// caller owns it until the batch ends, whichever way that is.
std::unique_ptr<Tfrm_Rule> ShowRuleDialog(Tfrm_main& w)
{
    auto dlg = std::make_unique<Tfrm_Rule>(w.Dialogs(), &w);
    if (w.ruleDialogHook) {
        dlg->show();
        w.ruleDialogHook(*dlg);
    } else {
        dlg->exec();
    }
    if (!dlg->frmclosed)
        dlg->close();
    return dlg;
}

RenameRule RuleOf(const Tfrm_Rule& dlg)
{
    return {dlg.ChangeType, dlg.outstrRule, dlg.oldstr, dlg.replacestr, dlg.replaceType};
}

// Runs a batch; when it fails, page 1 is reloaded so the lists show the names
// as they now are, and the failure goes on to the window's failure report,
// the one box the user sees for it.
template <typename Batch>
void ReloadingOnFailure(Tfrm_main& w, std::unique_ptr<Tfrm_Rule>& dlg, Batch batch)
{
    std::exception_ptr failure;
    try {
        batch();
        return;
    } catch (...) {
        failure = std::current_exception();
    }
    dlg.reset();
    w.ReloadFolder(0, false);
    std::rethrow_exception(failure);
}

QStringList CheckedPaths(const QListWidget* list)
{
    QStringList paths;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
            paths << list->item(i)->text();
    return paths;
}

}  // namespace

void Tfrm_main::btn_ChangeAllFileNameClick()
{
    auto dlg = ShowRuleDialog(*this);
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    StopFlag = 0;
    ProgressBar->SetPosition(0);
    if (edt_Folder->text().isEmpty()) {
        EnabledAllButton();
        return;
    }
    QList<LeftOutFile> leftOut;
    ReloadingOnFailure(*this, dlg, [&] {
        const QStringList files = GetAllFiles(edt_Folder->text(), [&leftOut](const QString& folder, const QString& reason) {
            leftOut.append({folder, reason});
        });
        ProgressBar->SetMax(files.size());
        const bool replacing = dlg->ChangeType == 2;
        ShownProgress shown(StaticText1, ProgressBar);
        RunRenamePlan(PlanRenames(files, RuleOf(*dlg)), edt_Folder->text(), [&](int i) {
            const QString& path = files[i];
            if (replacing) {
                shown.SetPosition(i + 1);
                shown.SetText(kChanging, BareFileName(path));
            } else if (path != CurrentFile) {
                shown.SetText(kChanging, BareFileName(path));
                CurrentFile = path;
                shown.SetPosition(i + 1);
            }
            shown.BeforePump();
            PumpMessages();
            return StopFlag == 0;
        });
    });
    dlg.reset();
    edt_FolderChange();
    StaticText1->setText(kAllDone);
    ShowLeftOut(leftOut);
    EnabledAllButton();
}

void Tfrm_main::btn_ChangeSelectedNameClick()
{
    auto dlg = ShowRuleDialog(*this);
    StopFlag = 0;
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    if (Lst_FIles_1->count() > 0) {
        // Taken before the first rename: a folder load inside the message pump
        // must not change what this batch renames.
        const QStringList checked = CheckedPaths(Lst_FIles_1);
        ProgressBar->SetPosition(0);
        ProgressBar->SetMax(checked.size());
        ReloadingOnFailure(*this, dlg, [&] {
            ShownProgress shown(StaticText1, ProgressBar);
            RunRenamePlan(PlanRenames(checked, RuleOf(*dlg)), edt_Folder->text(), [&](int i) {
                shown.SetPosition(i + 1);
                shown.SetText(kChanging, BareFileName(checked[i]));
                shown.BeforePump();
                PumpMessages();
                return StopFlag == 0;
            });
        });
        dlg.reset();
        StaticText1->setText(kSelectedDone);
    }
    dlg.reset();  // an empty list skips the completion text, not the freeing
    edt_FolderChange();
    EnabledAllButton();
}

namespace {

QString UndoQuestion(const RenameUndo& undo)
{
    return QStringLiteral("撤销上次批量改名：将文件夹“%1”中的 %2 个文件恢复为原来的名称。是否继续？")
        .arg(undo.Journal().folder)
        .arg(undo.DoneCount());
}

ListedBox UndoFailures(const std::vector<UndoFailure>& failed)
{
    QStringList entries;
    for (const UndoFailure& f : failed)
        entries << f.step.newPath + QStringLiteral(" → ") + BareFileName(f.step.oldPath) + QStringLiteral("（")
                       + f.reason + QStringLiteral("）");
    return ListInBox(QStringLiteral("以下 %1 个改名未能撤销，这些文件保持现状：").arg(failed.size()), entries);
}

}  // namespace

void Tfrm_main::UndoLastRenameClick()
{
    // Held until the undo ends: no batch starts meanwhile. Another one
    // running, or a journal that can't be trusted, ends here with its message.
    RenameUndo undo;
    if (!undo.Pending() || !Dialogs().AskYesNo(this, QStringLiteral("撤销上次批量改名"), UndoQuestion(undo)))
        return;
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    const std::vector<UndoFailure> failed = undo.Run({});  // what could not be undone stays as it is, and is named once
    if (!failed.empty()) {
        const ListedBox box = UndoFailures(failed);
        Dialogs().ShowError(this, ApplicationTitle(), box.text, box.details);
    }
    edt_FolderChange();
    EnabledAllButton();
}
