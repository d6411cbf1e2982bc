// Start-up, settings, shut-down and the close question of the main window.

#include "DeskFixture.h"

#include "Comms.h"
#include "DateTimePicker.h"
#include "LbSpeedButton.h"
#include "SpinEdit.h"

#include <QGuiApplication>
#include <QTimer>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {
QStringList shutDownOrder()
{
    return {"Left",      "Top",   "Width", "Height",  "Port1",     "Port2",    "Port3", "Port4", "Alg",
            "Sound",     "FilterInd", "Monitor", "Title", "LineCount", "Accuracy", "OneLS", "Wind",  "DataON",
            "LiveOn",    "LivePort", "LiveBind", "LivePublish", "LiveProxies", "ResultFolder", "RoundUp"};
}
} // namespace

TEST(StartUp, FirstRunTakesTheDefaultsAndShutDownWritesEveryValueInOrder)
{
    Desk d;
    TFormMain &f = d.create();
    EXPECT_EQ(f.Model.lanes(), 8);
    EXPECT_EQ(f.Model.settings().accuracy, 1);
    EXPECT_TRUE(f.SoundOn);
    EXPECT_TRUE(f.bSound->isChecked());
    EXPECT_FALSE(f.Model.settings().oneBarrier);
    EXPECT_EQ(f.Model.settings().edge, 0);
    EXPECT_EQ(f.ComPort1->Port(), 0);
    EXPECT_EQ(f.eTitle->text(), QStringLiteral("Deutsche Meisterschaften"));
    EXPECT_EQ(f.height(), 693); // 8 lanes, the panels and the strip of line lamps
    EXPECT_EQ(f.width(), 1020);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Zielkron 1.4"));
    EXPECT_EQ(f.ProgramName, QStringLiteral("zielkron"));
    EXPECT_TRUE(f.mStart->isEnabled()); // ready
    EXPECT_TRUE(d.fp.settings.keys.isEmpty()); // reading created nothing

    d.destroy();
    EXPECT_EQ(d.fp.settings.writeOrder, shutDownOrder());
    const fake::Key &k = d.key();
    EXPECT_EQ(k.value("Sound"), 1);
    EXPECT_EQ(k.value("LineCount"), 8);
    EXPECT_EQ(k.value("Accuracy"), 1);
    EXPECT_EQ(k.value("Wind"), 0);
    EXPECT_EQ(k.value("DataON"), 1);
    EXPECT_EQ(k.value("FilterInd"), 1);
    EXPECT_EQ(k.value("Title"), QStringLiteral("Deutsche Meisterschaften"));
}

TEST(StartUp, SettingsSurviveARestart)
{
    Desk d;
    {
        TFormMain &f = d.create();
        f.eTitle->setText(QStringLiteral("Kreismeisterschaften"));
        f.sfWind->setValue(-2.5);
        f.bSound->click();
        f.DateTimePicker1->setChecked(false);
        f.Model.setLanes(6);
        f.Model.setAccuracy(2);
        d.destroy();
    }
    EXPECT_EQ(d.key().value("Wind"), -25);
    TFormMain &f = d.create();
    EXPECT_EQ(f.eTitle->text(), QStringLiteral("Kreismeisterschaften"));
    EXPECT_EQ(f.sfWind->text(), QStringLiteral("-2,5"));
    EXPECT_FALSE(f.SoundOn);
    EXPECT_FALSE(f.bSound->isChecked());
    EXPECT_FALSE(f.DateTimePicker1->Checked());
    EXPECT_EQ(f.Model.lanes(), 6);
    EXPECT_EQ(f.Model.settings().accuracy, 2);
    EXPECT_EQ(f.height(), 63 * 6 + 189);
}

TEST(StartUp, AMissingOrMistypedValueEndsTheReading)
{
    Desk d;
    d.key() = {{"Left", 10},    {"Top", 20},       {"Height", 300}, {"Sound", 0},   {"Port2", 3},
               {"Alg", 1},      {"Title", "Halle"}, {"LineCount", 4}, {"Accuracy", 2}, {"OneLS", 1},
               {"Wind", 15},    {"DataON", 0}}; // Port1 deleted
    TFormMain &f = d.create();
    EXPECT_FALSE(f.SoundOn); // read before the gap
    EXPECT_EQ(f.ComPort2->Port(), 0);
    EXPECT_EQ(f.Model.settings().edge, 0);
    EXPECT_EQ(f.eTitle->text(), QStringLiteral("Deutsche Meisterschaften"));
    EXPECT_EQ(f.Model.lanes(), 8);
    EXPECT_EQ(f.Model.settings().accuracy, 1);
    EXPECT_FALSE(f.Model.settings().oneBarrier);
    EXPECT_EQ(f.sfWind->Value(), 0.0);
    EXPECT_TRUE(f.DateTimePicker1->Checked());
    d.destroy();

    // A value of the wrong type counts as missing.
    Desk e;
    e.key() = {{"Left", 10}, {"Top", 20}, {"Height", 300}, {"Sound", QStringLiteral("0")}};
    EXPECT_TRUE(e.create().SoundOn);
}

TEST(StartUp, AMissingTitleEmptiesTheFieldAndReadingGoesOn)
{
    Desk d;
    d.key() = {{"Left", 1}, {"Top", 1}, {"Height", 1}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0}, {"Port3", 0},
               {"Port4", 0}, {"Alg", 1}, {"FilterInd", 2}, {"Monitor", 3}, {"LineCount", 10}, {"Accuracy", 0},
               {"OneLS", 1}, {"Wind", -25}, {"DataON", 0}};
    TFormMain &f = d.create();
    EXPECT_EQ(f.eTitle->text(), QString());
    EXPECT_EQ(f.Model.settings().edge, 1);
    EXPECT_EQ(f.SaveDialog1.FilterIndex, 2);
    EXPECT_EQ(f.Model.lanes(), 10);
    EXPECT_EQ(f.height(), 819);
    EXPECT_EQ(f.Model.settings().accuracy, 0);
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QStringLiteral("0 "));
    EXPECT_TRUE(f.Model.settings().oneBarrier);
    EXPECT_EQ(f.sfWind->text(), QStringLiteral("-2,5"));
    EXPECT_FALSE(f.DateTimePicker1->Checked());
    d.destroy();
    EXPECT_EQ(d.key().value("Monitor"), 0); // one monitor here
    EXPECT_EQ(d.key().value("Wind"), -25);
}

TEST(StartUp, StoredLaneCountIsKeptWithinTheTwelveRows)
{
    for (const auto &[stored, lanes] : {std::pair{40, 12}, {0, 1}, {-3, 1}, {12, 12}}) {
        Desk d;
        d.key() = {{"Left", 1}, {"Top", 1}, {"Height", 1}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                   {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                   {"Title", "T"}, {"LineCount", stored}};
        TFormMain &f = d.create();
        EXPECT_EQ(f.Model.lanes(), lanes) << stored;
        EXPECT_EQ(f.height(), 63 * lanes + 189) << stored;
    }
}

TEST(StartUp, FileTypeNamesHelpFileAndDialogFolders)
{
    Desk d;
    d.programPath = QStringLiteral("/srv/timing/desk");
    d.fp.fileTypes.text = QStringLiteral("Einfaches Textdokument");
    d.fp.fileTypes.csv = QStringLiteral("CSV-Dokument");
    TFormMain &f = d.create();
    EXPECT_EQ(f.ProgramName, QStringLiteral("desk"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Zielkron")); // the title of its boxes
    EXPECT_EQ(f.OpenDialog1.Filter,
              QStringLiteral("Einfaches Textdokument (*.txt)|*.txt|MS Excel (*.xlsx *.xls *.ods)|*.xlsx;*.xls;*.ods|"
                             "Wettkampfdateien (*.evt *.ppl)|*.evt;*.ppl"));
    EXPECT_EQ(f.SaveDialog1.Filter, QStringLiteral("Einfaches Textdokument (*.txt)|*.txt|MS Excel (*.xlsx)|*.xlsx|"
                                                   "CSV-Dokument (*.csv)|*.csv|Wettkampfdateien (*.lif)|*.lif|"
                                                   "PDF-Dokument (*.pdf)|*.pdf|"));
    EXPECT_EQ(f.SaveDialog1.FileName, QStringLiteral("desk"));
    EXPECT_EQ(f.SaveDialog1.InitialDir, QStringLiteral("/srv/timing"));
    EXPECT_EQ(f.OpenDialog1.InitialDir, QStringLiteral("/srv/timing"));
    EXPECT_EQ(f.SaveDialog1.DefaultExt, QStringLiteral("txt"));
    EXPECT_EQ(f.HelpFile, QStringLiteral("/srv/timing/desk.chm"));
    EXPECT_EQ(f.ManualFile, QStringLiteral("/srv/timing/zielkron-hilfe/index.html"));
    d.destroy();
    EXPECT_TRUE(d.fp.settings.keys.contains(QStringLiteral("desk"))); // a renamed program keeps its own key

    // Without the text name the step ends: the CSV name keeps its built-in text too.
    // Without the spreadsheet application the workbook types are missing.
    Desk e;
    e.fp.fileTypes.csv = QStringLiteral("CSV-Dokument");
    e.fp.spreadsheet.registered = false;
    TFormMain &g = e.create();
    EXPECT_EQ(g.OpenDialog1.Filter, QStringLiteral("Textdatei (*.txt)|*.txt|Wettkampfdateien (*.evt *.ppl)|*.evt;*.ppl"));
    EXPECT_EQ(g.SaveDialog1.Filter,
              QStringLiteral("Textdatei (*.txt)|*.txt|CSV (*.csv)|*.csv|Wettkampfdateien (*.lif)|*.lif|"
                             "PDF-Dokument (*.pdf)|*.pdf|"));
}

TEST(StartUp, CloseQuestionDecidesAndLeavesARunningRaceAlone)
{
    Desk d;
    TFormMain &f = d.create();
    f.show();
    f.bStart2Click();
    d.fp.dialogs.answers = {platform::MbNo};
    EXPECT_FALSE(f.close());
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    const fake::MessageCall &m = d.fp.dialogs.messages.first();
    EXPECT_EQ(m.text, QStringLiteral("Programm beenden?"));
    EXPECT_EQ(m.caption, QStringLiteral("Bestätigen"));
    EXPECT_EQ(m.buttons, platform::MessageButtons::YesNo);
    EXPECT_EQ(m.icon, platform::MessageIcon::Question);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.Clock->isActive());
    EXPECT_TRUE(f.StopEntry(1)->isEnabled());
    EXPECT_TRUE(d.fp.settings.keys.isEmpty());

    d.fp.dialogs.answers = {platform::MbYes};
    EXPECT_TRUE(f.close());
}

TEST(StartUp, ListFilesFillTheDisciplinesClassesAndPlaceTexts)
{
    Desk d;
    d.writeFile(QStringLiteral("Zielkron-Disziplinen.lst"), "100 m\r\n100 m H\xc3\xbcrden\r\n\r\n200 m\r\n");
    d.writeFile(QStringLiteral("Zielkron-klassen.lst"), "M\xe4nner\rFrauen\rU18 m\xe4nnlich"); // code page, CR
    d.writeFile(QStringLiteral("Zielkron-na.lst"), "\xef\xbb\xbf" "DNS\r\nDNF\r\n");
    TFormMain &f = d.create();
    ASSERT_EQ(f.cmb_Disziplin->count(), 4);
    EXPECT_EQ(f.cmb_Disziplin->itemText(1), QString::fromUtf8("100 m Hürden"));
    EXPECT_EQ(f.cmb_Disziplin->itemText(2), QString());
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QStringLiteral("100 m"));
    ASSERT_EQ(f.cbKlassen->count(), 3);
    EXPECT_EQ(f.cbKlassen->itemText(0), QString::fromUtf8("Männer"));
    EXPECT_EQ(f.cbKlassen->itemText(2), QString::fromUtf8("U18 männlich"));
    EXPECT_EQ(f.N11->text(), QStringLiteral("DNS"));
    EXPECT_EQ(f.N21->text(), QStringLiteral("DNF"));
    EXPECT_EQ(f.N31->text(), QString());
    EXPECT_EQ(f.N41->text(), QString());
}

TEST(StartUp, ListFilesNotInTheWorkingFolderComeFromTheOperatorsFolderThenTheInstallation)
{
    Desk d;
    const auto put = [](const QTemporaryDir &folder, const char *name, const QByteArray &bytes) {
        QFile f(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    put(d.fp.data.installed, "Zielkron-Disziplinen.lst", "100 m\n200 m\n");
    put(d.fp.data.installed, "Zielkron-klassen.lst", "Frauen\n");
    put(d.fp.data.installed, "Zielkron-na.lst", "n.a.\n");
    put(d.fp.data.user, "Zielkron-klassen.lst", "U18 weiblich\nU18 m\xe4nnlich\n");
    d.writeFile(QStringLiteral("Zielkron-na.lst"), "DNS\nDNF\n");
    TFormMain &f = d.create();
    EXPECT_EQ(f.cmb_Disziplin->count(), 2);
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QStringLiteral("100 m"));
    EXPECT_EQ(f.cbKlassen->itemText(1), QString::fromUtf8("U18 männlich"));
    EXPECT_EQ(f.N11->text(), QStringLiteral("DNS"));
    EXPECT_EQ(f.N21->text(), QStringLiteral("DNF"));
}

TEST(StartUp, MissingListFilesLeaveTheControlsAsDesigned)
{
    Desk d;
    TFormMain &f = d.create();
    EXPECT_EQ(f.cmb_Disziplin->count(), 0);
    EXPECT_EQ(f.cbKlassen->count(), 0);
    EXPECT_EQ(f.N11->text(), QStringLiteral("1"));
    EXPECT_EQ(f.N21->text(), QString());
}

TEST(StartUp, LaneRowsAreNumberedAndStacked)
{
    Desk d;
    TFormMain &f = d.create();
    for (int n = 1; n <= TFormMain::LaneRows; ++n) {
        TFrameLine *row = f.Line(n);
        EXPECT_EQ(row->objectName(), QStringLiteral("FrameLine%1").arg(n));
        EXPECT_EQ(row->Tag(), n);
        EXPECT_EQ(row->y(), (n - 1) * 63);
        EXPECT_EQ(row->bKey->text(), QStringLiteral("F%1").arg(n));
        EXPECT_EQ(row->cbON->toolTip(), QStringLiteral("Ctrl+F%1").arg(n));
    }
    // Rows beyond the lane count lie below the visible lane panel.
    EXPECT_GE(f.Line(9)->y(), f.PanelLines->height());
    EXPECT_EQ(f.bFehlStart->pos(), f.bReset->pos());
}

TEST(StartUp, InfoWindowIsShownModallyAndShowWidensTheWindow)
{
    Desk d;
    TFormMain &f = d.create();
    f.bInfo->click();
    ASSERT_EQ(d.fp.dialogs.modals.size(), 1);
    EXPECT_EQ(d.fp.dialogs.modals.first(), f.FormInfo);
    f.Show1->trigger();
    EXPECT_EQ(f.width(), 1370);
}
