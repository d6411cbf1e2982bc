// The command keys: every key of the table in the states where it is enabled and where it is not.

#include "DeskFixture.h"

#include "CfgDialog.h"
#include "FormInfo.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "Wait.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A text field that counts the keys it receives.
class KeyRecorder : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        const int k = e->key();
        if (k != Qt::Key_Alt && k != Qt::Key_Control && k != Qt::Key_Shift && k != Qt::Key_Meta)
            ++keys;
        QLineEdit::keyPressEvent(e);
    }
};

struct KeyDesk : Desk {
    TFormMain *f;
    KeyRecorder *field;
    KeyDesk()
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", 12}};
        f = &create();
        field = new KeyRecorder(f->PanelTop);
        field->setGeometry(600, 80, 100, 30);
        f->show();
        f->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(f));
        field->setFocus();
    }
    void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(field, static_cast<Qt::Key>(key), mods);
    }
};

} // namespace

TEST(Keys, StoredShortcutValues)
{
    EXPECT_EQ(TFormMain::ShortCutValue(QKeySequence(Qt::ALT | Qt::Key_L)), 0x804C);
    EXPECT_EQ(TFormMain::ShortCutValue(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D)), 0xC044);
    EXPECT_EQ(TFormMain::ShortCutValue(QKeySequence(Qt::Key_F1)), 0x70);
    EXPECT_EQ(TFormMain::ShortCutValue(QKeySequence(Qt::CTRL | Qt::Key_F12)), 0x407B);
    EXPECT_EQ(TFormMain::ShortCutValue(QKeySequence(Qt::SHIFT | Qt::Key_Delete)), 0x202E);
    EXPECT_EQ(TFormMain::ShortCutSequence(0x4030), QKeySequence(Qt::CTRL | Qt::Key_0));
    EXPECT_EQ(TFormMain::ShortCutSequence(0xC044), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D));
    EXPECT_TRUE(TFormMain::ShortCutSequence(0).isEmpty());

    Desk d;
    TFormMain &f = d.create();
    EXPECT_EQ(TFormMain::ShortCutValue(f.mStart->shortcut()), 0x804C);
    EXPECT_EQ(TFormMain::ShortCutValue(f.Show1->shortcut()), 0xC044);
    EXPECT_EQ(TFormMain::ShortCutValue(f.StopEntry(12)->shortcut()), 0x7B);
    EXPECT_EQ(TFormMain::ShortCutValue(f.SetEntry(3)->shortcut()), 0x4072);
    EXPECT_EQ(TFormMain::ShortCutValue(f.mAllSet->shortcut()), 0x4030);
    EXPECT_EQ(TFormMain::ShortCutValue(f.mEintragen->shortcut()), 0x8045);
    EXPECT_TRUE(f.False1->shortcut().isEmpty());
    EXPECT_FALSE(f.False1->isEnabled());
    EXPECT_EQ(f.mEintragen->text(), QStringLiteral("Eintragen "));
}

TEST(Keys, DisabledKeysDoNothingAndNeverReachTheFocusedField)
{
    KeyDesk d;
    TFormMain &f = *d.f;
    // Ready: the stop keys, STOPP and Reset are off.
    for (int n = 0; n < 12; ++n)
        d.press(Qt::Key_F1 + n);
    d.press(Qt::Key_S, Qt::AltModifier);
    d.press(Qt::Key_0, Qt::AltModifier);
    EXPECT_EQ(d.field->keys, 0);
    EXPECT_EQ(f.Model.desk().finishCount, 0);
    EXPECT_TRUE(d.fp.sound.played.isEmpty());
    EXPECT_TRUE(f.mStart->isEnabled());

    d.press(Qt::Key_L, Qt::AltModifier); // start
    EXPECT_FALSE(f.mStart->isEnabled());
    d.fp.sound.played.clear();
    // Running: start, the set keys of taking-part lanes, All Set and Reset are off.
    d.press(Qt::Key_L, Qt::AltModifier);
    for (int n = 0; n < 12; ++n)
        d.press(Qt::Key_F1 + n, Qt::ControlModifier);
    d.press(Qt::Key_0, Qt::ControlModifier);
    d.press(Qt::Key_0, Qt::AltModifier);
    EXPECT_EQ(d.field->keys, 0);
    EXPECT_EQ(d.fp.ticks.sleeps.size(), 1u); // one start only
    for (int lane = 1; lane <= 12; ++lane)
        EXPECT_TRUE(f.Line(lane)->cbON->isChecked()) << lane;
    EXPECT_TRUE(d.fp.sound.played.isEmpty());
}

TEST(Keys, EnabledKeysActWhereverTheFocusIs)
{
    KeyDesk d;
    TFormMain &f = *d.f;
    d.press(Qt::Key_F3, Qt::ControlModifier); // set lane 3 off
    EXPECT_FALSE(f.Line(3)->cbON->isChecked());
    d.press(Qt::Key_0, Qt::ControlModifier); // all set: all off
    EXPECT_FALSE(f.Line(1)->cbON->isChecked());
    d.press(Qt::Key_0, Qt::ControlModifier); // all on
    EXPECT_TRUE(f.Line(3)->cbON->isChecked());
    d.press(Qt::Key_F12, Qt::ControlModifier); // lane 12 off
    d.press(Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(f.RunMask(), 0x7FFu);
    d.press(Qt::Key_F12, Qt::ControlModifier); // a lane out of the race stays settable
    EXPECT_TRUE(f.Line(12)->cbON->isChecked());
    EXPECT_EQ(f.Line(12)->LabelTime->Tag(), -1);
    for (int n = 11; n >= 1; --n) {
        d.fp.ticks.now += 10;
        d.press(Qt::Key_F1 + n - 1);
        EXPECT_EQ(f.Line(n)->ePlatz->Caption(), QString::number(12 - n)) << n;
    }
    EXPECT_FALSE(f.bStop->isEnabled());
    d.press(Qt::Key_S, Qt::AltModifier); // "Stopp" stays enabled
    EXPECT_FALSE(f.Clock->isActive());
    EXPECT_EQ(d.field->keys, 0);
}

TEST(Keys, AlwaysAvailableCommands)
{
    KeyDesk d;
    TFormMain &f = *d.f;
    f.mStart->trigger(); // also during a race
    QSignalSpy entry(f.mEintragen, &QAction::triggered);
    QSignalSpy startList(f.mStartList, &QAction::triggered);
    QSignalSpy exportCmd(f.mExport, &QAction::triggered);
    QSignalSpy config(f.Config1, &QAction::triggered);
    QSignalSpy info(f.Info1, &QAction::triggered);
    QSignalSpy help(f.Hilfe1, &QAction::triggered);
    d.press(Qt::Key_E, Qt::AltModifier);
    d.press(Qt::Key_O, Qt::AltModifier);
    d.press(Qt::Key_X, Qt::AltModifier);
    d.press(Qt::Key_E, Qt::ControlModifier);
    d.press(Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(entry.count(), 1);     // Alt+E: "Eintragen ", never the "&Einstellungen" button
    EXPECT_EQ(config.count(), 1);
    EXPECT_EQ(startList.count(), 1);
    EXPECT_EQ(exportCmd.count(), 1); // Alt+X: the export command once, not twice
    EXPECT_EQ(info.count(), 1);
    ASSERT_EQ(d.fp.dialogs.modals.size(), 2); // Ctrl+E the settings, Ctrl+I the information window
    EXPECT_EQ(d.fp.dialogs.modals[0], static_cast<QDialog *>(f.CfgDialog));
    EXPECT_EQ(d.fp.dialogs.modals[1], static_cast<QDialog *>(f.FormInfo));
    d.press(Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(help.count(), 1);
    d.press(Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(f.SoundOn);
    d.press(Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(f.width(), 1370);
    EXPECT_EQ(d.field->keys, 0);
}

TEST(Keys, ButtonAcceleratorsWhereNoCommandTakesTheKey)
{
    KeyDesk d;
    TFormMain &f = *d.f;
    QSignalSpy helpButton(f.bHilfe, &QPushButton::clicked);
    d.press(Qt::Key_H, Qt::AltModifier); // "&Hilfe" (the button animates its click)
    EXPECT_TRUE(waitUntil([&] { return helpButton.count() == 1; }));
    d.press(Qt::Key_I, Qt::AltModifier); // "&Info"
    EXPECT_TRUE(waitUntil([&] { return d.fp.dialogs.modals.size() == 1; }));
    // Alt+S belongs to "Stopp": in the ready state it does nothing, the start list does not open.
    QSignalSpy startList(f.mStartList, &QAction::triggered);
    QSignalSpy openButton(f.bOpen, &QPushButton::clicked);
    d.press(Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(startList.count(), 0);
    EXPECT_EQ(openButton.count(), 0);
    // The underlined letters stay.
    EXPECT_EQ(f.bCFG->text(), QStringLiteral("&Einstellungen"));
    EXPECT_EQ(f.bOpen->text(), QStringLiteral("&Startliste"));
    EXPECT_EQ(f.bSave->text(), QStringLiteral("E&xport"));
}
