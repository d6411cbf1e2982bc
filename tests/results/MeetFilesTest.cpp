// Meet-management files: the start list of events (.evt) with its list of people (.ppl) into the
// heats, and each entered heat back out as a result file (.lif), after the entry and on export.

#include "DeskFixture.h"

#include "Interchange.h"
#include "Journal.h"
#include "JournalFile.h"
#include "Label3D.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TextEncoding.h"
#include "TimeText.h"
#include "Wait.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// A meeting office's files: several events, quoted fields, umlauts, a name only in the list of
// people, an id in no list, a lane beyond four lanes, extra fields, a free lane.
const char kEvtUtf8[] = "5,1,1,100 m Männer,,\r\n"
                        ",112,1,Berger,Jonas,LG Nord\r\n"
                        ",87,2,\"Hoffmann, Jr.\",Lukas,\"TV Süd, Abt. \"\"Lauf\"\"\"\r\n"
                        ",245,3,,,\r\n"
                        ",31,4,Wagner,Paul,LG Nord,x,y,z\r\n"
                        "5,1,2,100 m Männer\r\n"
                        ",158,1,Köhler,Leon,TV Süd\r\n"
                        ",402,2,,,\r\n"
                        ",555,3,,,\r\n"
                        ",66,5,Vogel,Elias,LG Nord\r\n"
                        "\r\n"
                        "12,2,1,200 m Frauen\r\n"
                        ",,1,,,\r\n"
                        ",7,3,Weiß,Zoë,SC West\r\n";
// The list of people in Windows-1252, as older programs write it.
const char kPplWindows1252[] = "245,Sch\xe4" "fer,Felix,SC West\r\n"
                               "402,Brandt,Maximilian,\r\n"
                               "999,Niemand,Nobody,Nowhere\r\n";

struct MeetDesk : Desk {
    TFormMain *f = nullptr;
    QString results;
    explicit MeetDesk(int lanes = 4)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", lanes}, {"Accuracy", 2}};
        writeFile(QStringLiteral("Zielkron-na.lst"), "n.a.\r\naufg.\r\ndisq.\r\nn.g.\r\n");
        results = path(QStringLiteral("ergebnisse"));
        QDir().mkpath(results);
        f = &create();
    }
    QString path(const QString &name) const { return QDir(workDir.path()).filePath(name); }
    void importList(const QString &name)
    {
        fp.dialogs.fileAnswers.push_back([file = path(name), this](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = filterIndexOf(f->OpenDialog1.Filter, QStringLiteral("evt"));
            return true;
        });
        f->mStartList->trigger();
    }
    static int filterIndexOf(const QString &filter, const QString &extension)
    {
        for (int i = 1; i <= 10; ++i)
            if (platform::filterExtensions(filter, i).contains(extension))
                return i;
        return 0;
    }
    // Starts a race and stops the lanes in the given order at the given times; then STOPP.
    void race(const QList<std::pair<int, int>> &stops)
    {
        f->mStart->trigger();
        for (const auto &[lane, ms] : stops) {
            fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + static_cast<std::uint32_t>(ms);
            f->StopEntry(lane)->trigger();
        }
        f->mStop->trigger();
    }
    void placeText(int lane, QAction *entry)
    {
        f->PopupMenuNATag = lane;
        entry->trigger();
    }
    // The result file once it is there (it appears whole or not at all).
    QByteArray resultFile(const QString &name)
    {
        const QString file = QDir(results).filePath(name);
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(file); })) << name.toStdString();
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    QString cell(int c, int r) const { return f->SortGrid1->Cells(c, r); }
};

} // namespace

TEST(MeetFiles, LinesSplitAtCommasOutsideQuotes)
{
    using interchange::splitLine;
    EXPECT_EQ(splitLine(u",87,2,\"Hoffmann, Jr.\", Lukas ,\"TV \"\"Süd\"\"\""),
              (QStringList{"", "87", "2", "Hoffmann, Jr.", "Lukas", QString::fromUtf8("TV \"Süd\"")}));
    EXPECT_EQ(splitLine(u"1,,"), (QStringList{"1", "", ""}));
    EXPECT_EQ(splitLine(u""), QStringList{""});
    EXPECT_EQ(splitLine(u"\"a,b"), QStringList{"a,b"}); // an open quote runs to the end of the line
    EXPECT_EQ(splitLine(u"1,\"2,3\",4,5", 2), (QStringList{"1", "2,3"}));
    EXPECT_EQ(interchange::lifFileName(5, 1, 2), QStringLiteral("005-1-02.lif"));
    EXPECT_EQ(interchange::lifFileName(1234, 12, 345), QStringLiteral("1234-12-345.lif"));
}

TEST(MeetFiles, TheMeetingOfficesListsFillTheHeatsAndWhatIsLeftOutIsListed)
{
    MeetDesk d;
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("lynx.evt"), kEvtUtf8);
    d.writeFile(QStringLiteral("lynx.ppl"), kPplWindows1252);
    f.seLauf->setValue(3);
    d.importList(QStringLiteral("lynx.evt"));

    // Three heats of four lanes after the title and the date.
    EXPECT_EQ(f.SortGrid1->RowCount(), 17);
    EXPECT_EQ(d.cell(0, 2), QStringLiteral("1"));
    EXPECT_EQ(d.cell(2, 2), QString::fromUtf8("100 m Männer"));
    EXPECT_EQ(d.cell(0, 3), QStringLiteral("1."));
    EXPECT_EQ(d.cell(1, 4), QStringLiteral("87"));
    EXPECT_EQ(d.cell(2, 4), QStringLiteral("Lukas Hoffmann, Jr."));
    EXPECT_EQ(d.cell(4, 4), QString::fromUtf8("TV Süd, Abt. \"Lauf\""));
    EXPECT_EQ(d.cell(2, 5), QString::fromUtf8("Felix Schäfer")); // from the list of people
    EXPECT_EQ(d.cell(4, 5), QStringLiteral("SC West"));
    EXPECT_EQ(d.cell(2, 9), QStringLiteral("Maximilian Brandt"));
    EXPECT_EQ(d.cell(1, 10), QStringLiteral("555")); // in no list: the number without a name
    EXPECT_EQ(d.cell(2, 10), QString());
    EXPECT_EQ(d.cell(0, 12), QStringLiteral("3"));
    EXPECT_EQ(d.cell(2, 12), QStringLiteral("200 m Frauen"));
    EXPECT_EQ(d.cell(1, 13), QString()); // a free lane
    EXPECT_EQ(d.cell(2, 15), QString::fromUtf8("Zoë Weiß"));
    EXPECT_EQ(f.Model.record().origins.value(3).event, 12);
    EXPECT_EQ(f.Model.record().origins.value(3).round, 2);
    EXPECT_EQ(f.Model.record().origins.value(1).names.value(2), (meeting::LaneName{"Hoffmann, Jr.", "Lukas"}));

    // Heat 1 is on the lanes.
    EXPECT_EQ(f.seLauf->Value(), 1);
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QString::fromUtf8("100 m Männer"));
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Jonas Berger"));
    EXPECT_EQ(f.Line(1)->eNum->text(), QStringLiteral("112"));
    EXPECT_EQ(f.Line(2)->eName->toolTip(), QString::fromUtf8("TV Süd, Abt. \"Lauf\""));

    // One message lists what was left out.
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    const QString text = d.fp.dialogs.messages[0].text;
    EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(text.contains(QStringLiteral("3 Läufe"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Zeile 10: Wettbewerb 5, Runde 1, Lauf 2, Bahn 5 (eingestellt: 4 Bahnen): "
                                                "Elias Vogel (Startnummer 66)")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Wettbewerb 5, Runde 1, Lauf 2, Bahn 3: Startnummer 555")));
    EXPECT_FALSE(text.contains(QStringLiteral("999")));

    // A journal of the meeting keeps where each heat came from.
    ASSERT_TRUE(f.FlushJournal());
    QFile journal(f.JournalFile());
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const auto back = results::decodeJournal(journal.readAll());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->origins, f.Model.record().origins);
}

TEST(MeetFiles, EachEnteredHeatGoesToTheResultsFolderAsTheMeetingProgramExpectsIt)
{
    MeetDesk d;
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("lynx.evt"), kEvtUtf8);
    d.writeFile(QStringLiteral("lynx.ppl"), kPplWindows1252);
    d.importList(QStringLiteral("lynx.evt"));
    f.ResultFolder = d.results;

    // Heat 1: hundredths, wind, a lane given up.
    f.sfWind->setValue(1.5);
    d.race({{3, 10231}, {1, 10499}, {2, 11010}});
    d.placeText(4, f.N21); // "aufg."
    f.mEintragen->trigger();
    const QByteArray heat1 = d.resultFile(QStringLiteral("005-1-01.lif"));
    EXPECT_EQ(heat1, QByteArray("5,1,1,100 m M\xc3\xa4nner,1.5,m/s\r\n"
                                "2,112,1,Berger,Jonas,LG Nord,10.49\r\n"
                                "3,87,2,\"Hoffmann, Jr.\",Lukas,\"TV S\xc3\xbc" "d, Abt. \"\"Lauf\"\"\",11.01\r\n"
                                "1,245,3,Sch\xc3\xa4" "fer,Felix,SC West,10.23\r\n"
                                "DNF,31,4,Wagner,Paul,LG Nord,\r\n"));

    // Heat 2: tenths, no wind, a name typed at the desk, a disqualification, a lane nobody ran.
    f.Model.setAccuracy(1);
    f.sfWind->setValue(0);
    f.Line(1)->eName->setText(QString::fromUtf8("Leon Köhler-Schmidt"));
    d.race({{1, 12345}, {2, 12650}, {3, 13059}});
    d.placeText(2, f.N31); // "disq."
    f.mEintragen->trigger();
    EXPECT_EQ(d.resultFile(QStringLiteral("005-1-02.lif")),
              QByteArray("5,1,2,100 m M\xc3\xa4nner,,\r\n"
                         "1,158,1,Leon K\xc3\xb6hler-Schmidt,,TV S\xc3\xbc" "d,12.3\r\n"
                         "DQ,402,2,Brandt,Maximilian,,12.6\r\n"
                         "3,555,3,,,,13.0\r\n"));

    // Read back, every lane carries the identity the meeting office gave it.
    const interchange::EvtFile evt = interchange::parseEvt(QString::fromUtf8(kEvtUtf8));
    const QStringList lines = platform::splitLines(platform::decodeText(heat1));
    ASSERT_EQ(lines.size(), 5);
    const QStringList header = interchange::splitLine(lines[0]);
    EXPECT_EQ(header.mid(0, 4), (QStringList{"5", "1", "1", QString::fromUtf8("100 m Männer")}));
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList lane = interchange::splitLine(lines[i]);
        ASSERT_EQ(lane.size(), 7);
        const interchange::EvtLane &given = evt.heats[0].lanes[i - 1];
        EXPECT_EQ(lane[1], given.id);
        EXPECT_EQ(lane[2].toInt(), given.lane);
        if (!given.last.isEmpty()) {
            EXPECT_EQ(lane[3], given.last);
        }
        EXPECT_EQ(TimeTextToLaneTime(QString(lane[6]).replace(QLatin1Char('.'), QLatin1Char(','))) > 0, i != 4);
    }
}

TEST(MeetFiles, AListInWindows1252GetsItsResultsInWindows1252)
{
    MeetDesk d(2);
    d.writeFile(QStringLiteral("Kreis.evt"), "7,1,3,60 m H\xfcrden U16\r\n,21,1,J\xe4ger,Ren\xe9,TSV Gro\xdf-Umstadt\r\n"
                                             ",22,2,\xd6zt\xfcrk,Ayla,LG Nord\r\n");
    d.writeFile(QStringLiteral("KREIS.PPL"), "22,Other,Name,\r\n");
    d.writeFile(QStringLiteral("Zielkron-na-lif.lst"), "n.a.=DNS\r\nn.g.=NP\r\n");
    d.destroy();
    TFormMain &g = d.create(); // the place texts come with the start
    d.f = &g;
    g.ResultFolder = d.results;
    // The list of people alone is picked: its start list beside it is found, whatever the case.
    d.importList(QStringLiteral("KREIS.PPL"));
    EXPECT_EQ(g.Line(1)->eName->text(), QString::fromUtf8("René Jäger"));
    EXPECT_EQ(g.Line(2)->eName->text(), QString::fromUtf8("Ayla Öztürk")); // the start list's names come first
    d.race({{1, 8123}});
    d.placeText(2, g.N41); // "n.g."
    g.mEintragen->trigger();
    EXPECT_EQ(d.resultFile(QStringLiteral("007-1-03.lif")),
              QByteArray("7,1,3,60 m H\xfcrden U16,,\r\n"
                         "1,21,1,J\xe4ger,Ren\xe9,TSV Gro\xdf-Umstadt,8.12\r\n"
                         "NP,22,2,\xd6zt\xfcrk,Ayla,LG Nord,\r\n"));
}

TEST(MeetFiles, ATableWithoutAListWritesZeroZeroHeatAndWholeNames)
{
    MeetDesk d(2);
    TFormMain &f = *d.f;
    f.ResultFolder = d.results;
    f.seLauf->setValue(7);
    f.cmb_Disziplin->setEditText(QStringLiteral("100 m, Vorlauf"));
    f.Line(1)->eNum->setText(QStringLiteral("9"));
    f.Line(1)->eName->setText(QString::fromUtf8("Anna Müller"));
    f.Line(2)->eName->setText(QStringLiteral("Bea"));
    d.race({{1, 65432}, {2, 70001}});
    f.Line(2)->eAusDblClick(); // "Aus": no time
    f.mEintragen->trigger();
    EXPECT_EQ(d.resultFile(QStringLiteral("000-0-07.lif")),
              QByteArray("0,0,7,\"100 m, Vorlauf\",,\r\n1,9,1,Anna M\xfcller,,,1:05.43\r\nAus,,2,Bea,,,\r\n"));
}

TEST(MeetFiles, NothingHalfImported)
{
    MeetDesk d;
    TFormMain &f = *d.f;
    f.Model.recordToWrite().setCell(2, 3, QStringLiteral("vorher"));
    f.ShowTable();
    const int rows = f.SortGrid1->RowCount();
    const struct {
        const char *name;
        QByteArray bytes;
        const char *said;
    } refused[] = {
        {"leer.evt", "", "keinen Lauf"},
        {"bahnen.evt", ",1,1,A,B,C\r\n,2,2,D,E,F\r\n", "keinen Lauf"},
        {"zahlen.evt", "A,B,C,100 m\r\n,1,1,A,B,C\r\n", "keinen Lauf"},
        {"gross.evt", QByteArray(2 * 1024 * 1024 + 1, ','), "2 MB"},
    };
    for (const auto &c : refused) {
        d.writeFile(QString::fromLatin1(c.name), c.bytes);
        d.fp.dialogs.messages.clear();
        d.importList(QString::fromLatin1(c.name));
        ASSERT_EQ(d.fp.dialogs.messages.size(), 1) << c.name;
        EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Error) << c.name;
        EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QString::fromUtf8(c.said)))
            << d.fp.dialogs.messages[0].text.toStdString();
        EXPECT_EQ(d.cell(2, 3), QStringLiteral("vorher")) << c.name;
        EXPECT_EQ(f.SortGrid1->RowCount(), rows) << c.name;
    }
    // A list of people without its start list.
    d.writeFile(QStringLiteral("allein.ppl"), "1,A,B,C\r\n");
    d.fp.dialogs.messages.clear();
    d.importList(QStringLiteral("allein.ppl"));
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("lynx.evt")));
    EXPECT_EQ(d.cell(2, 3), QStringLiteral("vorher"));
}

TEST(MeetFiles, HeatsBeyondAHundredAreLeftOutAndListedOnce)
{
    MeetDesk d(2);
    TFormMain &f = *d.f;
    // Rows of an earlier, longer list do not survive below the new heats.
    f.Model.recordToWrite().setRowCount(400);
    f.Model.recordToWrite().setCell(2, 399, QStringLiteral("alt"));
    QByteArray evt;
    for (int h = 1; h <= 103; ++h)
        evt += "1,1," + QByteArray::number(h) + ",400 m\r\n," + QByteArray::number(h) + ",1,Name,Vorname,\r\n";
    evt += "1,1,5,400 m\r\n"; // the same heat again
    d.writeFile(QStringLiteral("lang.evt"), evt);
    d.importList(QStringLiteral("lang.evt"));
    EXPECT_EQ(f.SortGrid1->RowCount(), 302);
    EXPECT_EQ(d.cell(0, TFormMain::HeatHeaderRow(100, 2)), QStringLiteral("100"));
    EXPECT_EQ(f.Model.record().origins.size(), 100);
    EXPECT_EQ(f.Model.record().origins.value(100).heat, 100);
    f.Model.recordToWrite().setRowCount(400);
    EXPECT_EQ(d.cell(2, 399), QString());
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    const QString text = d.fp.dialogs.messages[0].text;
    EXPECT_TRUE(text.contains(QString::fromUtf8("3 Läufe nach dem hundertsten, ab Zeile 201 (Wettbewerb 1, Runde 1, Lauf 101)")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Zeile 207: Wettbewerb 1, Runde 1, Lauf 5 steht zum zweiten Mal")))
        << text.toStdString();
}

TEST(MeetFiles, AnotherStartListEndsTheOriginsAndARestoredMeetingKeepsThem)
{
    MeetDesk d(2);
    d.writeFile(QStringLiteral("lynx.evt"), "3,1,1,100 m\r\n,5,1,Alt,Anna,X\r\n3,1,2,100 m\r\n,6,1,Berg,Bea,Y\r\n");
    d.importList(QStringLiteral("lynx.evt"));
    d.race({{1, 9000}});
    d.f->mEintragen->trigger();
    ASSERT_TRUE(d.f->FlushJournal());

    // The desk goes down and comes back with its journal: heat 2 still goes out under the list's name.
    d.destroy();
    TFormMain &g = d.create();
    d.f = &g;
    g.ResultFolder = d.results;
    g.OfferJournalRestore(); // Yes
    EXPECT_EQ(g.seLauf->Value(), 2);
    d.race({{1, 9500}});
    g.mEintragen->trigger();
    EXPECT_EQ(d.resultFile(QStringLiteral("003-1-02.lif")), QByteArray("3,1,2,100 m,,\r\n1,6,1,Berg,Bea,Y,9.50\r\n"));

    // A text start list is a meeting of its own.
    d.writeFile(QStringLiteral("liste.txt"), "T\n\n1\t\t100 m\n1.\t6\tBea Berg\n");
    g.ImportTextList(d.path(QStringLiteral("liste.txt")));
    EXPECT_TRUE(g.Model.record().origins.isEmpty());
}

TEST(MeetFiles, AFailedResultFileIsToldOnceAndTheDeskGoesOn)
{
    MeetDesk d(1);
    TFormMain &f = *d.f;
    f.ResultFolder = d.path(QStringLiteral("stick")); // not plugged in
    d.race({{1, 9000}});
    f.mEintragen->trigger();
    ASSERT_TRUE(waitUntil([&] { return !d.fp.dialogs.messages.isEmpty(); }));
    const fake::MessageCall told = d.fp.dialogs.messages[0];
    EXPECT_EQ(told.icon, platform::MessageIcon::Error);
    EXPECT_TRUE(told.text.contains(QStringLiteral("Ergebnisdatei"))) << told.text.toStdString();
    EXPECT_TRUE(told.text.contains(QStringLiteral("000-0-01.lif")));
    EXPECT_TRUE(f.mStart->isEnabled()); // ready for the next race

    // The same failure again is not told again; once the folder is there, the files come.
    d.race({{1, 9100}});
    f.mEintragen->trigger();
    ASSERT_TRUE(QDir().mkpath(f.ResultFolder));
    d.race({{1, 9200}});
    f.mEintragen->trigger();
    d.results = f.ResultFolder;
    EXPECT_EQ(d.resultFile(QStringLiteral("000-0-03.lif")), QByteArray("0,0,3,,,\r\n1,,1,,,,9.20\r\n"));
    QCoreApplication::processEvents();
    EXPECT_EQ(d.fp.dialogs.messages.size(), 1);
    // Off: nothing is written.
    f.ResultFolder.clear();
    d.race({{1, 9300}});
    f.mEintragen->trigger();
    d.destroy();
    EXPECT_FALSE(QFile::exists(QDir(d.results).filePath(QStringLiteral("000-0-04.lif"))));
}

TEST(MeetFiles, TheExportWritesEveryEnteredHeatIntoTheChosenFolder)
{
    MeetDesk d(2);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("lynx.evt"), "3,1,1,100 m\r\n,5,1,Alt,Anna,X\r\n3,1,2,100 m\r\n,6,1,Berg,Bea,Y\r\n");
    d.importList(QStringLiteral("lynx.evt"));
    const QString folder = d.path(QStringLiteral("export"));
    QDir().mkpath(folder);
    auto exportTo = [&](const QString &file) {
        d.fp.dialogs.fileAnswers.push_back([file, &f](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = MeetDesk::filterIndexOf(f.SaveDialog1.Filter, QStringLiteral("lif"));
            return true;
        });
        d.fp.dialogs.messages.clear();
        f.bSave->click();
        EXPECT_TRUE(waitUntil([&] { return !d.fp.dialogs.messages.isEmpty(); })); // told once all are written
    };

    // Nothing entered yet: nothing written, and said so.
    exportTo(QDir(folder).filePath(QStringLiteral("ergebnisse")));
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList());

    f.seLauf->setValue(2);
    d.race({{1, 9500}});
    f.mEintragen->trigger();
    f.seLauf->setValue(1);
    d.race({{1, 9000}});
    f.mEintragen->trigger();
    exportTo(QDir(folder).filePath(QStringLiteral("ergebnisse")));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"003-1-01.lif", "003-1-02.lif"}));
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Information);
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.startsWith(QString::fromUtf8("2 Läufe in den Ordner")));
    QFile heat2(QDir(folder).filePath(QStringLiteral("003-1-02.lif")));
    ASSERT_TRUE(heat2.open(QIODevice::ReadOnly));
    EXPECT_EQ(heat2.readAll(), QByteArray("3,1,2,100 m,,\r\n1,6,1,Berg,Bea,Y,9.50\r\n"));

    // A folder that cannot be written: the error names what is missing.
    exportTo(d.path(QStringLiteral("fehlt/ergebnisse")));
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("2 von 2")));
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("003-1-01.lif")));
}

TEST(MeetFiles, RoundedUpTimesGoToTheMeetingProgramAsTheDeskShowsThem)
{
    MeetDesk d(2);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("lynx.evt"), "3,1,1,100 m\r\n,5,1,Alt,Anna,X\r\n,6,2,Berg,Bea,Y\r\n");
    d.importList(QStringLiteral("lynx.evt"));
    f.ResultFolder = d.results;
    f.Model.setRoundUp(true);
    d.race({{1, 10231}, {2, 10240}});
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QStringLiteral("10,24 "));
    f.mEintragen->trigger();
    EXPECT_EQ(d.resultFile(QStringLiteral("003-1-01.lif")),
              QByteArray("3,1,1,100 m,,\r\n1,5,1,Alt,Anna,X,10.24\r\n2,6,2,Berg,Bea,Y,10.24\r\n"));
}
