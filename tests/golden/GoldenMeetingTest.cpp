// A whole meeting run at the desk from a script, and every file made of it compared byte for byte
// with the files recorded in tests/data/golden: the exports (text, CSV, the workbook's cells, the
// meet-management result files, the results lists as read from their PDF), the state the live view
// serves, and all of them again from a desk that restored the meeting's journal. A change that
// alters any of them on purpose records them anew:
//
//   ZK_GOLDEN_RECORD=1 build/tests/test_golden
//
// and the difference is looked at with git diff before it is committed.

#include "DeskFixture.h"

#include "DateTimePicker.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "LiveSnapshot.h"
#include "PdfText.h"
#include "SpinEdit.h"
#include "Wait.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString kGolden = QStringLiteral(ZK_GOLDEN_DATA);
constexpr int kTextType = 1, kWorkbookType = 2, kCsvType = 3, kLifType = 4, kPdfType = 5; // export
constexpr int kOpenText = 1, kOpenWorkbook = 2, kOpenEvt = 3;                             // start list

// The desk of the script, on the fakes, in a working folder of its own.
struct ScriptedDesk : Desk {
    TFormMain *f = nullptr;
    QString results;

    explicit ScriptedDesk(int lanes, int accuracy = 2)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                 {"Title", "Goldene Meile"}, {"LineCount", lanes}, {"Accuracy", accuracy}};
        writeFile(QStringLiteral("Zielkron-na.lst"), "n.a.\r\naufg.\r\ndisq.\r\nn.g.\r\n");
        results = path(QStringLiteral("ergebnisordner"));
        QDir().mkpath(results);
        key()[QStringLiteral("ResultFolder")] = results;
        boot();
    }
    // The desk anew on the same settings and journal; restore: the journal's meeting is taken up.
    void boot(bool restore = false)
    {
        f = &create();
        f->TimerDate->stop();
        f->DateTimePicker1->setDate(QDate(2026, 12, 8));
        if (restore) {
            // As the program does once the window is up.
            fp.dialogs.answers.push_back(platform::MbYes);
            f->OfferJournalRestore();
        }
    }
    QString path(const QString &name) const { return QDir(workDir.path()).filePath(name); }
    void open(const QString &file, int type)
    {
        fp.dialogs.fileAnswers.push_back([file, type](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = type;
            return true;
        });
        f->mStartList->trigger();
    }
    void save(const QString &file, int type)
    {
        fp.dialogs.fileAnswers.push_back([file, type](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = type;
            return true;
        });
        f->mExport->trigger();
    }
    // The settings dialog, answered with OK after the script changed it.
    void settings(const std::function<void(TCfgDialog &)> &change)
    {
        fp.dialogs.modalAnswers.push_back([change](QDialog *d) {
            change(*static_cast<TCfgDialog *>(d));
            return static_cast<int>(QDialog::Accepted);
        });
        f->Config1->trigger();
    }
    // The time of day the start takes, and the start.
    void startRace(const QString &timeOfDay)
    {
        f->PanelDate->setText(timeOfDay);
        f->mStart->trigger();
    }
    std::uint32_t at(int ms) const { return static_cast<std::uint32_t>(f->Model.desk().start) + static_cast<std::uint32_t>(ms); }
    void stop(int lane, int ms)
    {
        fp.ticks.now = at(ms);
        f->StopEntry(lane)->trigger();
    }
    // The finish barrier of port 1 (CTS) at a time of the race.
    void barrier(int ms)
    {
        platform::LineEdge edge;
        edge.line = platform::EvCts;
        edge.active = true;
        edge.tick = at(ms);
        edge.nanos = edge.seen = static_cast<std::int64_t>(edge.tick) * 1000000;
        f->ComPortEdge(f->ComPort1, edge);
        f->TimerGesperrtLuchi->stop();
        f->Model.endLockOut(); // the lock-out's 10 ms are long over at the next edge
    }
    void placeText(int lane, QAction *entry)
    {
        f->Line(lane)->ePlatzMouseDown(Qt::RightButton);
        entry->trigger();
    }
};

QByteArray readFile(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(missing)");
}

// The cells of a workbook's first sheet, a line a row, TAB between the cells.
QByteArray workbookCells(platform::SpreadsheetAutomation &engine, const QString &file)
{
    const auto app = engine.createObject(QStringLiteral("Excel.Application"));
    platform::Worksheet &sheet = app->workbooks().open(file, platform::WorkbookLimits::MaxUnpackedBytes).worksheet(1);
    const int rows = sheet.rowCount();
    const platform::CellBlock cells = sheet.rangeValue({1, 1}, {std::max(rows, 1), 7});
    QString out;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= 7; ++c)
            out += platform::cellText(cells.at(r, c)) + (c < 7 ? QStringLiteral("\t") : QStringLiteral("\n"));
    }
    app->quit();
    // The sheet holds a million rows; what follows the last filled one is no output of the desk.
    const QString empty = QStringLiteral("\t\t\t\t\t\t\n");
    while (out.endsWith(empty))
        out.chop(empty.size());
    return out.toUtf8();
}

// The results lists' text, without the line that says when they were printed.
QByteArray pdfText(const QString &file)
{
    QStringList lines;
    for (const QString &page : pdf::pages(readFile(file)))
        for (const QString &line : page.split(QLatin1Char('\n')))
            if (!line.contains(QStringLiteral("Gedruckt am")) && !line.trimmed().isEmpty())
                lines << line.trimmed();
    return lines.join(QLatin1Char('\n')).toUtf8() + '\n';
}

using Outputs = std::map<QString, QByteArray>;

bool recording() { return qEnvironmentVariableIsSet("ZK_GOLDEN_RECORD"); }

// While recording, the desk's journal is kept as one of an earlier build (its format in the name).
void keepJournal(ScriptedDesk &d, const QString &name)
{
    if (!recording())
        return;
    const QString to = kGolden + QLatin1Char('/') + name;
    QFile::remove(to);
    EXPECT_TRUE(QFile::copy(d.fp.settings.journalFile(d.f->ProgramName), to));
}

// Every file of a folder, under a name of its own.
void addFolder(Outputs &out, const QString &prefix, const QString &folder)
{
    for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name))
        out[prefix + name] = readFile(QDir(folder).filePath(name));
}

// The desk's files of the meeting as it stands: exports, lists, live state.
void addExports(Outputs &out, ScriptedDesk &d, const QString &prefix)
{
    TFormMain &f = *d.f;
    d.save(d.path(prefix + ".txt"), kTextType);
    out[prefix + ".txt"] = readFile(d.path(prefix + ".txt"));
    d.save(d.path(prefix + ".csv"), kCsvType);
    out[prefix + ".csv"] = readFile(d.path(prefix + ".csv"));
    d.save(d.path(prefix + ".xlsx"), kWorkbookType);
    out[prefix + "-arbeitsmappe.tsv"] = workbookCells(d.fp.spreadsheet, d.path(prefix + ".xlsx"));
    const QString lif = d.path(prefix + "-lif");
    QDir().mkpath(lif);
    // The result files are written on a thread of their own; the desk tells when the last is done.
    const qsizetype told = d.fp.dialogs.messages.size();
    d.save(QDir(lif).filePath(QStringLiteral("x.lif")), kLifType);
    EXPECT_TRUE(waitUntil([&] { return d.fp.dialogs.messages.size() > told; }, 20000));
    addFolder(out, prefix + "-lif/", lif);
    d.save(d.path(prefix + ".pdf"), kPdfType);
    out[prefix + "-listen.txt"] = pdfText(d.path(prefix + ".pdf"));
    out[prefix + "-state.json"] = live::SnapshotOf(f.Model).toJson() + '\n';
}

// Meeting A: a text start list of six heats of four lanes, run in every way the desk knows.
void meetingFromTextList(Outputs &out)
{
    ScriptedDesk d(4);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("startliste.txt"), readFile(kGolden + QStringLiteral("/startliste.txt")));
    d.open(d.path(QStringLiteral("startliste.txt")), kOpenText);

    // Heat 1: truncated hundredths, a tie at the hundredth, a time over a minute.
    d.startRace(QStringLiteral("10:00:05"));
    d.stop(2, 10231);
    d.stop(1, 10238);
    d.stop(3, 10300);
    d.stop(4, 65432);
    f.mEintragen->trigger();

    // Heat 2: a false start, then "Aus" and back (a recount), STOPP with a lane still running.
    d.startRace(QStringLiteral("10:07:40"));
    f.bFehlStart->click();
    d.fp.ticks.now += 60000;
    d.startRace(QStringLiteral("10:08:41"));
    d.stop(3, 11002);
    d.stop(1, 11450);
    d.stop(2, 11449); // handed over after lane 1, taken before it
    f.Line(1)->eAusDblClick();
    f.Line(3)->eAusDblClick();
    f.Line(3)->eAusDblClick();
    f.mStop->trigger();
    f.mEintragen->trigger();

    // Heat 3: rounded up as the competition rules ask; a place text; a name mended at the desk.
    d.settings([](TCfgDialog &c) { c.cbRoundUp->setChecked(true); });
    f.Line(2)->eName->setText(QStringLiteral("Zoë Ünal-Weiß"));
    d.startRace(QStringLiteral("10:15:00"));
    d.stop(1, 9991);
    d.stop(2, 10001);
    d.stop(3, 59991);
    d.stop(4, 10009);
    d.placeText(4, f.N31);
    f.mEintragen->trigger();

    // Heat 4: the one-barrier mode; the finish list handed out to the lanes.
    d.settings([](TCfgDialog &c) { c.cbOneLS->setChecked(true); });
    d.startRace(QStringLiteral("10:22:30"));
    d.barrier(12345);
    d.barrier(12349);
    d.barrier(13001);
    f.mStop->trigger();
    f.StopEntry(3)->trigger();
    f.StopEntry(1)->trigger();
    f.StopEntry(4)->trigger();
    f.mEintragen->trigger();

    // Heat 5: hand timing (tenths), truncated again; lane 2 switched off.
    d.settings([](TCfgDialog &c) {
        c.cbOneLS->setChecked(false);
        c.cbRoundUp->setChecked(false);
        c.setTipIndex(0);
    });
    f.SetEntry(2)->trigger();
    d.startRace(QStringLiteral("10:30:12"));
    d.stop(4, 12789);
    d.stop(1, 12711);
    d.stop(3, 125001);
    f.mEintragen->trigger();

    // Heat 6 started and stopped at once; then heat 1 looked at again, a name mended, entered anew.
    d.settings([](TCfgDialog &c) { c.setTipIndex(1); });
    d.startRace(QStringLiteral("10:35:00"));
    f.mStop->trigger();
    f.mEintragen->trigger();
    f.seLauf->setValue(1);
    f.Line(3)->eName->setText(QStringLiteral("Berichtigt"));
    f.mEintragen->trigger();

    addExports(out, d, QStringLiteral("A"));

    // The meeting restored from its journal by a desk started anew gives the same files.
    ASSERT_TRUE(f.FlushJournal());
    keepJournal(d, QStringLiteral("journal-3.journal"));
    d.destroy(); // the result files of the entries are written on their own thread: all of them by now
    addFolder(out, QStringLiteral("A-ergebnisordner/"), d.results);
    d.boot(true);
    Outputs restored;
    addExports(restored, d, QStringLiteral("A"));
    for (const auto &[name, bytes] : restored)
        out[QStringLiteral("A-wiederhergestellt/") + name] = bytes;
}

// Meeting B: a workbook start list of two lanes, one heat run.
void meetingFromWorkbook(Outputs &out)
{
    ScriptedDesk d(2);
    TFormMain &f = *d.f;
    d.open(QStringLiteral(ZK_TEST_DATA "/start.xlsx"), kOpenWorkbook);
    d.save(d.path(QStringLiteral("B-startliste.txt")), kTextType);
    out[QStringLiteral("B-startliste.txt")] = readFile(d.path(QStringLiteral("B-startliste.txt")));
    ASSERT_TRUE(f.FlushJournal());
    keepJournal(d, QStringLiteral("journal-2.journal"));
    d.startRace(QStringLiteral("11:00:00"));
    d.stop(2, 7001);
    d.stop(1, 7010);
    f.mEintragen->trigger();
    d.save(d.path(QStringLiteral("B.txt")), kTextType);
    out[QStringLiteral("B.txt")] = readFile(d.path(QStringLiteral("B.txt")));
    out[QStringLiteral("B-state.json")] = live::SnapshotOf(f.Model).toJson() + '\n';
}

// Meeting C: a meet-management start list; the entered heats go to the results folder.
void meetingFromMeetFiles(Outputs &out)
{
    ScriptedDesk d(4);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("wettkampf.evt"), readFile(kGolden + QStringLiteral("/wettkampf.evt")));
    d.writeFile(QStringLiteral("wettkampf.ppl"), readFile(kGolden + QStringLiteral("/wettkampf.ppl")));
    d.open(d.path(QStringLiteral("wettkampf.evt")), kOpenEvt);
    d.startRace(QStringLiteral("12:00:00"));
    d.stop(1, 10555);
    d.stop(4, 10552);
    d.stop(2, 10999);
    f.mStop->trigger();
    f.mEintragen->trigger();
    d.startRace(QStringLiteral("12:05:00"));
    d.stop(1, 21000);
    f.mStop->trigger();
    f.mEintragen->trigger();
    d.save(d.path(QStringLiteral("C.txt")), kTextType);
    out[QStringLiteral("C.txt")] = readFile(d.path(QStringLiteral("C.txt")));
    out[QStringLiteral("C-state.json")] = live::SnapshotOf(f.Model).toJson() + '\n';
    d.destroy(); // the result files are written on their own thread: all of them by now
    addFolder(out, QStringLiteral("C-ergebnisordner/"), d.results);
}

} // namespace

TEST(GoldenMeeting, TheScriptedMeetingGivesTheRecordedFiles)
{
    Outputs out;
    meetingFromTextList(out);
    meetingFromWorkbook(out);
    meetingFromMeetFiles(out);

    QDir golden(kGolden + QStringLiteral("/ausgaben"));
    if (recording()) {
        golden.removeRecursively();
        for (const auto &[name, bytes] : out) {
            const QString file = golden.filePath(name);
            QDir().mkpath(QFileInfo(file).absolutePath());
            QFile to(file);
            ASSERT_TRUE(to.open(QIODevice::WriteOnly)) << file.toStdString();
            to.write(bytes);
        }
        GTEST_SKIP() << "recorded " << out.size() << " files in " << golden.path().toStdString();
    }
    QStringList recorded;
    for (auto it = QDirIterator(golden.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        recorded << golden.relativeFilePath(it.next());
    recorded.sort();
    QStringList made;
    for (const auto &[name, bytes] : out)
        made << name;
    EXPECT_EQ(made, recorded);
    for (const auto &[name, bytes] : out) {
        const QByteArray expected = readFile(golden.filePath(name));
        if (bytes == expected)
            continue;
        // The first line that differs, to start the search with.
        const QList<QByteArray> a = bytes.split('\n'), b = expected.split('\n');
        qsizetype line = 0;
        while (line < a.size() && line < b.size() && a[line] == b[line])
            ++line;
        ADD_FAILURE() << name.toStdString() << " differs from line " << line + 1 << ":\n  made:     "
                      << a.value(line).toStdString() << "\n  recorded: " << b.value(line).toStdString();
    }
}

TEST(GoldenMeeting, JournalsOfEarlierBuildsRestore)
{
    // Journals written by earlier builds, of meeting A after its last entry (format 3, with the
    // lanes' milliseconds) and of meeting B's start list (format 2): restored, the desk has the
    // meeting as it had it. (The earlier build entered heat 1 once more with the start time of the
    // race run last, 10:35:00; that is what its journal holds.)
    const struct {
        const char *journal, *lanes, *expected;
    } cases[] = {{"journal-3.journal", "4", "journal-3.txt"}, {"journal-2.journal", "2", "ausgaben/B-startliste.txt"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.journal);
        ScriptedDesk d(QByteArray(c.lanes).toInt());
        d.destroy();
        QFile::remove(d.fp.settings.journalFile(QStringLiteral("zielkron")));
        ASSERT_TRUE(QFile::copy(kGolden + QLatin1Char('/') + QString::fromLatin1(c.journal),
                                d.fp.settings.journalFile(QStringLiteral("zielkron"))));
        d.boot(true);
        d.save(d.path(QStringLiteral("x.txt")), kTextType);
        EXPECT_EQ(readFile(d.path(QStringLiteral("x.txt"))),
                  readFile(kGolden + QLatin1Char('/') + QString::fromLatin1(c.expected)));
    }
}
