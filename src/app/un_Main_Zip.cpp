// Compress and extract: two buttons of page 1 write ZIP archives, four of
// page 2 extract them beside themselves or into a chosen folder. The archive
// work is done by ZipArchive; its progress reports come back through
// OnZipProgressEvent / OnUnZipProgressEvent, which are also where window
// messages run (the loops below do not pump), so the stop button works there.
#include "un_Main.h"

#include "Dialogs.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "ZipArchive.h"
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

QString FolderDone(const QString& folder, const char* verb)
{
    return QStringLiteral("文件夹") + folder + QString::fromUtf8(verb);
}

// "压缩文件" / "解压文件" + path + "发生错误，错误原因:" + message, as a
// failure that reaches the window's default failure report.
std::runtime_error FileFailure(const char* verb, const QString& path, const std::exception& cause)
{
    const QString text = QString::fromUtf8(verb) + path + QStringLiteral("发生错误，错误原因:")
                         + QString::fromUtf8(cause.what());
    return std::runtime_error(text.toUtf8().toStdString());
}

// Only the exact, lower-case ".zip" counts: B.ZIP and c.Zip are skipped.
bool IsZipArchive(const QString& path)
{
    const QString name = BareFileName(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && name.mid(dot) == QLatin1String(".zip");
}

// The save dialog's name always gets ".zip", also when it already ends in it.
std::optional<QString> AskArchiveName(Tfrm_main& w)
{
    auto name = w.ShowSaveDialog();
    if (!name || name->isEmpty())
        return std::nullopt;
    return *name + QStringLiteral(".zip");
}

bool IsChecked(QListWidget* list, int index)
{
    return list->item(index)->checkState() == Qt::Checked;
}

// Closing after a failure only releases the file; its own failure would hide the first one.
void CloseQuietly(ZipArchive& zip)
{
    try {
        zip.Close();
    } catch (const std::exception&) {
    }
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

void AddToArchive(ZipArchive& zip, const QString& path)
{
    try {
        zip.Add(EncodePath(path), std::string(), ZipMethod::Deflate);
    } catch (const std::exception& e) {
        // Finish the archive with the members added so far before reporting,
        // so a failed entry never leaves a broken archive behind.
        CloseQuietly(zip);
        throw FileFailure("压缩文件", path, e);
    }
}

// Extracts the archive opened in zip into target, reporting through OnUnZipProgressEvent.
void ExtractOpenArchive(Tfrm_main& w, ZipArchive& zip, const QString& target)
{
    zip.SetOnProgress(UnZipProgressOf(w));
    zip.ExtractAll(EncodePath(target));
    zip.Close();
}

std::optional<QString> PickTarget(Tfrm_main& w)
{
    return w.Dialogs().PickFolder(&w, kPickTargetCaption, true);
}
}  // namespace

void Tfrm_main::btn_ZipFolderClick()
{
    DisEnabledExclude(QStringLiteral("btn_Stop"));
    // One call compresses the whole folder, so the stop flag plays no part here.
    try {
        ProgressBar->SetPosition(0);
        saveDialogFilter = kZipFilter;
        if (auto archive = AskArchiveName(*this)) {
            // The edit stays usable meanwhile; the report names the folder compressed.
            const QString folder = edt_Folder->text();
            ZipArchive::ZipDirectoryContents(EncodePath(*archive), EncodePath(folder), ZipMethod::Deflate,
                                             ZipProgressOf(*this));
            StaticText1->setText(FolderDone(folder, "压缩成功！"));
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
    if (auto archive = AskArchiveName(*this)) {
        zip.Open(EncodePath(*archive), ZipMode::Write);  // the archive exists from here on
        if (Lst_FIles_1->count() > 0) {
            for (int i = 0; i < Lst_FIles_1->count(); ++i) {
                if (IsChecked(Lst_FIles_1, i))
                    AddToArchive(zip, Lst_FIles_1->item(i)->text());
                if (StopFlag)
                    break;
            }
            StaticText1->setText(kListZipped);
        }
        zip.Close();
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
        const QStringList files = GetAllFiles(folder);
        for (const QString& path : files) {
            if (IsZipArchive(path)) {
                try {
                    zip.Open(EncodePath(path), ZipMode::Read);
                    ExtractOpenArchive(w, zip, chosen ? *chosen : FolderPart(path));
                } catch (const std::exception& e) {
                    CloseQuietly(zip);
                    w.Dialogs().ShowMessage(&w, ApplicationTitle(), QString::fromUtf8(e.what()));
                }
            }
            if (w.StopFlag)
                break;
        }
        w.StaticText1->setText(FolderDone(folder, "解压成功！"));
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
        for (int i = 0; i < list->count(); ++i) {
            const QString path = list->item(i)->text();
            if (IsChecked(list, i) && IsZipArchive(path)) {
                zip.Open(EncodePath(path), ZipMode::Read);  // no archive: the facility's own message
                try {
                    ExtractOpenArchive(w, zip, chosen ? *chosen : FolderPart(path));
                } catch (const std::exception& e) {
                    CloseQuietly(zip);
                    throw FileFailure("解压文件", path, e);
                }
            }
            if (w.StopFlag)
                break;
        }
        w.StaticText1->setText(kListUnzipped);
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
