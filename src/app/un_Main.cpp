#include "un_Main.h"
#include "WidgetMaking.h"

#include "Dialogs.h"
#include "ProgressBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <sys/stat.h>

#include "folder_services.h"

namespace {

// A list box that runs a handler whenever the user moves its current entry
// (click, drag, arrow and page keys, typing a name) or clicks the current
// entry again. Emptying or refilling the list, and focusing it, run nothing.
class TListBox : public QListWidget {
public:
    explicit TListBox(QWidget* parent) : QListWidget(parent)
    {
        connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
            if (userInput_ && row >= 0 && onUserSelect)
                onUserSelect();
        });
    }
    std::function<void()> onUserSelect;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const int before = currentRow();
        ByUser([&] { QListWidget::mousePressEvent(event); });
        // A click on the entry that is already current lists it again.
        if (event->button() == Qt::LeftButton && before >= 0 && currentRow() == before
            && itemAt(event->position().toPoint()) && onUserSelect)
            onUserSelect();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        ByUser([&] { QListWidget::mouseMoveEvent(event); });
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        ByUser([&] { QListWidget::keyPressEvent(event); });
    }
    void focusInEvent(QFocusEvent* event) override
    {
        // The view makes the first entry current on focus without the user
        // choosing it; undone, so the first Down key lists the first entry.
        const bool hadCurrent = currentIndex().isValid();
        QListWidget::focusInEvent(event);
        if (!hadCurrent && currentIndex().isValid())
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }

private:
    template <typename F>
    void ByUser(F&& f)
    {
        const bool outer = userInput_;
        userInput_ = true;
        f();
        userInput_ = outer;
    }
    bool userInput_ = false;
};

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const char* hint = nullptr)
{
    auto* button = Named(new QPushButton(QString::fromUtf8(caption), parent), name);
    button->setFixedSize(255, 25);
    button->setAutoDefault(false);
    if (hint)
        button->setToolTip(QString::fromUtf8(hint));
    return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption)
{
    return Named(new QGroupBox(QString::fromUtf8(caption), parent), name);
}

}  // namespace

Tfrm_main::Tfrm_main(IDialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("frm_main"));
    BuildWindow();
    ConnectHandlers();
    InstallFolderDrops();
    InstallContextMenus();
    FormCreate();
}

Tfrm_main::~Tfrm_main() = default;

void Tfrm_main::BuildWindow()
{
    setWindowTitle(QStringLiteral("Velmora文件夹工具"));
    setFont(TahomaPx(16));
    setFixedSize(1067, 587);
    setSizeGripEnabled(false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    TabSheet1 = BuildPage(1);
    TabSheet2 = BuildPage(2);
    PageControl1->addTab(TabSheet1, QStringLiteral("加密压缩"));
    PageControl1->addTab(TabSheet2, QStringLiteral("解压解密"));
    root->addWidget(PageControl1, 1);

    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setFixedHeight(27);
    auto* bar = new QHBoxLayout(Panel1);
    bar->setContentsMargins(2, 1, 0, 1);
    bar->setSpacing(2);
    StaticText1 = Spoken(Named(new QLabel(Panel1), "StaticText1"), QStringLiteral("状态"));
    StaticText1->setFont(TahomaPx(16));
    StaticText1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StaticText1->setTextFormat(Qt::PlainText);
    ProgressBar = Spoken(Named(new TProgressBar(Panel1), "ProgressBar"), QStringLiteral("进度"));
    ProgressBar->setFixedWidth(272);
    ProgressBar->SetMax(100);
    ProgressBar->SetPosition(0);
    bar->addWidget(StaticText1, 1);
    bar->addWidget(ProgressBar);
    root->addWidget(Panel1);

    saveDialogTitle = QStringLiteral("将文件列表保存到文件");
}

QWidget* Tfrm_main::BuildPage(int page)
{
    const bool first = page == 1;
    auto* sheet = Named(new QWidget(this), first ? "TabSheet1" : "TabSheet2");
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Folder bar.
    auto* folderBar = Named(new QGroupBox(sheet), first ? "GroupBox6" : "GroupBox2");
    folderBar->setFixedHeight(65);
    auto* fb = new QHBoxLayout(folderBar);
    fb->setContentsMargins(8, 4, 8, 4);
    auto* dirLabel = Named(new QLabel(QStringLiteral("目录："), folderBar), first ? "Label2" : "Label1");
    auto* folderEdit = Spoken(Named(new QLineEdit(folderBar), first ? "edt_Folder" : "edt_Folder_2"), QStringLiteral("目录"));
    folderEdit->setFixedWidth(415);
    folderEdit->setAcceptDrops(true);
    auto* choose = Named(new QPushButton(QStringLiteral("选择文件夹"), folderBar), first ? "btn_ok" : "btn_Select");
    auto* refresh = Named(new QPushButton(QStringLiteral("刷新"), folderBar), first ? "btn_Refresh" : "btn_Refresh2");
    for (QPushButton* b : {choose, refresh})
        b->setAutoDefault(false);
    auto* settings = MakeGroup(folderBar, first ? "GroupBox1" : "GroupBox3", first ? "加密设置" : "解密设置");
    auto* sl = new QHBoxLayout(settings);
    sl->setContentsMargins(6, 0, 6, 2);
    auto* show = Named(new QCheckBox(QStringLiteral("显示密码"), settings), first ? "chk_ShowPassword" : "chk_ShowPassword_2");
    auto* keyLabel = Named(new QLabel(QStringLiteral("加密密钥："), settings), first ? "Label_Password" : "Label_Password_2");
    auto* password = Spoken(Named(new QLineEdit(settings), first ? "edt_Password" : "edt_Password_2"), QStringLiteral("密钥"));
    password->setFixedWidth(120);
    // Stars, as the user expects from a password box.
    password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    sl->addWidget(show);
    sl->addWidget(keyLabel);
    sl->addWidget(password);
    fb->addWidget(dirLabel);
    fb->addWidget(folderEdit);
    fb->addWidget(choose);
    fb->addWidget(refresh);
    fb->addStretch(1);
    fb->addWidget(settings);
    column->addWidget(folderBar);

    // Subfolder column, splitter, file list, button column.
    auto* body = new QHBoxLayout();
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    auto* splitter = Named(new QSplitter(Qt::Horizontal, sheet), first ? "Splitter3" : "Splitter2");
    splitter->setChildrenCollapsible(false);
    auto* subGroup = MakeGroup(splitter, first ? "GroupBox8" : "GroupBox7", "包含子文件夹");
    auto* subLayout = new QVBoxLayout(subGroup);
    subLayout->setContentsMargins(2, 2, 2, 2);
    auto* subList = Spoken(Named(new TListBox(subGroup), first ? "lst_SubDirectory_1" : "lst_SubDirectory_2"), QStringLiteral("子文件夹"));
    subList->setFont(TahomaPx(13));
    subList->setSortingEnabled(false);
    subLayout->addWidget(subList);
    auto* fileGroup = MakeGroup(splitter, first ? "GroupBox4" : "GroupBox9", "文件夹下文件列表");
    auto* fileLayout = new QVBoxLayout(fileGroup);
    fileLayout->setContentsMargins(2, 2, 2, 2);
    auto* fileList = Spoken(Named(new QListWidget(fileGroup), first ? "Lst_FIles_1" : "Lst_FIles_2"), QStringLiteral("文件"));
    fileList->setFont(TahomaPx(13));
    fileList->setSortingEnabled(false);
    fileList->setUniformItemSizes(true);
    fileLayout->addWidget(fileList);
    splitter->addWidget(subGroup);
    splitter->addWidget(fileGroup);
    splitter->setSizes({358, 1067 - 358 - 273});
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    body->addWidget(splitter, 1);

    auto* buttons = MakeGroup(sheet, first ? "GroupBox5" : "GroupBox10", "功能按钮");
    buttons->setFixedWidth(273);
    auto* bl = new QVBoxLayout(buttons);
    bl->setContentsMargins(9, 4, 9, 4);
    bl->setSpacing(6);
    body->addWidget(buttons);
    column->addLayout(body, 1);

    auto add = [&](const char* name, const char* caption, const char* hint = nullptr) {
        QPushButton* b = MakeButton(buttons, name, caption, hint);
        bl->addWidget(b);
        return b;
    };
    if (first) {
        Label2 = dirLabel; edt_Folder = folderEdit; btn_ok = choose; btn_Refresh = refresh;
        GroupBox6 = folderBar; GroupBox1 = settings; chk_ShowPassword = show; edt_Password = password;
        GroupBox8 = subGroup; lst_SubDirectory_1 = subList; Splitter3 = splitter; GroupBox4 = fileGroup;
        Lst_FIles_1 = fileList; GroupBox5 = buttons;
        btn_AllSelect = add("btn_AllSelect", "选取所有");
        btn_CancelAllSelect = add("btn_CancelAllSelect", "全部非选");
        btn_NotValue = add("btn_NotValue", "反选");
        btn_ZipSelected = add("btn_ZipSelected", "压缩选中文件", "压缩当前文件夹下选中的文件");
        btn_ZipFolder = add("btn_ZipFolder", "压缩文件夹(含子文件夹)", "当前文件夹下的文件和所有子文件夹下的文件");
        btn_EncryptSelectedFiles = add("btn_EncryptSelectedFiles", "加密选中文件", "加密当前文件夹下选中的文件");
        btn_EncryptFolders = add("btn_EncryptFolders", "加密文件夹(含子文件夹)", "加密当前文件夹下的文件和所有子文件夹下的文件");
        btn_OutFiles = add("btn_OutFiles", "导出选中文件列表", "导出当前文件夹选中文件列表");
        btn_OutAllFiles = add("btn_OutAllFiles", "导出全部文件列表(含文件夹）", "导出当前文件夹所有文件");
        btn_ChangeSelectedName = add("btn_ChangeSelectedName", "批量更改选中文件名");
        btn_ChangeAllFileName = add("btn_ChangeAllFileName", "批量更改文件夹名（含子文件夹）");
        btn_Stop = add("btn_Stop", "停止");
    } else {
        Label1 = dirLabel; edt_Folder_2 = folderEdit; btn_Select = choose; btn_Refresh2 = refresh;
        GroupBox2 = folderBar; GroupBox3 = settings; chk_ShowPassword_2 = show; edt_Password_2 = password;
        GroupBox7 = subGroup; lst_SubDirectory_2 = subList; Splitter2 = splitter; GroupBox9 = fileGroup;
        Lst_FIles_2 = fileList; GroupBox10 = buttons;
        btn_SelectAll_2 = add("btn_SelectAll_2", "选取所有");
        btn_UnSelectAll_2 = add("btn_UnSelectAll_2", "全部非选");
        btn_NotValue_2 = add("btn_NotValue_2", "反选");
        btn_UnZipSelected_same = add("btn_UnZipSelected_same", "解压选中文件到同目录下", "解压选中的压缩文件到当前目录下");
        btn_UnZipAllSelected_same = add("btn_UnZipAllSelected_same", "解压文件夹所有文件到当前目录", "解压目录下所有文件夹内压缩文件到当前目录下");
        btn_UnZipSelectedToSpecified = add("btn_UnZipSelectedToSpecified", "解压选中文件到指定目录");
        btn_UnZipAllToSpecified = add("btn_UnZipAllToSpecified", "解压文件夹所有文件到指定目录", "当前文件夹下的文件和所有子文件夹下的文件");
        btn_DECryptSelected = add("btn_DECryptSelected", "解密选中文件", "解密当前文件夹选中的文件");
        btn_DECrypt_ALl = add("btn_DECrypt_ALl", "解密文件夹(含子文件夹)");
        btn_Stop_2 = add("btn_Stop_2", "停止");
    }
    bl->addStretch(1);
    return sheet;
}

void Tfrm_main::Connect(QPushButton* button, void (Tfrm_main::*handler)())
{
    connect(button, &QPushButton::clicked, this, [this, handler] { RunAction([this, handler] { (this->*handler)(); }); });
}

void Tfrm_main::ConnectHandlers()
{
    Connect(btn_AllSelect, &Tfrm_main::btn_AllSelectClick);
    Connect(btn_CancelAllSelect, &Tfrm_main::btn_CancelAllSelectClick);
    Connect(btn_NotValue, &Tfrm_main::btn_NotValueClick);
    Connect(btn_SelectAll_2, &Tfrm_main::btn_SelectAll_2Click);
    Connect(btn_UnSelectAll_2, &Tfrm_main::btn_UnSelectAll_2Click);
    Connect(btn_NotValue_2, &Tfrm_main::btn_NotValue_2Click);
    connect(chk_ShowPassword, &QCheckBox::clicked, this, [this] { chk_ShowPasswordClick(); });
    connect(chk_ShowPassword_2, &QCheckBox::clicked, this, [this] { chk_ShowPassword_2Click(); });
    // The stop buttons only set the flag; they must work inside a running action.
    connect(btn_Stop, &QPushButton::clicked, this, [this] { btn_StopClick(); });
    connect(btn_Stop_2, &QPushButton::clicked, this, [this] { btn_StopClick(); });

    Connect(btn_ok, &Tfrm_main::btn_okClick);
    Connect(btn_Select, &Tfrm_main::btn_SelectClick);
    connect(edt_Folder, &QLineEdit::textChanged, this, [this] { RequestLoad(0, LoadKind::Reload); });
    connect(edt_Folder_2, &QLineEdit::textChanged, this, [this] { RequestLoad(1, LoadKind::Reload); });
    connect(btn_Refresh, &QPushButton::clicked, this, [this] { RequestLoad(0, LoadKind::Reload); });
    connect(btn_Refresh2, &QPushButton::clicked, this, [this] { RequestLoad(1, LoadKind::Reload); });
    auto* sub1 = static_cast<TListBox*>(lst_SubDirectory_1);
    auto* sub2 = static_cast<TListBox*>(lst_SubDirectory_2);
    sub1->onUserSelect = [this] { RequestLoad(0, LoadKind::SubFolder); };
    sub2->onUserSelect = [this] { RequestLoad(1, LoadKind::SubFolder); };

    Connect(btn_EncryptSelectedFiles, &Tfrm_main::btn_EncryptSelectedFilesClick);
    Connect(btn_EncryptFolders, &Tfrm_main::btn_EncryptFoldersClick);
    Connect(btn_DECryptSelected, &Tfrm_main::btn_DECryptSelectedClick);
    Connect(btn_DECrypt_ALl, &Tfrm_main::btn_DECrypt_ALlClick);

    Connect(btn_ZipFolder, &Tfrm_main::btn_ZipFolderClick);
    Connect(btn_ZipSelected, &Tfrm_main::btn_ZipSelectedClick);
    Connect(btn_UnZipAllSelected_same, &Tfrm_main::btn_UnZipAllSelected_sameClick);
    Connect(btn_UnZipAllToSpecified, &Tfrm_main::btn_UnZipAllToSpecifiedClick);
    Connect(btn_UnZipSelectedToSpecified, &Tfrm_main::btn_UnZipSelectedToSpecifiedClick);
    Connect(btn_UnZipSelected_same, &Tfrm_main::btn_UnZipSelected_sameClick);

    Connect(btn_OutAllFiles, &Tfrm_main::btn_OutAllFilesClick);
    Connect(btn_OutFiles, &Tfrm_main::btn_OutFilesClick);

    Connect(btn_ChangeAllFileName, &Tfrm_main::btn_ChangeAllFileNameClick);
    Connect(btn_ChangeSelectedName, &Tfrm_main::btn_ChangeSelectedNameClick);
}

namespace {
// The folder a drag carries: its first local URL, when that names a folder.
QString DraggedFolder(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QUrl url = mime->urls().first();
    if (!url.isLocalFile())
        return {};
    // The URL's bytes are the name's bytes; toLocalFile() would lose the
    // ones that aren't UTF-8.
    const QString path = DecodePath(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    struct stat st{};
    if (::stat(EncodePath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
}
}  // namespace

void Tfrm_main::InstallFolderDrops()
{
    const QList<QWidget*> targets[2] = {
        {edt_Folder, lst_SubDirectory_1->viewport(), Lst_FIles_1->viewport()},
        {edt_Folder_2, lst_SubDirectory_2->viewport(), Lst_FIles_2->viewport()}};
    for (int page = 0; page < 2; ++page)
        for (QWidget* target : targets[page]) {
            target->setAcceptDrops(true);
            target->setProperty("velmoraDropPage", page);
            target->installEventFilter(this);
        }
}

bool Tfrm_main::DropFolder(int page, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    QLineEdit* edit = page == 0 ? edt_Folder : edt_Folder_2;
    RunLater([edit, folder] { edit->setText(folder); });  // a change of the text reloads the page
    return true;
}

bool Tfrm_main::eventFilter(QObject* watched, QEvent* event)
{
    const QVariant page = watched->property("velmoraDropPage");
    if (page.isValid()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!DraggedFolder(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            if (DropFolder(page.toInt(), DraggedFolder(drop->mimeData()))) {
                drop->acceptProposedAction();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tfrm_main::FormCreate()
{
    edt_Password->setEchoMode(QLineEdit::Password);
    edt_Password_2->setEchoMode(QLineEdit::Password);
}

void Tfrm_main::FormShow()
{
    PageControl1->setCurrentIndex(0);
}

void Tfrm_main::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        FormShow();
    }
}

bool Tfrm_main::DeferCloseWhileBusy()
{
    if (actionDepth_ == 0)
        return false;
    // Let the running action stop after its current item, then close.
    StopFlag = -1;
    closePending_ = true;
    return true;
}

void Tfrm_main::closeEvent(QCloseEvent* event)
{
    if (DeferCloseWhileBusy()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void Tfrm_main::keyPressEvent(QKeyEvent* event)
{
    // A stray Escape must not end the user's session: only the close box closes this window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tfrm_main::reject()
{
    // The close box ends here (Escape never reaches it).
    if (DeferCloseWhileBusy())
        return;
    QDialog::reject();
}

QList<QPushButton*> Tfrm_main::Buttons() const
{
    return findChildren<QPushButton*>();
}

void Tfrm_main::DisEnabledExclude(const QString& btName)
{
    for (QPushButton* button : Buttons())
        if (button->objectName() != btName)
            button->setEnabled(false);
}

void Tfrm_main::EnabledAllButton()
{
    for (QPushButton* button : Buttons())
        button->setEnabled(true);
}

namespace {
void SetAllChecks(QListWidget* list, Qt::CheckState state)
{
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(state);
}

void InvertChecks(QListWidget* list)
{
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
}

void ShowPassword(QCheckBox* box, QLineEdit* edit)
{
    edit->setEchoMode(box->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}
}  // namespace

void Tfrm_main::btn_AllSelectClick() { SetAllChecks(Lst_FIles_1, Qt::Checked); }
void Tfrm_main::btn_CancelAllSelectClick() { SetAllChecks(Lst_FIles_1, Qt::Unchecked); }
void Tfrm_main::btn_NotValueClick() { InvertChecks(Lst_FIles_1); }
void Tfrm_main::btn_SelectAll_2Click() { SetAllChecks(Lst_FIles_2, Qt::Checked); }
void Tfrm_main::btn_UnSelectAll_2Click() { SetAllChecks(Lst_FIles_2, Qt::Unchecked); }
void Tfrm_main::btn_NotValue_2Click() { InvertChecks(Lst_FIles_2); }
void Tfrm_main::chk_ShowPasswordClick() { ShowPassword(chk_ShowPassword, edt_Password); }
void Tfrm_main::chk_ShowPassword_2Click() { ShowPassword(chk_ShowPassword_2, edt_Password_2); }

void Tfrm_main::btn_StopClick()
{
    StopFlag = -1;
}

QString Tfrm_main::FailureText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + QLatin1Char('.');
    return message;
}

void Tfrm_main::ShowDefaultFailure(const QString& message)
{
    dialogs_.ShowError(this, ApplicationTitle(), FailureText(message));
}

void Tfrm_main::ShowLeftOut(const QList<LeftOutFile>& files)
{
    if (files.isEmpty())
        return;
    const ListedBox box = SpecialFilesBox(files);
    dialogs_.ShowMessage(this, ApplicationTitle(), box.text, box.details);
}

bool Tfrm_main::RunGuarded(const std::function<void()>& handler)
{
    ++actionDepth_;
    bool failed = false;
    try {
        handler();
    } catch (const std::exception& e) {
        failed = true;
        ShowDefaultFailure(QString::fromUtf8(e.what()));
    } catch (...) {
        failed = true;
        ShowDefaultFailure(QString());
    }
    --actionDepth_;
    return !failed;
}

void Tfrm_main::RunAction(const std::function<void()>& handler)
{
    const bool failed = !RunGuarded(handler);
    if (actionDepth_ > 0)
        return;
    if (failed)
        EnabledAllButton();  // a failure that ends a handler still leaves the busy state
    FinishOutermostAction();
}

void Tfrm_main::RunLater(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void Tfrm_main::RequestLoad(int page, LoadKind kind)
{
    // A reload that waits replaces the subfolder list, so a subfolder entry
    // clicked after it names nothing the page will show: the reload stays.
    if (!(kind == LoadKind::SubFolder && pending_[page].kind == LoadKind::Reload))
        pending_[page].kind = kind;
    if (actionDepth_ == 0)
        FinishOutermostAction();
}

void Tfrm_main::FinishOutermostAction()
{
    // Runs what waited for the action that just ended: a close request
    // first, so the window never stays open to run a load nobody wants now;
    // then the pending loads, one at a time, each an action of its own.
    while (actionDepth_ == 0) {
        if (closePending_) {
            closePending_ = false;
            pending_[0] = pending_[1] = PendingLoad{};
            close();
            return;
        }
        const int page = pending_[0].kind != LoadKind::None ? 0 : pending_[1].kind != LoadKind::None ? 1 : -1;
        if (page < 0)
            return;
        const LoadKind kind = pending_[page].kind;
        pending_[page].kind = LoadKind::None;
        const bool failed = !RunGuarded([this, page, kind] {
            if (kind == LoadKind::Reload)
                page == 0 ? edt_FolderChange() : edt_Folder_2Change();
            else
                page == 0 ? lst_SubDirectory_1Click() : lst_SubDirectory_2Click();
        });
        if (failed)
            EnabledAllButton();
    }
}

std::optional<QString> Tfrm_main::ShowSaveDialog()
{
    return dialogs_.SaveFileName(this, saveDialogTitle, saveDialogFilter);
}
