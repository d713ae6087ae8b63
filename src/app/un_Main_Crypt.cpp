// Encrypt and decrypt batches: the checked files of a page's list into one
// flat target folder, or a whole folder tree reproduced under a target folder,
// each with its "note.txt" log beside the targets.
#include "un_Main.h"

#include "CryptBatch.h"
#include "Dialogs.h"
#include "ListEntries.h"
#include "ProgressBar.h"
#include "Pump.h"
#include "folder_services.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <stdexcept>

using cryptbatch::Direction;
using cryptbatch::MissingTarget;

namespace {

const QString kConfirmCaption = QStringLiteral("加密注意事项");
const QString kConfirmText =
    QStringLiteral("1、请注意保存原文件，以备加密失败后尽快恢复；2、被加密文件不要超过150Mb;3、加密过程中注意耐心等待，"
                   "不要点击程序。4、注意保存密钥，丢失密钥无法找回。对以上事项了解点")
    + QStringLiteral("\"是\"") + QStringLiteral("继续进行，否则退出。");
const QString kPickTargetCaption = QStringLiteral("选择文件夹或创建新文件夹");
const QString kSelectedDecryptAborted = QStringLiteral("选中列表文件解密出现错误,程序终止！");

// What tells the batches of one direction apart from the other's.
struct CryptTexts {
    Direction direction;
    const char* stopButton;
    QString startText;
    QString workingPrefix;
    QString selectedDone;
    QString treeDone;
    QString failurePrefix;  // names the file whose step raised a failure
};

const CryptTexts& EncryptTexts()
{
    static const CryptTexts texts{Direction::Encrypt,
                                  "btn_Stop",
                                  QStringLiteral("开始加密，请耐心等待，不要点击其他位置！"),
                                  QStringLiteral("正在加密文件:"),
                                  QStringLiteral("选中列表文件加密完成！"),
                                  QStringLiteral("加密文件保存成功！"),
                                  QStringLiteral("加密文件：")};
    return texts;
}

const CryptTexts& DecryptTexts()
{
    static const CryptTexts texts{Direction::Decrypt,
                                  "btn_Stop_2",
                                  QStringLiteral("开始解密，请耐心等待，不要点击其他位置！"),
                                  QStringLiteral("正在解密文件:"),
                                  QStringLiteral("选中列表文件解密完成！"),
                                  QStringLiteral("解密文件保存成功！"),
                                  QStringLiteral("解密文件：")};
    return texts;
}

// Every path out of a batch after the busy state was entered enables the buttons again.
struct LeaveBusy {
    Tfrm_main& w;
    ~LeaveBusy() { w.EnabledAllButton(); }
};

// The window's side of one batch: what the status line and bar show after
// each file, and what becomes of a file that failed.
class CryptFollow {
public:
    CryptFollow(Tfrm_main& w, const CryptTexts& texts, bool ignoreRaised)
        : w_(w), texts_(texts), ignoreRaised_(ignoreRaised)
    {
    }

    batch::Hooks Hooks()
    {
        batch::Hooks hooks;
        // A large file lets the window repaint between its chunks; a stop
        // still waits until the file is done.
        hooks.bytes = [](const QString&, std::uint64_t, std::uint64_t) {
            try {
                PumpMessages();
            } catch (...) {
            }
        };
        hooks.done = [this](const QString& source, qsizetype index) {
            Announce(source, index);  // 12.7
            PumpMessages();           // 12.8
        };
        hooks.failed = [this](const batch::Failure& f) { return Failed(f); };
        hooks.stop = [this] { return w_.StopFlag != 0; };  // 12.9
        // Never opened, so no target: named with the files that produced none.
        hooks.leftOut = [this](const QString& file, const QString& reason) { missing_.push_back({file, reason}); };
        return hooks;
    }

    // The failure that ended the batch, as the window reports it.
    void ThrowIfEnded() const
    {
        if (!ended_.isEmpty())
            throw std::runtime_error(ended_.toUtf8().toStdString());
    }

    // A batch that did its steps as asked must not pass over files it could
    // not write: one more box names them with their reasons.
    void ReportMissing()
    {
        if (missing_.empty())
            return;
        const ListedBox box = cryptbatch::MissingTargetsBox(missing_);
        w_.Dialogs().ShowError(&w_, ApplicationTitle(), box.text, box.details);
    }

private:
    // Status line, marker and progress follow a file whose path differs from the marker.
    void Announce(const QString& source, qsizetype index)
    {
        if (source == w_.CurrentFile)
            return;
        w_.StaticText1->setText(texts_.workingPrefix + BareFileName(source));
        w_.CurrentFile = source;
        w_.ProgressBar->SetPosition(index + 1);
    }

    bool Failed(const batch::Failure& f)
    {
        if (f.kind == cryptbatch::NoTarget || (f.kind == cryptbatch::StepRaised && ignoreRaised_)) {
            missing_.push_back({f.file, f.reason});
            return true;
        }
        ended_ = f.kind == cryptbatch::FolderFailed
                     ? f.reason
                     : texts_.failurePrefix + f.file + QStringLiteral("发生错误，错误原因:") + f.reason;
        return false;
    }

    Tfrm_main& w_;
    const CryptTexts& texts_;
    bool ignoreRaised_;
    QString ended_;
    std::vector<MissingTarget> missing_;
};

int CheckedCount(const QListWidget* list)
{
    int count = 0;
    for (int i = 0; i < list->count(); ++i)
        count += list->item(i)->checkState() == Qt::Checked ? 1 : 0;
    return count;
}

bool Confirmed(Tfrm_main& w, Direction direction)
{
    return direction != Direction::Encrypt || w.Dialogs().AskYesNo(&w, kConfirmCaption, kConfirmText);
}

// The checked entries of a page's list, flat into one target folder; the log
// line follows each file's step.
void RunSelectedBatch(Tfrm_main& w, const CryptTexts& texts, QLineEdit* passwordEdit, QListWidget* list)
{
    if (!Confirmed(w, texts.direction))  // 1
        return;
    w.StopFlag = 0;                                          // 2
    w.DisEnabledExclude(QString::fromLatin1(texts.stopButton));  // 4
    LeaveBusy leave{w};                                      // 14, on every path
    if (const auto refusal = cryptbatch::PasswordRefusal(passwordEdit->text())) {  // 5
        w.Dialogs().ShowMessage(&w, ApplicationTitle(), *refusal);
        return;
    }
    const QString password = passwordEdit->text();  // 6
    w.ProgressBar->SetPosition(0);                  // 7
    if (list->count() == 0)
        return;
    w.ProgressBar->SetMax(CheckedCount(list));
    const std::optional<QString> targetFolder = w.Dialogs().PickFolder(&w, kPickTargetCaption, true);  // 8
    if (!targetFolder) {
        w.StaticText1->setText(texts.selectedDone);
        return;
    }
    const bool decrypt = texts.direction == Direction::Decrypt;
    CryptFollow follow(w, texts, /*ignoreRaised=*/decrypt);
    w.StaticText1->setText(texts.startText);  // 10
    try {
        cryptbatch::CryptRun run(
            {texts.direction, cryptbatch::Layout::Flat, password, *targetFolder, {}, ListFolder(list)});  // 11
        // 12. The folder loads asked for meanwhile wait until the batch ends,
        // so the list keeps its entries; only check marks may change.
        run.Walk(CheckedEntries(list), follow.Hooks());
        run.Close();  // 13
        follow.ThrowIfEnded();
    } catch (const std::exception& e) {
        if (!decrypt)
            w.ShowDefaultFailure(QString::fromUtf8(e.what()));
        else {
            w.Dialogs().ShowMessage(&w, ApplicationTitle(), QString::fromUtf8(e.what()));
            w.StaticText1->setText(kSelectedDecryptAborted);
        }
        follow.ReportMissing();
        return;
    }
    w.StaticText1->setText(texts.selectedDone);  // 13
    follow.ReportMissing();
}

// Every file of the folder tree, the tree reproduced under the target folder;
// the log line comes before each file's step.
void RunTreeBatch(Tfrm_main& w, const CryptTexts& texts, QLineEdit* passwordEdit, QLineEdit* folderEdit)
{
    if (!Confirmed(w, texts.direction))  // 1
        return;
    w.StopFlag = 0;                                              // 2
    w.ProgressBar->SetPosition(0);                               // 3
    w.DisEnabledExclude(QString::fromLatin1(texts.stopButton));  // 4
    LeaveBusy leave{w};                                          // 14, on every path
    if (const auto refusal = cryptbatch::PasswordRefusal(passwordEdit->text())) {  // 5
        w.Dialogs().ShowMessage(&w, ApplicationTitle(), *refusal);
        return;
    }
    const QString password = passwordEdit->text();  // 6
    const std::optional<QString> targetFolder = w.Dialogs().PickFolder(&w, kPickTargetCaption, true);  // 8
    if (!targetFolder)
        return;
    CryptFollow follow(w, texts, /*ignoreRaised=*/false);
    try {
        if (!folderEdit->text().isEmpty()) {          // 9
            w.StaticText1->setText(texts.startText);  // 10
            // 11. The folder text is taken once, for the list and for every target path.
            const QString folderText = folderEdit->text();
            cryptbatch::CryptRun run(
                {texts.direction, cryptbatch::Layout::Tree, password, *targetFolder, folderText, folderText});
            const batch::Hooks hooks = follow.Hooks();
            const QStringList files = GetAllFiles(folderText, hooks.FolderSkipped());  // 12
            w.ProgressBar->SetMax(files.size());
            run.Walk(batch::Entries::Of(files), hooks);
            run.Close();
            follow.ThrowIfEnded();
        }
    } catch (const std::exception& e) {
        w.ShowDefaultFailure(QString::fromUtf8(e.what()));
        follow.ReportMissing();
        return;
    }
    w.Dialogs().ShowMessage(&w, ApplicationTitle(), texts.treeDone);  // 13
    follow.ReportMissing();
}

}  // namespace

void Tfrm_main::btn_EncryptSelectedFilesClick()
{
    RunSelectedBatch(*this, EncryptTexts(), edt_Password, Lst_FIles_1);
}

void Tfrm_main::btn_EncryptFoldersClick()
{
    RunTreeBatch(*this, EncryptTexts(), edt_Password, edt_Folder);
}

void Tfrm_main::btn_DECryptSelectedClick()
{
    RunSelectedBatch(*this, DecryptTexts(), edt_Password_2, Lst_FIles_2);
}

void Tfrm_main::btn_DECrypt_ALlClick()
{
    RunTreeBatch(*this, DecryptTexts(), edt_Password_2, edt_Folder_2);
}
