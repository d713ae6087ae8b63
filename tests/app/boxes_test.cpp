// Boxes that list hundreds of files: the text names the first 20 and counts the
// rest, the details hold them all, and the real box fits the screen.
#include "Dialogs.h"
#include "TestUtil.h"
#include "folder_services.h"
#include "un_Main.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

constexpr int kMany = 300;

// A folder of kMany FIFOs with paths of 2 KB, which every batch leaves out.
QString FifoFolder(const QTemporaryDir& tmp)
{
    QString folder = tmp.path() + "/fifos";
    for (int depth = 0; depth < 8; ++depth)
        folder += QLatin1Char('/') + QString(200, QLatin1Char('a' + depth));
    QDir().mkpath(folder);
    for (int i = 0; i < kMany; ++i) {
        const QString name = folder + QStringLiteral("/%1-").arg(i, 3, 10, QLatin1Char('0')) + QString(150, 'p');
        EXPECT_EQ(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
    }
    return folder;
}

void SetFolder(QLineEdit* edit, const QString& folder)
{
    const QSignalBlocker quiet(edit);  // no folder load: the batches walk the tree themselves
    edit->setText(folder);
}

// Real boxes; the save dialog answered with one name.
class RealBoxes final : public IDialogs {
public:
    QtDialogs real;
    QString saveAs;
    void ShowMessage(QWidget* p, const QString& c, const QString& t, const QString& d) override { real.ShowMessage(p, c, t, d); }
    bool AskYesNo(QWidget* p, const QString& c, const QString& t) override { return real.AskYesNo(p, c, t); }
    void ShowError(QWidget* p, const QString& c, const QString& t, const QString& d) override { real.ShowError(p, c, t, d); }
    std::optional<QString> PickFolder(QWidget*, const QString&, bool) override { return std::nullopt; }
    std::optional<QString> SaveFileName(QWidget*, const QString&, const QString&) override { return saveAs; }
    std::optional<QString> AskPassword(QWidget*, const QString&, const QString&) override { return std::nullopt; }
};

}  // namespace

TEST(LongListBoxes, NameTwentyCountTheRestAndHoldEveryEntryInTheDetails)
{
    QTemporaryDir tmp;
    const QString fifos = FifoFolder(tmp);
    struct Case {
        const char* name;
        ShownBox::Kind kind;
        std::function<void(Tfrm_main&, ScriptedDialogs&)> run;
    };
    const Case cases[] = {
        {"FIFOs left out of the folder's archive", ShownBox::Message,
         [&](Tfrm_main& w, ScriptedDialogs& d) {
             SetFolder(w.edt_Folder, fifos);
             d.saveAnswers.push_back(tmp.path() + "/a");
             w.btn_ZipFolder->click();
         }},
        {"encryption of files that vanished", ShownBox::Error,
         [&](Tfrm_main& w, ScriptedDialogs& d) {
             for (int i = 0; i < kMany; ++i) {
                 auto* item = new QListWidgetItem(tmp.path() + QStringLiteral("/gone%1").arg(i), w.Lst_FIles_1);
                 item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
                 item->setCheckState(Qt::Checked);
             }
             w.edt_Password->setText("pw");
             d.folderAnswers.push_back(tmp.path());
             w.btn_EncryptSelectedFiles->click();
         }},
    };
    for (const Case& c : cases) {
        ScriptedDialogs dialogs;
        Tfrm_main w(dialogs);
        c.run(w, dialogs);
        ASSERT_FALSE(dialogs.shown.empty()) << c.name;
        const ShownBox& box = dialogs.shown.back();
        ASSERT_EQ(box.kind, c.kind) << c.name;
        const QStringList lines = box.text.split('\n');
        ASSERT_EQ(lines.size(), 22) << c.name;
        EXPECT_TRUE(lines[0].contains(QString::number(kMany))) << c.name;
        EXPECT_EQ(lines[21], QStringLiteral("……另有 280 个")) << c.name;
        const QStringList details = box.details.split('\n');
        ASSERT_EQ(details.size(), kMany) << c.name;
        EXPECT_EQ(details.mid(0, 20), lines.mid(1, 20)) << c.name;
        EXPECT_TRUE(details.back().contains(c.kind == ShownBox::Error ? "gone299" : "299-")) << c.name;
    }
}

// The real box on a real screen (run under Xvfb at 1600x1000): neither the box
// nor its OK button may reach below the screen's available area.
TEST(RealListBox, FitsTheScreenWithItsOkButtonOnIt)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs a real X server (ctest runs it under Xvfb)";
    QTemporaryDir tmp;
    const QString fifos = FifoFolder(tmp);
    RealBoxes dialogs;
    dialogs.saveAs = tmp.path() + "/a";
    Tfrm_main w(dialogs);
    w.show();
    SetFolder(w.edt_Folder, fifos);
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        QApplication::processEvents();
        const QRect screen = box->screen()->availableGeometry();
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        EXPECT_TRUE(screen.contains(box->frameGeometry())) << box->frameGeometry().height();
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(screen.contains(QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size())));
        EXPECT_EQ(box->detailedText().split('\n').size(), kMany);
        EXPECT_TRUE(box->text().endsWith(QStringLiteral("\n……另有 280 个"))) << box->text().toStdString();
        seen = true;
        ok->click();
    });
    poll.start(50);
    w.btn_ZipFolder->click();
    EXPECT_TRUE(seen);
}
