// "Eintragen" and the heat change: the heats' blocks of the results table.

#include "DeskFixture.h"

#include "DateTimePicker.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

struct Meeting : Desk {
    TFormMain *f;
    explicit Meeting(int lanes = 8)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                 {"Title", "Kreismeisterschaften"}, {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
    }
    TSortGrid &table() { return *f->SortGrid1; }
    QString cell(int c, int r) { return table().Cells(c, r); }
    // Names the lanes, runs a race that stops the lanes in the given order at the given times.
    void race(const QList<std::pair<int, int>> &stops, const QString &prefix = QStringLiteral("Läufer"))
    {
        for (int lane = 1; lane <= f->Model.lanes(); ++lane) {
            f->Line(lane)->eNum->setText(QString::number(100 + lane));
            f->Line(lane)->eName->setText(prefix + QLatin1Char(' ') + QString::number(lane));
        }
        f->mStart->trigger();
        for (const auto &[lane, ms] : stops) {
            fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + static_cast<std::uint32_t>(ms);
            f->StopEntry(lane)->trigger();
        }
        f->mStop->trigger();
    }
};

} // namespace

TEST(Protocol, FirstEntryFillsHeatOneAndLoadsHeatTwo)
{
    Meeting m;
    TFormMain &f = *m.f;
    f.cmb_Disziplin->setEditText(QStringLiteral("100 m"));
    f.cbKlassen->setEditText(QStringLiteral("Männer"));
    f.sfWind->setValue(1.5);
    // Lane 3's club comes with the heat from the table; the start takes the time of day shown.
    f.Model.recordToWrite().setCell(4, 5, QStringLiteral("Startgemeinschaft"));
    f.seLaufChange();
    f.DateTimePicker1->setDate(QDate(2026, 12, 8));
    f.TimerDate->stop();
    f.PanelDate->setText(QStringLiteral("14:05:33"));
    m.race({{3, 10230}, {1, 10499}, {2, 11010}});
    f.mEintragen->trigger();

    EXPECT_EQ(m.table().RowCount(), 13);
    EXPECT_EQ(m.cell(0, 0), QStringLiteral("Kreismeisterschaften"));
    EXPECT_EQ(m.cell(0, 1), QStringLiteral("08.12.2026")); // the year in four digits, as the workbook has it
    EXPECT_EQ(m.cell(0, 2), QStringLiteral("1"));
    EXPECT_EQ(m.cell(1, 2), QStringLiteral("Vorlauf")); // the heat's kind, for the results lists
    EXPECT_EQ(m.cell(2, 2), QStringLiteral("100 m"));
    EXPECT_EQ(m.cell(3, 2), QStringLiteral("Männer"));
    EXPECT_EQ(m.cell(4, 2), QStringLiteral("1,5 m/s"));
    EXPECT_EQ(m.cell(5, 2), QStringLiteral("14:05:33"));
    EXPECT_EQ(m.cell(0, 5), QStringLiteral("3."));
    EXPECT_EQ(m.cell(1, 5), QStringLiteral("103"));
    EXPECT_EQ(m.cell(2, 5), QStringLiteral("Läufer 3"));
    EXPECT_EQ(m.cell(4, 5), QStringLiteral("Startgemeinschaft"));
    EXPECT_EQ(m.cell(5, 5), QStringLiteral("10,23 ")); // exactly as displayed
    EXPECT_EQ(m.cell(6, 5), QStringLiteral("1"));
    EXPECT_EQ(m.cell(5, 3), QStringLiteral("10,49 "));
    EXPECT_EQ(m.cell(0, 10), QStringLiteral("8."));
    EXPECT_EQ(m.cell(5, 10), QString()); // blanked by STOPP

    EXPECT_EQ(f.seLauf->Value(), 2);
    EXPECT_FALSE(f.bProtokoll->isEnabled());
    EXPECT_TRUE(f.mStart->isEnabled()); // the desk is ready again
    for (int lane = 1; lane <= 8; ++lane) {
        EXPECT_EQ(f.Line(lane)->eName->text(), QString()) << lane;
        EXPECT_EQ(f.Line(lane)->eNum->text(), QString()) << lane;
        EXPECT_EQ(f.Line(lane)->ePlatz->Caption(), QString()) << lane;
        EXPECT_EQ(f.Line(lane)->LabelTime->Tag(), 0) << lane;
    }
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QStringLiteral("100 m")); // kept

    m.race({{1, 12000}});
    f.cmb_Lauf->setCurrentText(QStringLiteral("Endlauf"));
    f.bProtokoll->click();
    EXPECT_EQ(m.table().RowCount(), 20);
    EXPECT_EQ(m.cell(0, 11), QStringLiteral("2"));
    EXPECT_EQ(m.cell(1, 11), QStringLiteral("Endlauf"));
    EXPECT_EQ(m.cell(5, 12), QStringLiteral("12,00 "));
    EXPECT_EQ(m.cell(4, 11), QStringLiteral("1,5 m/s"));
}

TEST(Protocol, OneLaneHeatSixAndTheLastHeat)
{
    Meeting m(1);
    TFormMain &f = *m.f;
    f.seLauf->setValue(6);
    m.race({{1, 9000}});
    f.mEintragen->trigger();
    EXPECT_EQ(m.table().RowCount(), 14);
    EXPECT_EQ(m.cell(0, 12), QStringLiteral("6"));
    EXPECT_EQ(m.cell(0, 13), QStringLiteral("1."));
    EXPECT_EQ(m.cell(5, 13), QStringLiteral("9,00 "));

    f.seLauf->setValue(100);
    f.Line(1)->eName->setText(QStringLiteral("Letzte"));
    f.mEintragen->trigger();
    EXPECT_EQ(f.seLauf->Value(), 100);
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Letzte")); // not reloaded
    EXPECT_EQ(m.cell(2, 100 * 2 + 1 - 2 + 2), QStringLiteral("Letzte"));
    EXPECT_EQ(m.table().RowCount(), 100 * 2 + 2);
}

TEST(Protocol, WindZeroDateOffAndSwitchedOffLanes)
{
    Meeting m(3);
    TFormMain &f = *m.f;
    m.f->Model.recordToWrite().setCell(4, 2, QStringLiteral("+0,8 m/s"));
    m.f->Model.recordToWrite().setCell(0, 1, QStringLiteral("1.6.2026"));
    f.DateTimePicker1->setChecked(false);
    f.SetEntry(2)->trigger();
    m.race({{1, 10000}, {3, 10100}});
    f.mEintragen->trigger();
    EXPECT_EQ(m.cell(4, 2), QStringLiteral("+0,8 m/s")); // wind 0 writes nothing
    EXPECT_EQ(m.cell(0, 1), QStringLiteral("1.6.2026"));
    EXPECT_EQ(m.cell(2, 4), QStringLiteral("Läufer 2")); // switched off, written all the same
    EXPECT_EQ(m.cell(5, 4), QString()); // STOPP blanked its transparent label
}

TEST(Protocol, HeatChangeLoadsAHeatAndClearsAnEmptyOne)
{
    Meeting m(3);
    TFormMain &f = *m.f;
    meeting::Record &t = f.Model.recordToWrite();
    t.setRowCount(20);
    // Heat 2: rows 6..9.
    t.setCell(1, 6, QStringLiteral("Endlauf"));
    t.setCell(2, 6, QStringLiteral("200 m"));
    t.setCell(3, 6, QStringLiteral("Frauen"));
    t.setCell(1, 7, QStringLiteral(" "));
    t.setCell(2, 7, QStringLiteral("  Anna Meyer\t"));
    t.setCell(4, 7, QStringLiteral("LG Nord"));
    t.setCell(2, 8, QStringLiteral(" "));
    t.setCell(5, 8, QStringLiteral("1:05,43 "));
    t.setCell(6, 8, QStringLiteral("2"));
    t.setCell(5, 9, QStringLiteral("59,99 "));
    t.setCell(6, 9, QStringLiteral("n.a."));
    f.SetEntry(1)->trigger();
    f.seLauf->setValue(2);
    EXPECT_EQ(f.cmb_Lauf->currentText(), QStringLiteral("Endlauf"));
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QStringLiteral("200 m"));
    EXPECT_EQ(f.cbKlassen->currentText(), QStringLiteral("Frauen"));
    EXPECT_EQ(f.Line(1)->eNum->text(), QStringLiteral(" "));      // a blank start number stays a blank
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Anna Meyer"));
    EXPECT_EQ(f.Line(1)->eName->toolTip(), QStringLiteral("LG Nord"));
    EXPECT_TRUE(f.Line(1)->cbON->isChecked());
    EXPECT_EQ(f.Line(2)->eName->text(), QString()); // a name of one blank
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 65430);  // a time of a minute or more is kept
    EXPECT_EQ(f.Line(3)->LabelTime->Tag(), 59990);
    EXPECT_EQ(f.Line(3)->ePlatz->Caption(), QStringLiteral("n.a."));
    EXPECT_TRUE(f.CheckBox_all->isChecked());

    // The recount places the loaded times; a lane with a place text keeps it and takes no place.
    f.RecountPlaces();
    EXPECT_EQ(f.Line(3)->ePlatz->Caption(), QStringLiteral("n.a."));
    EXPECT_EQ(f.Line(2)->ePlatz->Caption(), QStringLiteral("1"));

    // A heat never entered clears the lanes and keeps discipline and class.
    f.seLauf->setValue(4);
    EXPECT_EQ(f.Line(1)->eName->text(), QString());
    EXPECT_EQ(f.Line(2)->LabelTime->text(), QString());
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 0);
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QStringLiteral("200 m"));

    // A typed 0 loads heat 1, never rows above the title. A text in the kind's cell that is no kind
    // leaves the box as it is.
    t.setCell(1, 2, QStringLiteral("14:30"));
    t.setCell(2, 3, QStringLiteral("Erste"));
    f.seLauf->setText(QStringLiteral("0"));
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Erste"));
    EXPECT_EQ(f.cmb_Lauf->currentText(), QStringLiteral("Endlauf"));
}

TEST(Protocol, LaneCountChangeBetweenEntries)
{
    Meeting m(4);
    TFormMain &f = *m.f;
    m.race({{1, 10000}});
    f.mEintragen->trigger(); // heat 1: rows 2..6
    f.Model.setLanes(2);
    f.bResetClick();
    m.race({{2, 11000}}, QStringLiteral("Zwei"));
    f.mEintragen->trigger(); // heat 2 with 2 lanes: rows 5..7, over heat 1's lanes 3 and 4
    EXPECT_EQ(m.cell(0, 5), QStringLiteral("2"));
    EXPECT_EQ(m.cell(2, 6), QStringLiteral("Zwei 1"));
    EXPECT_EQ(m.cell(2, 3), QStringLiteral("Läufer 1")); // heat 1 stays where it was written
    EXPECT_EQ(m.table().RowCount(), 13);
}

TEST(Protocol, AMeetingOfThreeHeatsCanBeLookedAtAgain)
{
    Meeting m(3);
    TFormMain &f = *m.f;
    for (int heat = 1; heat <= 3; ++heat) {
        m.race({{3, 10000 + heat}, {1, 10200 + heat}, {2, 70000 + heat}}, QStringLiteral("Lauf%1").arg(heat));
        f.mEintragen->trigger();
    }
    EXPECT_EQ(f.seLauf->Value(), 4);
    f.seLauf->setValue(1);
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Lauf1 1"));
    EXPECT_EQ(f.Line(3)->LabelTime->text(), QStringLiteral("10,00 "));
    EXPECT_EQ(f.Line(2)->LabelTime->text(), QStringLiteral("1:10,00 "));
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 70001); // the time as it was taken, not as it reads
    EXPECT_EQ(f.Line(3)->ePlatz->Caption(), QStringLiteral("1"));
    EXPECT_EQ(f.Line(2)->ePlatz->Caption(), QStringLiteral("3"));
    f.Line(1)->eAusDblClick();
    f.Line(1)->eAusDblClick(); // out and back in: recounted from the loaded times
    EXPECT_EQ(f.Line(1)->ePlatz->Caption(), QStringLiteral("2"));
    EXPECT_EQ(f.Line(2)->ePlatz->Caption(), QStringLiteral("3"));
}
