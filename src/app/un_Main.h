#pragma once
// The main window: two working pages, the state every long action shares
// (StopFlag, CurrentFile, the status line and the progress bar) and the
// handlers behind every button. The batch handlers live in one file per
// group: un_Main_Browse.cpp, un_Main_Crypt.cpp, un_Main_Zip.cpp,
// un_Main_Export.cpp, un_Main_Rename.cpp, and un_Main_Desktop.cpp for the
// command line and the lists' context menus.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPoint;
class QUrl;
class QPushButton;
class QSplitter;
class QTabWidget;
class QWidget;
class QFrame;
class TProgressBar;
class IDialogs;
class Tfrm_Rule;
class ZipArchive;
struct ZipHeader;

struct LeftOutFile;
class Tfrm_main : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_main(IDialogs& dialogs, QWidget* parent = nullptr);
    ~Tfrm_main() override;

    // Shared state of every long action.
    std::int32_t StopFlag = 0;
    QString CurrentFile;

    // Controls, named as their objectName.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* StaticText1 = nullptr;
    TProgressBar* ProgressBar = nullptr;

    // Page 1
    QGroupBox* GroupBox6 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edt_Folder = nullptr;
    QPushButton* btn_ok = nullptr;
    QPushButton* btn_Refresh = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* chk_ShowPassword = nullptr;
    QLineEdit* edt_Password = nullptr;
    QGroupBox* GroupBox8 = nullptr;
    QListWidget* lst_SubDirectory_1 = nullptr;
    QSplitter* Splitter3 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QListWidget* Lst_FIles_1 = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QPushButton* btn_AllSelect = nullptr;
    QPushButton* btn_CancelAllSelect = nullptr;
    QPushButton* btn_NotValue = nullptr;
    QPushButton* btn_ZipSelected = nullptr;
    QPushButton* btn_ZipFolder = nullptr;
    QPushButton* btn_EncryptSelectedFiles = nullptr;
    QPushButton* btn_EncryptFolders = nullptr;
    QPushButton* btn_OutFiles = nullptr;
    QPushButton* btn_OutAllFiles = nullptr;
    QPushButton* btn_ChangeSelectedName = nullptr;
    QPushButton* btn_ChangeAllFileName = nullptr;
    QPushButton* btn_Stop = nullptr;

    // Page 2
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edt_Folder_2 = nullptr;
    QPushButton* btn_Select = nullptr;
    QPushButton* btn_Refresh2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QCheckBox* chk_ShowPassword_2 = nullptr;
    QLineEdit* edt_Password_2 = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QListWidget* lst_SubDirectory_2 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QGroupBox* GroupBox9 = nullptr;
    QListWidget* Lst_FIles_2 = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QPushButton* btn_SelectAll_2 = nullptr;
    QPushButton* btn_UnSelectAll_2 = nullptr;
    QPushButton* btn_NotValue_2 = nullptr;
    QPushButton* btn_UnZipSelected_same = nullptr;
    QPushButton* btn_UnZipAllSelected_same = nullptr;
    QPushButton* btn_UnZipSelectedToSpecified = nullptr;
    QPushButton* btn_UnZipAllToSpecified = nullptr;
    QPushButton* btn_DECryptSelected = nullptr;
    QPushButton* btn_DECrypt_ALl = nullptr;
    QPushButton* btn_Stop_2 = nullptr;

    // The save dialog's title; each compress or export handler sets the filter.
    QString saveDialogTitle;
    QString saveDialogFilter;

    // Button enabling of the long-action frame.
    void DisEnabledExclude(const QString& btName);
    void EnabledAllButton();

    // Start-up and selection (un_Main.cpp).
    void FormCreate();
    void FormShow();
    void btn_AllSelectClick();
    void btn_CancelAllSelectClick();
    void btn_NotValueClick();
    void btn_SelectAll_2Click();
    void btn_UnSelectAll_2Click();
    void btn_NotValue_2Click();
    void chk_ShowPasswordClick();
    void chk_ShowPassword_2Click();
    void btn_StopClick();

    // Folder browsing (un_Main_Browse.cpp).
    void btn_okClick();
    void btn_SelectClick();
    void edt_FolderChange();
    void edt_Folder_2Change();
    void lst_SubDirectory_1Click();
    void lst_SubDirectory_2Click();
    // Reloads a page as a change of its folder edit does. Without
    // reportFailure a folder text that fails shows no box: the caller has a
    // failure of its own to report.
    void ReloadFolder(int page, bool reportFailure);

    // Encrypt and decrypt (un_Main_Crypt.cpp).
    void btn_EncryptSelectedFilesClick();
    void btn_EncryptFoldersClick();
    void btn_DECryptSelectedClick();
    void btn_DECrypt_ALlClick();

    // Compress and extract (un_Main_Zip.cpp).
    void btn_ZipFolderClick();
    void btn_ZipSelectedClick();
    void btn_UnZipAllSelected_sameClick();
    void btn_UnZipAllToSpecifiedClick();
    void btn_UnZipSelectedToSpecifiedClick();
    void btn_UnZipSelected_sameClick();
    void OnZipProgressEvent(ZipArchive* Sender, const std::string& FileName, const ZipHeader& Header,
                            std::int64_t Position);
    void OnUnZipProgressEvent(ZipArchive* Sender, const std::string& FileName, const ZipHeader& Header,
                              std::int64_t Position);

    // File list export (un_Main_Export.cpp).
    void btn_OutAllFilesClick();
    void btn_OutFilesClick();

    // Batch rename (un_Main_Rename.cpp).
    void btn_ChangeAllFileNameClick();
    void btn_ChangeSelectedNameClick();
    // When set, the rename handlers call this with the shown rule dialog instead
    // of running it modally; tests fill its controls and close it here.
    std::function<void(Tfrm_Rule&)> ruleDialogHook;

    // Undoes the last rename batch that the journal holds (un_Main_Rename.cpp).
    void UndoLastRenameClick();

    // Desktop integration (un_Main_Desktop.cpp). The program's arguments
    // without its own name: the first one opens in the window. A folder (or a
    // name that names nothing) goes to both folder edits and page 1 is shown; an
    // archive opens its folder on page 2 with only that archive checked, and
    // page 2 is shown; another file opens its folder on page 1 with only it checked.
    void OpenStartArguments(const QStringList& arguments);
    // When set, the lists' context menus are handed to this instead of popping
    // up, and opening a file or folder calls openUrlHook instead of the
    // desktop's default application (false: it could not be opened).
    std::function<void(QMenu&)> contextMenuHook;
    std::function<bool(const QUrl&)> openUrlHook;

    // The default failure report: an error box with the application title,
    // the message with "." added when its last character is above ".".
    void ShowDefaultFailure(const QString& message);
    // The one box naming the files and folders a batch left out, if any.
    void ShowLeftOut(const QList<LeftOutFile>& files);
    static QString FailureText(const QString& message);

    // Runs a handler inside the one guard every handler has, as an action:
    // folder loads asked for meanwhile wait until the outermost action ends.
    void RunAction(const std::function<void()>& handler);
    // Runs work once the event being delivered now has been handled. A menu's
    // choice and a drop run their work here: work that shows a box or pumps
    // events must not run inside that delivery, since the menu (deleted when it
    // hides) or the drag may be gone when the box returns, and Qt's code that
    // delivered the event would go on with a dead object.
    void RunLater(std::function<void()> work);
    bool ActionRunning() const { return actionDepth_ > 0; }
    // A running load of this page is no longer wanted: a newer one waits, or the window is closing.
    bool LoadSuperseded(int page) const { return pending_[page].kind != LoadKind::None || closePending_; }

    IDialogs& Dialogs() { return dialogs_; }

    // Shows the save dialog with saveDialogTitle and saveDialogFilter.
    std::optional<QString> ShowSaveDialog();

    // Dropping a folder on a page's folder edit or lists sets that page's folder edit.
    bool DropFolder(int page, const QString& folder);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void BuildWindow();
    QWidget* BuildPage(int page);
    void ConnectHandlers();
    void InstallFolderDrops();
    void InstallContextMenus();
    void ShowListMenu(QListWidget* list, const QPoint& pos);
    // Opens a file or folder with the desktop's default application; a box names it when that fails.
    void OpenPath(const QString& path);
    bool DeferCloseWhileBusy();
    void Connect(QPushButton* button, void (Tfrm_main::*handler)());
    QList<QPushButton*> Buttons() const;

    // Deferred folder loads: the latest request of each page waits for the running action.
    enum class LoadKind { None, Reload, SubFolder };
    struct PendingLoad {
        LoadKind kind = LoadKind::None;
    };
    void RequestLoad(int page, LoadKind kind);
    // Handler inside the guard, counted as a running action; false when it failed.
    bool RunGuarded(const std::function<void()>& handler);
    void FinishOutermostAction();

    IDialogs& dialogs_;
    int actionDepth_ = 0;
    bool closePending_ = false;
    PendingLoad pending_[2];
};
