// Folder browsing: picking a folder, reloading a page, listing a subfolder.
#include "un_Main.h"

#include "Dialogs.h"
#include "ProgressBar.h"
#include "folder_services.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

namespace {
const QString kPickCaption = QStringLiteral("请选择新的文件夹");
const QString kLoadErrorCaption = QStringLiteral("选择文件夹错误!");
}  // namespace

void Tfrm_main::btn_okClick()
{
    if (auto folder = Dialogs().PickFolder(this, kPickCaption, false))
        edt_Folder->setText(*folder);  // a different text is a change and reloads the page
}

void Tfrm_main::btn_SelectClick()
{
    if (auto folder = Dialogs().PickFolder(this, kPickCaption, false))
        edt_Folder_2->setText(*folder);
}

namespace {
struct PageControls {
    QLineEdit* folder;
    QListWidget* subFolders;
    QListWidget* files;
    const char* stopButton;
    int index;
};
}  // namespace

static void ReloadPage(Tfrm_main& w, const PageControls& page, bool reportFailure)
{
    w.DisEnabledExclude(QString::fromLatin1(page.stopButton));
    w.StopFlag = 0;
    try {
        page.files->clear();
        page.subFolders->clear();
        const QString folder = page.folder->text();
        if (!folder.isEmpty()) {
            w.ProgressBar->SetMax(100);
            w.ProgressBar->SetPosition(0);
            FillFileList(folder, w.CurrentFile, w.StopFlag, w.StaticText1, w.ProgressBar, page.files);
            w.ProgressBar->SetMax(100);
            w.ProgressBar->SetPosition(0);
            FillSubDirectoryList(folder, w.CurrentFile, w.StopFlag, w.StaticText1, w.ProgressBar, page.subFolders,
                                 w.Dialogs(), &w, [&w, &page] { return w.LoadSuperseded(page.index); });
        }
    } catch (const std::exception& e) {
        if (reportFailure)
            w.Dialogs().ShowMessage(&w, kLoadErrorCaption, QString::fromUtf8(e.what()));
    }
    w.EnabledAllButton();
}

void Tfrm_main::ReloadFolder(int page, bool reportFailure)
{
    if (page == 0)
        ReloadPage(*this, {edt_Folder, lst_SubDirectory_1, Lst_FIles_1, "btn_Stop", 0}, reportFailure);
    else
        ReloadPage(*this, {edt_Folder_2, lst_SubDirectory_2, Lst_FIles_2, "btn_Stop_2", 1}, reportFailure);
}

void Tfrm_main::edt_FolderChange()
{
    ReloadFolder(0, true);
}

void Tfrm_main::edt_Folder_2Change()
{
    ReloadFolder(1, true);
}

static void ListSubFolder(Tfrm_main& w, const PageControls& page)
{
    w.DisEnabledExclude(QString::fromLatin1(page.stopButton));
    struct Leave {
        Tfrm_main& w;
        ~Leave() { w.EnabledAllButton(); }
    } leave{w};
    w.ProgressBar->SetMax(100);
    w.ProgressBar->SetPosition(0);
    w.StopFlag = 0;
    page.files->clear();
    QListWidgetItem* selected = page.subFolders->currentItem();
    if (!selected)
        return;  // no selected row: nothing to list
    FillFileList(selected->text(), w.CurrentFile, w.StopFlag, w.StaticText1, w.ProgressBar, page.files);
}

void Tfrm_main::lst_SubDirectory_1Click()
{
    ListSubFolder(*this, {edt_Folder, lst_SubDirectory_1, Lst_FIles_1, "btn_Stop", 0});
}

void Tfrm_main::lst_SubDirectory_2Click()
{
    ListSubFolder(*this, {edt_Folder_2, lst_SubDirectory_2, Lst_FIles_2, "btn_Stop_2", 1});
}
