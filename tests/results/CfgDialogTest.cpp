// The settings dialog and the settings command, with virtual serial devices and scripted answers.

#include "DeskFixture.h"

#include "CfgDialog.h"
#include "Comms.h"
#include "Dmn_led.h"
#include "SpinEdit.h"
#include "VirtualLines.h"

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::VirtualLineServer;

namespace {

struct Configured : Desk {
    std::vector<std::unique_ptr<VirtualLineServer>> servers;
    TFormMain *f = nullptr;
    explicit Configured(std::initializer_list<int> present, fake::Key settings = {})
    {
        for (int port : present) {
            servers.push_back(std::make_unique<VirtualLineServer>(fp.serial.socketFor(port)));
            EXPECT_TRUE(servers.back()->start());
        }
        if (!settings.isEmpty())
            key() = settings;
        f = &create();
    }
    // Runs the settings command of the desk running now (a desk made anew by create() included);
    // the script edits the dialog and answers.
    void configure(const std::function<int(TCfgDialog &)> &script)
    {
        fp.dialogs.modalAnswers.push_back([script](QDialog *d) { return script(*static_cast<TCfgDialog *>(d)); });
        form->Config1->trigger();
    }
    static void pick(QComboBox *list, const QString &text) { list->setCurrentIndex(list->findText(text)); }
};

fake::Key ports(int p1, int p2, int p3, int p4, int alg = 0, int accuracy = 1)
{
    return {{"Left", 0},     {"Top", 0},     {"Height", 0}, {"Sound", 1},          {"Port1", p1},
            {"Port2", p2},   {"Port3", p3},  {"Port4", p4}, {"Alg", alg},          {"FilterInd", 1},
            {"Monitor", 0},  {"Title", "T"}, {"LineCount", 8}, {"Accuracy", accuracy}};
}

} // namespace

TEST(CfgDialog, NoPortsAvailable)
{
    Configured c({});
    TCfgDialog &d = *c.cfg;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Einstellungen"));
    for (int k = 1; k <= 4; ++k) {
        ASSERT_EQ(d.PortList(k)->count(), 1);
        EXPECT_EQ(d.PortList(k)->itemText(0), QStringLiteral("keine"));
    }
    EXPECT_EQ(d.rbElectronic->text(), QStringLiteral("Elektronische  1/100 s."));
    c.configure([](TCfgDialog &dlg) {
        EXPECT_FALSE(dlg.cbAlg->isEnabled());
        EXPECT_FALSE(dlg.cbPort2->isEnabled());
        EXPECT_FALSE(dlg.cbPort4->isEnabled());
        EXPECT_EQ(dlg.seBahn->Value(), 8);
        EXPECT_EQ(dlg.TipIndex(), 0);
        return QDialog::Accepted;
    });
    for (TComPort *p : {c.f->ComPort1, c.f->ComPort2, c.f->ComPort3, c.f->ComPort4}) {
        EXPECT_FALSE(p->Connected());
        EXPECT_EQ(p->Port(), 0);
    }
}

TEST(CfgDialog, PortsOneAndThreeWithTwoOnNone)
{
    Configured c({1, 3, 12});
    EXPECT_EQ(c.cfg->cbPort1->count(), 4); // keine, COM1, COM3, COM12
    EXPECT_EQ(c.cfg->cbPort1->itemText(3), QStringLiteral("COM12"));
    c.configure([](TCfgDialog &dlg) {
        Configured::pick(dlg.cbPort1, QStringLiteral("COM1"));
        EXPECT_TRUE(dlg.cbAlg->isEnabled()); // the dependency rule on every change
        EXPECT_TRUE(dlg.cbPort3->isEnabled());
        Configured::pick(dlg.cbPort3, QStringLiteral("COM3"));
        dlg.cbAlg->setCurrentIndex(1);
        return QDialog::Accepted;
    });
    TFormMain &f = *c.f;
    EXPECT_TRUE(f.ComPort1->Connected());
    EXPECT_EQ(f.ComPort1->Port(), 1);
    EXPECT_FALSE(f.ComPort2->Connected());
    EXPECT_EQ(f.ComPort2->Port(), 0);
    EXPECT_TRUE(f.ComPort3->Connected());
    EXPECT_EQ(f.Model.settings().edge, 1);
    EXPECT_EQ(c.fp.ticks.sleeps, std::vector<std::uint32_t>{200}); // the wait before port 1
    EXPECT_TRUE(f.LedStart->Value());

    c.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.cbPort1->currentText(), QStringLiteral("COM1"));
        EXPECT_EQ(dlg.cbPort3->currentText(), QStringLiteral("COM3"));
        EXPECT_EQ(dlg.cbAlg->currentIndex(), 1);
        Configured::pick(dlg.cbPort1, QStringLiteral("COM12"));
        return QDialog::Accepted;
    });
    EXPECT_EQ(f.ComPort1->Port(), 12);
    EXPECT_TRUE(f.ComPort1->Connected());
}

TEST(CfgDialog, PortOneBackToNoneClosesAll)
{
    Configured c({1, 2, 3, 4}, ports(1, 2, 3, 4, 1));
    TFormMain &f = *c.f;
    ASSERT_TRUE(f.ComPort4->Connected());
    c.configure([](TCfgDialog &dlg) {
        dlg.cbPort1->setCurrentIndex(0);
        EXPECT_FALSE(dlg.cbPort2->isEnabled());
        EXPECT_EQ(dlg.cbPort2->currentText(), QStringLiteral("COM2")); // still shown
        return QDialog::Accepted;
    });
    for (TComPort *p : {f.ComPort1, f.ComPort2, f.ComPort3, f.ComPort4}) {
        EXPECT_FALSE(p->Connected());
        EXPECT_EQ(p->Port(), 0);
    }
    EXPECT_EQ(f.Model.settings().edge, 1); // the edge keeps its value
    EXPECT_FALSE(f.LedStart->Value());
}

TEST(CfgDialog, OkWithoutChangeReopensAndResets)
{
    Configured c({1, 2}, ports(1, 2, 0, 0));
    TFormMain &f = *c.f;
    QSignalSpy closes(f.ComPort2, &TComPort::OnClose);
    QSignalSpy opens(f.ComPort2, &TComPort::OnOpen);
    f.mStart->trigger(); // also while a race runs
    c.configure([](TCfgDialog &) { return QDialog::Accepted; });
    EXPECT_EQ(closes.count(), 1);
    EXPECT_EQ(opens.count(), 1);
    EXPECT_TRUE(f.ComPort1->Connected());
    EXPECT_TRUE(f.ComPort2->Connected());
    EXPECT_TRUE(f.mStart->isEnabled()); // reset
}

TEST(CfgDialog, LaneCountAccuracyOneBarrierAndCancel)
{
    Configured c({}, ports(0, 0, 0, 0, 0, 0));
    TFormMain &f = *c.f;
    EXPECT_EQ(f.Model.settings().accuracy, 0);
    const int height = f.height();
    c.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.TipIndex(), -1); // accuracy 0: no item
        dlg.seBahn->setValue(6);
        dlg.cbOneLS->setChecked(true);
        return QDialog::Accepted;
    });
    EXPECT_EQ(f.Model.settings().accuracy, 0);
    EXPECT_EQ(f.Model.lanes(), 6);
    EXPECT_EQ(f.height(), height - 2 * 63);
    EXPECT_TRUE(f.Model.settings().oneBarrier);

    c.configure([](TCfgDialog &dlg) {
        dlg.rbElectronic->setChecked(true);
        dlg.seBahn->setValue(3);
        dlg.cbOneLS->setChecked(false);
        return QDialog::Rejected;
    });
    EXPECT_EQ(f.Model.settings().accuracy, 0);
    EXPECT_EQ(f.Model.lanes(), 6);
    EXPECT_TRUE(f.Model.settings().oneBarrier);

    c.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.seBahn->Value(), 6); // refilled from the settings, not the cancelled edits
        dlg.rbElectronic->setChecked(true);
        dlg.seBahn->setText(QStringLiteral("0")); // typed, not yet left
        return QDialog::Accepted;
    });
    EXPECT_EQ(f.Model.settings().accuracy, 2);
    EXPECT_EQ(f.Model.lanes(), 1);

    Configured high({}, ports(0, 0, 0, 0, 0, 5));
    high.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.TipIndex(), 1);
        return QDialog::Accepted;
    });
    EXPECT_EQ(high.f->Model.settings().accuracy, 2);
}

TEST(CfgDialog, AStoredPortMissingFromTheListShowsNone)
{
    Configured c({1}, ports(1, 7, 0, 0)); // COM7 is not there
    TFormMain &f = *c.f;
    EXPECT_EQ(f.ComPort2->Port(), 7);
    c.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.cbPort2->currentIndex(), 0);
        return QDialog::Accepted;
    });
    EXPECT_EQ(f.ComPort2->Port(), 0);
    EXPECT_TRUE(f.ComPort1->Connected());
}

TEST(CfgDialog, SwitchListsDrawTheirPictures)
{
    Configured c({});
    TSwitchList *list = c.cfg->cbAlg;
    QImage image(80, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    list->drawItem(p, QRect(0, 0, 80, 20), 1, true, false);
    p.end();
    // The closed switch: its green lever lies 22 pixels right of the item's edge.
    bool green = false;
    for (int x = 22; x < 63; ++x)
        for (int y = 0; y < 16; ++y)
            green |= qGreen(image.pixel(x, y)) > 100 && qRed(image.pixel(x, y)) < 80;
    EXPECT_TRUE(green);
    EXPECT_EQ(c.cfg->Image1->pixmap().size(), QSize(41, 16));
    EXPECT_TRUE(c.cfg->Image1->isHidden());
    EXPECT_EQ(c.cfg->ComboBox1->count(), 2);
}

TEST(CfgDialog, TheResultsFolderIsChosenKeptAndCheckedOnOk)
{
    Configured c({});
    TFormMain &f = *c.f;
    EXPECT_EQ(f.ResultFolder, QString()); // off by default
    QTemporaryDir stick;
    c.fp.dialogs.folderAnswers.push_back([&stick](QString &folder) {
        folder = stick.path();
        return true;
    });
    c.configure([](TCfgDialog &dlg) {
        EXPECT_EQ(dlg.eResultFolder->text(), QString());
        dlg.bResultFolder->click();
        return QDialog::Accepted;
    });
    EXPECT_EQ(c.fp.dialogs.folderRequests, QStringList{QDir::homePath()}); // opens at home while none is set
    EXPECT_EQ(f.ResultFolder, stick.path());
    EXPECT_TRUE(c.fp.dialogs.messages.isEmpty());

    // A cancelled chooser changes nothing; the chooser opens at the folder set.
    c.configure([&stick](TCfgDialog &dlg) {
        dlg.bResultFolder->click();
        EXPECT_EQ(dlg.eResultFolder->text(), stick.path());
        return QDialog::Accepted;
    });
    EXPECT_EQ(c.fp.dialogs.folderRequests.last(), stick.path());
    EXPECT_EQ(f.ResultFolder, stick.path());

    // Kept with the settings, and read back at the next start.
    c.destroy();
    EXPECT_EQ(c.key().value(QStringLiteral("ResultFolder")).toString(), stick.path());
    TFormMain &g = c.create();
    EXPECT_EQ(g.ResultFolder, stick.path());

    // A folder that is not there is taken, and the operator is told.
    c.fp.dialogs.modalAnswers.push_back([](QDialog *d) {
        static_cast<TCfgDialog *>(d)->eResultFolder->setText(QStringLiteral("/media/stick-fehlt/ergebnisse"));
        return int(QDialog::Accepted);
    });
    g.Config1->trigger();
    EXPECT_EQ(g.ResultFolder, QStringLiteral("/media/stick-fehlt/ergebnisse"));
    ASSERT_EQ(c.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(c.fp.dialogs.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(c.fp.dialogs.messages[0].text.contains(QStringLiteral("nicht vorhanden")));
}

TEST(CfgDialog, RoundingUpIsChosenInTheDialogAndKeptWithTheSettings)
{
    Configured c({});
    TFormMain &f = *c.f;
    EXPECT_FALSE(f.Model.settings().roundUp); // off by default: truncated as the desk always did
    c.configure([](TCfgDialog &dlg) {
        EXPECT_FALSE(dlg.cbRoundUp->isChecked());
        EXPECT_EQ(dlg.cbRoundUp->text(), QStringLiteral("Zeiten nach Wettkampfregel aufrunden"));
        dlg.cbRoundUp->setChecked(true);
        return QDialog::Rejected;
    });
    EXPECT_FALSE(f.Model.settings().roundUp);
    c.configure([](TCfgDialog &dlg) {
        dlg.cbRoundUp->setChecked(true);
        return QDialog::Accepted;
    });
    EXPECT_TRUE(f.Model.settings().roundUp);
    c.destroy();
    EXPECT_EQ(c.key().value(QStringLiteral("RoundUp")).toInt(), 1);
    TFormMain &g = c.create();
    EXPECT_TRUE(g.Model.settings().roundUp);
    c.configure([](TCfgDialog &dlg) {
        EXPECT_TRUE(dlg.cbRoundUp->isChecked());
        dlg.cbRoundUp->setChecked(false);
        return QDialog::Accepted;
    });
    c.destroy();
    EXPECT_EQ(c.key().value(QStringLiteral("RoundUp")).toInt(), 0);
}
