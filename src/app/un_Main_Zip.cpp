// Compress and extract: two buttons of page 1 write ZIP archives, four of
// page 2 extract them beside themselves or into a chosen folder. The archive
// work is done by ZipArchive; its progress reports come back through
// OnZipProgressEvent / OnUnZipProgressEvent, which are also where window
// messages run (the loops below do not pump), so the stop button works there.
#include "un_Main.h"

#include "CryptBatch.h"
#include "Dialogs.h"
#include "ListEntries.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "ZipArchive.h"
#include "ZipBatch.h"
#include "folder_services.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <stdexcept>

namespace {
const QString kZipFilter = QStringLiteral("*.zip|*.zip");
const QString kPickTargetCaption = QStringLiteral("选择解压保存目录或创建新保存目录");
const QString kZipFolderFailed = QStringLiteral("文件夹压缩发生错误,程序终止");
const QString kUnZipFolderFailed = QStringLiteral("文件夹解压发生错误,程序终止");
const QString kListZipped = QStringLiteral("列表文件压缩成功！");
const QString kListUnzipped = QStringLiteral("列表文件解压成功！");
const QString kEncryptArchiveQuestion =
    QStringLiteral("是否使用密钥框中的密码加密压缩文件？（AES-256，7-Zip、WinRAR 等可以解压）");

QString FolderDone(const QString& folder, const char* verb)
{
    return QStringLiteral("文件夹") + folder + QString::fromUtf8(verb);
}

// The save dialog's name always gets ".zip", also when it already ends in it.
std::optional<QString> AskArchiveName(Tfrm_main& w)
{
    auto name = w.ShowSaveDialog();
    if (!name || name->isEmpty())
        return std::nullopt;
    return *name + QStringLiteral(".zip");
}

ZipProgress ZipProgressOf(Tfrm_main& w)
{
    return [&w](ZipArchive* s, const std::string& f, const ZipHeader& h, std::int64_t p) {
        w.OnZipProgressEvent(s, f, h, p);
    };
}

ZipProgress UnZipProgressOf(Tfrm_main& w)
{
    return [&w](ZipArchive* s, const std::string& f, const ZipHeader& h, std::int64_t p) {
        w.OnUnZipProgressEvent(s, f, h, p);
    };
}

// Page 1's password edit offers its text for the archive: with Yes the
// archive is encrypted with it, with No (or an empty edit) it is written as
// ever. A password the encryption batches would refuse is refused here too,
// and then no batch starts.
struct ArchivePassword {
    bool start = true;
    QString password;  // empty: not encrypted
};

ArchivePassword AskArchivePassword(Tfrm_main& w)
{
    const QString text = w.edt_Password->text();
    if (text.isEmpty() || !w.Dialogs().AskYesNo(&w, ApplicationTitle(), kEncryptArchiveQuestion))
        return {};
    if (const auto refusal = cryptbatch::PasswordRefusal(text)) {
        w.Dialogs().ShowMessage(&w, ApplicationTitle(), *refusal);
        return {false, {}};
    }
    return {true, text};
}

// The password box of an encrypted archive, through the dialog seam.
zipbatch::AskPassword PasswordBox(Tfrm_main& w)
{
    return [&w](const QString& archive, bool again) {
        const QString text = again ? QStringLiteral("密码不正确，请重新输入：")
                                   : QStringLiteral("压缩文件“") + BareFileName(archive) +
                                         QStringLiteral("”已加密，请输入解压密码：");
        return w.Dialogs().AskPassword(&w, ApplicationTitle(), text);
    };
}

std::optional<QString> PickTarget(Tfrm_main& w)
{
    return w.Dialogs().PickFolder(&w, kPickTargetCaption, true);
}

// The archives among a tree's files.
batch::Entries ArchiveEntries(const QStringList& files)
{
    return {files.size(), [files](qsizetype i) -> std::optional<QString> {
                if (!zipbatch::IsZipArchive(files[i]))
                    return std::nullopt;
                return files[i];
            }};
}

// The files and folders a batch leaves out go to *special, for one box when it ends.
batch::Hooks StopHooks(Tfrm_main& w, QList<LeftOutFile>* special)
{
    batch::Hooks hooks;
    hooks.stop = [&w] { return w.StopFlag != 0; };
    hooks.leftOut = [special](const QString& file, const QString& reason) { special->append({file, reason}); };
    return hooks;
}
}  // namespace

void Tfrm_main::btn_ZipFolderClick()
{
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    // One call compresses the whole folder, so the stop flag plays no part here.
    try {
        ProgressBar->SetPosition(0);
        saveDialogFilter = kZipFilter;
        const ArchivePassword encryption = AskArchivePassword(*this);
        std::optional<QString> archive;
        if (encryption.start && (archive = AskArchiveName(*this))) {
            // The edit stays usable meanwhile; the report names the folder compressed.
            const QString folder = edt_Folder->text();
            QList<LeftOutFile> special;
            zipbatch::ZipFolder(*archive, folder, ZipProgressOf(*this), StopHooks(*this, &special),
                                encryption.password);
            StaticText1->setText(FolderDone(folder, "压缩成功！"));
            ShowLeftOut(special);
        }
    } catch (const std::exception& e) {
        Dialogs().ShowMessage(this, ApplicationTitle(), QString::fromUtf8(e.what()));
        StaticText1->setText(kZipFolderFailed);
    }
    EnabledAllButton();
}

void Tfrm_main::btn_ZipSelectedClick()
{
    StopFlag = 0;
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    ProgressBar->SetPosition(0);
    saveDialogFilter = kZipFilter;
    ZipArchive zip(ZipProgressOf(*this));
    const ArchivePassword encryption = AskArchivePassword(*this);
    zip.SetPassword(encryption.password.toStdString());
    std::optional<QString> archive;
    if (encryption.start && (archive = AskArchiveName(*this))) {
        // The archive exists from its opening on, even if nothing is added.
        QList<LeftOutFile> special;
        batch::Hooks hooks = StopHooks(*this, &special);
        QString ended;
        hooks.failed = [&](const batch::Failure& f) {
            ended = QStringLiteral("压缩文件") + f.file + QStringLiteral("发生错误，错误原因:") + f.reason;
            return false;
        };
        const bool listed = Lst_FIles_1->count() > 0;
        if (!zipbatch::ZipEntries(zip, *archive, CheckedEntries(Lst_FIles_1), hooks, ListSources(Lst_FIles_1)))
            throw std::runtime_error(ended.toUtf8().toStdString());
        if (listed)
            StaticText1->setText(kListZipped);
        ShowLeftOut(special);
    }
    EnabledAllButton();
}

// The two folder-wide extractions: every archive of the tree, beside itself
// or into one chosen folder. A bad archive is reported and the batch goes on.
static void UnZipFolder(Tfrm_main& w, bool toChosenFolder)
{
    // The edit stays usable during the batch; the report names the folder taken here.
    const QString folder = w.edt_Folder_2->text();
    if (folder.isEmpty())
        return;
    w.StopFlag = 0;
    w.DisEnabledExclude(QStringLiteral("btn_Stop_2"));
    std::optional<QString> chosen;
    if (toChosenFolder && !(chosen = PickTarget(w))) {
        w.EnabledAllButton();
        return;
    }
    try {
        w.ProgressBar->SetPosition(0);
        ZipArchive zip;
        // The whole list is taken before anything is extracted, so archives
        // that this batch writes out are not extracted by it as well.
        QList<LeftOutFile> special;
        batch::Hooks hooks = StopHooks(w, &special);
        const QStringList files = GetAllFiles(folder, hooks.FolderSkipped());
        hooks.failed = [&w](const batch::Failure& f) {
            w.Dialogs().ShowMessage(&w, ApplicationTitle(), f.reason);
            return true;
        };
        zipbatch::ExtractEntries(zip, ArchiveEntries(files), chosen, UnZipProgressOf(w), hooks, batch::Sources(folder),
                                 PasswordBox(w));
        w.StaticText1->setText(FolderDone(folder, "解压成功！"));
        w.ShowLeftOut(special);
    } catch (const std::exception& e) {
        w.Dialogs().ShowMessage(&w, ApplicationTitle(), QString::fromUtf8(e.what()));
        w.StaticText1->setText(kUnZipFolderFailed);
    }
    w.EnabledAllButton();
}

void Tfrm_main::btn_UnZipAllSelected_sameClick()
{
    UnZipFolder(*this, false);
}

void Tfrm_main::btn_UnZipAllToSpecifiedClick()
{
    UnZipFolder(*this, true);
}

// The two selected extractions: the checked archives of page 2's list, beside
// themselves or into one chosen folder. The first bad archive ends the batch
// through the default failure report; what was extracted before it stays.
static void UnZipSelected(Tfrm_main& w, bool toChosenFolder)
{
    w.StopFlag = 0;
    w.DisEnabledExclude(QStringLiteral("btn_Stop_2"));
    std::optional<QString> chosen;
    if (toChosenFolder && !(chosen = PickTarget(w))) {
        w.EnabledAllButton();
        return;
    }
    w.ProgressBar->SetPosition(0);
    ZipArchive zip;
    QListWidget* list = w.Lst_FIles_2;
    if (list->count() > 0) {
        QList<LeftOutFile> special;
        batch::Hooks hooks = StopHooks(w, &special);
        QString ended;
        // No archive: the facility's own message; a failure inside one names
        // it. An archive left without its password is named and passed over.
        hooks.failed = [&ended, &w](const batch::Failure& f) {
            if (f.kind == zipbatch::NoPassword) {
                w.Dialogs().ShowMessage(&w, ApplicationTitle(), f.reason);
                return true;
            }
            ended = f.kind == zipbatch::OpenFailed
                        ? f.reason
                        : QStringLiteral("解压文件") + f.file + QStringLiteral("发生错误，错误原因:") + f.reason;
            return false;
        };
        if (!zipbatch::ExtractEntries(zip, CheckedEntries(list, zipbatch::IsZipArchive), chosen, UnZipProgressOf(w), hooks,
                                      ListSources(list), PasswordBox(w)))
            throw std::runtime_error(ended.toUtf8().toStdString());
        w.StaticText1->setText(kListUnzipped);
        w.ShowLeftOut(special);
    }
    w.EnabledAllButton();
}

void Tfrm_main::btn_UnZipSelectedToSpecifiedClick()
{
    UnZipSelected(*this, true);
}

void Tfrm_main::btn_UnZipSelected_sameClick()
{
    UnZipSelected(*this, false);
}

// Both callbacks: a new file is announced with its bare name and restarts the
// bar at 0 of its uncompressed size; further reports of it move the bar.
static void ShowMemberProgress(Tfrm_main& w, const QString& prefix, const std::string& fileName,
                               const ZipHeader& header, std::int64_t position)
{
    const QString file = DecodePath(fileName);
    if (file != w.CurrentFile) {
        w.StaticText1->setText(prefix + BareFileName(file));
        w.CurrentFile = file;
        w.ProgressBar->SetMax(static_cast<std::int64_t>(header.UncompressedSize));
        w.ProgressBar->SetPosition(0);
    } else {
        w.ProgressBar->SetPosition(position);
    }
    PumpMessages();  // a click on the stop button is handled here
}

void Tfrm_main::OnZipProgressEvent(ZipArchive*, const std::string& FileName, const ZipHeader& Header,
                                   std::int64_t Position)
{
    ShowMemberProgress(*this, QStringLiteral("正在压缩文件:"), FileName, Header, Position);
}

void Tfrm_main::OnUnZipProgressEvent(ZipArchive*, const std::string& FileName, const ZipHeader& Header,
                                     std::int64_t Position)
{
    ShowMemberProgress(*this, QStringLiteral("正在解压文件:"), FileName, Header, Position);
}
