// Meet-management files: the import of the largest start list (an .evt of 120 heats of ten lanes, of
// which the desk takes 100, with a list of 5,000 people), what an entry costs the desk when the
// results folder is set (the result file handed over to its thread) and how long until the file is
// on the disk, and the export of 100 heats as result files. "loaded" keeps every core busy with
// other processes, as on a laptop that does other work beside the desk.
//
//   bench_meet_files [loaded]

#include "BenchLoad.h"
#include "DeskFixture.h"
#include "PeakMemory.h"

#include "LbSpeedButton.h"
#include "SortGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>


namespace {

double msSince(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-52s median %7.2f ms, max %7.2f ms (%zu runs)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

// 120 heats of ten lanes; every third athlete named only in the list of people.
void writeLists(const QString &folder)
{
    QByteArray evt, ppl;
    for (int h = 1; h <= 120; ++h) {
        evt += QByteArray::number(h / 4 + 1) + ",1," + QByteArray::number(h % 4 + 1) + ",100 m H\xc3\xbcrden U20\r\n";
        for (int lane = 1; lane <= 10; ++lane) {
            const QByteArray id = QByteArray::number(h * 10 + lane);
            evt += "," + id + "," + QByteArray::number(lane)
                   + (lane % 3 == 0 ? ",,," : ",\"Wei\xc3\x9fm\xc3\xbcller, Jr.\",J\xc3\xbcrgen,\"LG Nord, Hamburg\"")
                   + "\r\n";
        }
    }
    for (int id = 1; id <= 5000; ++id)
        ppl += QByteArray::number(id) + ",Sch\xc3\xb6nfeld,Anna-Lena,TSV Gro\xc3\x9f-Umstadt\r\n";
    writeFile(folder + QStringLiteral("/lynx.evt"), evt);
    writeFile(folder + QStringLiteral("/lynx.ppl"), ppl);
}

// Lane i of the heat on the desk stopped after 10 + i/10 seconds.
void stopLanes(TFormMain &f)
{
    for (int lane = 1; lane <= f.Model.lanes(); ++lane) {
        f.Line(lane)->LabelTime->setTag(10000 + lane * 123);
        f.Line(lane)->LabelTime->setText(QStringLiteral("10,%1 ").arg(lane * 12));
    }
}

} // namespace

int main(int argc, char **argv)
{
    const bool loaded = argc > 1 && std::strcmp(argv[1], "loaded") == 0;
    const std::vector<pid_t> load = loaded ? startBusyLoops() : std::vector<pid_t>{};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%s\n", loaded ? "every core busy with another process" : "idle machine");

    Desk d;
    d.key() = {{"LineCount", 10}};
    TFormMain &f = d.create();
    const QString lists = d.workDir.filePath(QStringLiteral("listen"));
    QDir().mkpath(lists);
    writeLists(lists);

    std::vector<double> import;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        f.ImportEvtList(lists + QStringLiteral("/lynx.evt"));
        import.push_back(msSince(t));
    }
    report("import: .evt of 120 heats x 10 lanes, 5,000 people", import);

    // Entries: without a results folder, and with one; the hand-over of the result file alone.
    QTemporaryDir results;
    std::vector<double> plain, withFile, handOver, onDisk;
    for (int i = 0; i < 40; ++i) {
        const bool folder = i % 2 == 1;
        f.ResultFolder = folder ? results.path() : QString();
        f.FlushJournal();
        stopLanes(f);
        const int heat = f.CurrentHeat();
        QElapsedTimer t;
        t.start();
        f.bProtokollClick();
        (folder ? withFile : plain).push_back(msSince(t));
        if (!folder)
            continue;
        const meeting::HeatOrigin origin = f.Model.record().origins.value(heat);
        const QString file = results.filePath(QStringLiteral("%1-1-%2.lif")
                                                  .arg(origin.event, 3, 10, QLatin1Char('0'))
                                                  .arg(origin.heat, 2, 10, QLatin1Char('0')));
        while (!QFile::exists(file))
            QThread::usleep(50);
        onDisk.push_back(msSince(t));
        QFile::remove(file);
        t.restart();
        f.WriteResultFile(heat);
        handOver.push_back(msSince(t));
        while (!QFile::exists(file))
            QThread::usleep(50);
        QFile::remove(file);
    }
    report("entry of a heat, no results folder (UI thread)", plain);
    report("entry of a heat, results folder set (UI thread)", withFile);
    report("result file of a heat handed over (UI thread)", handOver);
    report("entry of a heat until its .lif is on the disk", onDisk);

    f.Model.recordToWrite().entered.clear();
    for (int h = 1; h <= 100; ++h)
        f.Model.recordToWrite().entered.append(h);
    std::vector<double> exported, told;
    for (int i = 0; i < 5; ++i) {
        QTemporaryDir folder;
        const qsizetype messages = d.fp.dialogs.messages.size();
        QElapsedTimer t;
        t.start();
        f.ExportLifFiles(folder.path());
        exported.push_back(msSince(t));
        while (d.fp.dialogs.messages.size() == messages)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        told.push_back(msSince(t));
    }
    report("export of 100 heats as .lif files (UI thread)", exported);
    report("export of 100 heats until all are on the disk", told);
    std::printf("peak memory of the whole run: %.1f MB\n", static_cast<double>(peakKb()) / 1024.0);

    stopBusyLoops(load);
    return 0;
}
