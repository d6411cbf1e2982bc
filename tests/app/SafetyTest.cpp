// Nothing lost, nothing invented: a typed heat number, an exception in a command, the clock after
// the last stop, places of the one-barrier mode and of disqualified runners, the keypad, the start
// number field, settings read from a hand-edited file.

#include "DeskFixture.h"

#include "CfgDialog.h"
#include "GuardedApplication.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TimeText.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Safe : Desk {
    TFormMain *f;
    explicit Safe(int lanes = 8, int accuracy = 2, bool oneBarrier = false)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", lanes}, {"Accuracy", accuracy}, {"OneLS", oneBarrier ? 1 : 0}};
        f = &create();
    }
    void stopAt(int lane, std::uint32_t ms)
    {
        fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + ms;
        f->StopEntry(lane)->trigger();
    }
    QString place(int lane) { return f->Line(lane)->ePlatz->Caption(); }
};

} // namespace

TEST(Safety, ALongTypedHeatNumberIsHeldToTheHeats)
{
    Safe s(8);
    TFormMain &f = *s.f;
    f.show();
    f.seLauf->setFocus();
    f.seLauf->selectAll();
    QTest::keyClicks(f.seLauf, QStringLiteral("300000000"));
    EXPECT_EQ(f.CurrentHeat(), TFormMain::MaxHeat);
    f.Line(1)->eName->setText(QStringLiteral("Eva"));
    f.mEintragen->trigger();
    // Heat 100 is the last block: the table grows to it and no further.
    EXPECT_EQ(f.SortGrid1->RowCount(), 100 * 9 + 2);
    EXPECT_EQ(f.SortGrid1->Cells(0, TFormMain::HeatHeaderRow(100, 8)), QStringLiteral("100"));
    EXPECT_EQ(f.SortGrid1->Cells(2, TFormMain::HeatHeaderRow(100, 8) + 1), QStringLiteral("Eva"));
}

TEST(Safety, AnExceptionInACommandShowsTheErrorBoxAndTheDeskGoesOn)
{
    Safe s;
    TFormMain &f = *s.f;
    platform::GuardedApplication::setReporter([&f](const QString &text) { f.ShowError(text); });
    s.fp.dialogs.fileAnswers.push_back([](platform::FileDialogRequest &) -> bool {
        throw std::runtime_error("Datenträger nicht bereit");
    });
    f.show();
    // Two commands run from the event loop: the start list (whose dialog fails) and one that throws
    // something that is not even an exception class.
    QTimer::singleShot(0, &f, [&f] { f.bOpenClick(); });
    QTimer::singleShot(0, [] { throw 42; });
    QCoreApplication::processEvents();
    platform::GuardedApplication::setReporter(nullptr);

    ASSERT_EQ(s.fp.dialogs.messages.size(), 2);
    EXPECT_EQ(s.fp.dialogs.messages[0].text, QString::fromUtf8("Datenträger nicht bereit"));
    EXPECT_EQ(s.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
    EXPECT_EQ(s.fp.dialogs.messages[1].text, platform::GuardedApplication::unknownErrorText());
    // The desk still times a race.
    f.mStart->trigger();
    s.stopAt(1, 1230);
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QStringLiteral("1,23 "));
}

TEST(Safety, LanesLoadedAfterTheLastStopAreNeverTimed)
{
    Safe s(2);
    TFormMain &f = *s.f;
    f.mStart->trigger();
    s.stopAt(1, 10000);
    s.stopAt(2, 11000);
    f.seLauf->setValue(2); // an empty heat: the lanes get time 0
    s.fp.ticks.now += 12000;
    f.ClockTimer();        // a tick that was still on its way
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QString());
    EXPECT_EQ(f.Line(2)->LabelTime->text(), QString());
    f.mEintragen->trigger();
    EXPECT_EQ(f.SortGrid1->Cells(5, TFormMain::HeatHeaderRow(2, 2) + 1), QString());
}

TEST(Safety, OneBarrierPlacesStartAtOneInEveryRaceAndSurviveTheAusToggle)
{
    Safe s(6, 2, true);
    TFormMain &f = *s.f;
    f.mStart->trigger();
    f.AddFinishTime(10120);
    f.AddFinishTime(10340);
    f.AddFinishTime(10990);
    f.mStop->trigger();
    f.StopEntry(4)->trigger();
    f.StopEntry(2)->trigger();
    f.StopEntry(6)->trigger();
    EXPECT_EQ(s.place(4), QStringLiteral("1"));
    EXPECT_EQ(s.place(2), QStringLiteral("2"));
    EXPECT_EQ(s.place(6), QStringLiteral("3"));

    // "Aus" on the second recounts the list-timed lanes as it does key-stopped ones, and back.
    f.Line(2)->eAusDblClick();
    EXPECT_EQ(s.place(4), QStringLiteral("1"));
    EXPECT_EQ(s.place(2), QStringLiteral("Aus"));
    EXPECT_EQ(s.place(6), QStringLiteral("2"));
    f.Line(2)->eAusDblClick();
    EXPECT_EQ(s.place(2), QStringLiteral("2"));
    EXPECT_EQ(s.place(6), QStringLiteral("3"));

    // Leftovers of a race: two entries handed out, one left over. The next race begins at 1.
    f.mEintragen->trigger();
    f.mStart->trigger();
    f.AddFinishTime(9000);
    f.AddFinishTime(9500);
    f.AddFinishTime(9900);
    f.mStop->trigger();
    f.StopEntry(1)->trigger();
    f.StopEntry(3)->trigger();
    f.mEintragen->trigger();
    f.bStart->click();
    f.AddFinishTime(8000);
    f.mStop->trigger();
    f.StopEntry(5)->trigger();
    EXPECT_EQ(s.place(5), QStringLiteral("1"));
}

TEST(Safety, APlaceTextKeepsItsLaneOutOfEveryRecount)
{
    Safe s(5);
    TFormMain &f = *s.f;
    f.N31->setText(QStringLiteral("disq."));
    f.mStart->trigger();
    s.stopAt(1, 10000);
    s.stopAt(2, 10500);
    s.stopAt(3, 11000);
    s.stopAt(4, 11500);
    s.stopAt(5, 12000);
    f.PopupMenuNATag = 1;
    f.N31->trigger();
    f.Line(5)->eAusDblClick();
    EXPECT_EQ(s.place(1), QStringLiteral("disq."));
    EXPECT_EQ(s.place(2), QStringLiteral("1"));
    EXPECT_EQ(s.place(4), QStringLiteral("3"));
    EXPECT_EQ(s.place(5), QStringLiteral("Aus"));
    f.Line(5)->eAusDblClick();
    EXPECT_EQ(s.place(1), QStringLiteral("disq."));
    EXPECT_EQ(s.place(5), QStringLiteral("4"));
}

TEST(Safety, KeypadCommandKeysNeverReachAField)
{
    Safe s;
    TFormMain &f = *s.f;
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QLineEdit *field = f.Line(1)->eName;
    field->setFocus();
    const Qt::KeyboardModifiers keypad = Qt::KeypadModifier;

    QTest::keyClick(field, Qt::Key_0, Qt::ControlModifier | keypad); // "All Set", enabled
    EXPECT_FALSE(f.CheckBox_all->isChecked());
    f.mStart->trigger();                                             // now disabled
    QTest::keyClick(field, Qt::Key_0, Qt::ControlModifier | keypad);
    QTest::keyClick(field, Qt::Key_0, Qt::AltModifier | keypad);     // "Reset", never enabled
    EXPECT_EQ(field->text(), QString());
    EXPECT_FALSE(f.CheckBox_all->isChecked());
}

TEST(Safety, StartNumberTakesDigitsOnlyWhateverTheWayIn)
{
    Safe s;
    QLineEdit *num = s.f->Line(1)->eNum;
    QGuiApplication::clipboard()->setText(QStringLiteral("4x5"));
    num->paste(); // the context menu's paste
    EXPECT_EQ(num->text(), QStringLiteral("45"));

    num->clear();
    QInputMethodEvent ime(QString(), {});
    ime.setCommitString(QString::fromUtf8("7ab٣8"));
    QCoreApplication::sendEvent(num, &ime);
    EXPECT_EQ(num->text(), QStringLiteral("78"));

    s.f->Line(1)->setStartNumber(QStringLiteral(" ")); // a start list's empty start number
    EXPECT_EQ(num->text(), QStringLiteral(" "));
}

TEST(Safety, SettingsKeepTheWidenedWindowAndHandEditedValuesAreBroughtIntoRange)
{
    Safe s;
    s.destroy();
    s.key()[QStringLiteral("Alg")] = 5;
    s.key()[QStringLiteral("Accuracy")] = -1;
    TFormMain &f = s.create();
    EXPECT_EQ(f.Model.settings().edge, 1);
    EXPECT_EQ(f.Model.settings().accuracy, 0);
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QStringLiteral("0 "));

    f.Show1->trigger();
    ASSERT_EQ(f.width(), 1370);
    s.fp.dialogs.modalAnswers.push_back([&s](QDialog *) {
        s.cfg->seBahn->setValue(6);
        return QDialog::Accepted;
    });
    f.Config1->trigger();
    EXPECT_EQ(f.width(), 1370);
    EXPECT_EQ(f.height(), 63 * 6 + 120 + TFormMain::LineLampsHeight + 48 - 3);
    EXPECT_EQ(f.Model.settings().edge, 1);
}

TEST(Safety, TimeOfDayShowsHoursMinutesSecondsWithoutTheZone)
{
    for (const QLocale &locale : {QLocale(QLocale::Spanish, QLocale::Spain), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        const QString format = TimeOfDayFormat(locale);
        const QString shown = locale.toString(QTime(14, 5, 33), format);
        EXPECT_TRUE(shown.contains(QStringLiteral("05:33")) || shown.contains(QStringLiteral("5:33")))
            << shown.toStdString();
        EXPECT_FALSE(shown.contains(QLatin1Char('('))) << shown.toStdString();
        EXPECT_EQ(shown, shown.trimmed()) << shown.toStdString();
        EXPECT_FALSE(format.contains(QLatin1Char('t'))) << format.toStdString();
    }
    EXPECT_EQ(TimeOfDayFormat(QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("HH:mm:ss"));
}
