// The meeting journal: what an entry costs the desk (handing the table over) and the disk (encoding,
// writing, flushing) for a full meeting, the restore of that meeting at start-up, and the refusal of
// a journal that claims 10,000,000 rows. "loaded" keeps every core busy with other processes.
//
//   bench_journal [loaded]

#include "BenchLoad.h"
#include "DeskFixture.h"
#include "PeakMemory.h"

#include "Journal.h"
#include "SortGrid.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>


namespace {

double msSince(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// 100 heats of 10 lanes, every cell the entry writes filled.
void fillMeeting(TFormMain &f)
{
    meeting::Record *table = &f.Model.recordToWrite();
    table->setRowCount(100 * 11 + 2);
    table->setCell(0, 0, QStringLiteral("Deutsche Meisterschaften der Jugend"));
    table->setCell(0, 1, QStringLiteral("14.05.2027"));
    for (int h = 1; h <= 100; ++h) {
        const int header = (h - 1) * 11 + 2;
        table->setCell(0, header, QString::number(h));
        table->setCell(2, header, QString::fromUtf8("100 m Hürden"));
        table->setCell(3, header, QString::fromUtf8("Männer U20"));
        table->setCell(4, header, QStringLiteral("+1,5 m/s"));
        table->setCell(5, header, QStringLiteral("14:05:33"));
        for (int lane = 1; lane <= 10; ++lane) {
            const int r = header + lane;
            table->setCell(0, r, QString::number(lane) + QLatin1Char('.'));
            table->setCell(1, r, QString::number(100 + h * 10 + lane));
            table->setCell(2, r, QString::fromUtf8("Jürgen Weißmüller-Schönfeld"));
            table->setCell(4, r, QStringLiteral("LG Nord"));
            table->setCell(5, r, QStringLiteral("13,%1 ").arg(lane * 7));
            table->setCell(6, r, QString::number(lane));
        }
        f.Model.recordToWrite().entered.append(h);
    }
    f.Model.recordToWrite().lastEntered = 100;
}

QByteArray sealed(const QByteArray &body)
{
    return "ZIELKRON-JOURNAL 2\n" + QByteArray::number(body.size()) + '\n'
           + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n' + body;
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %7.2f ms, max %7.2f ms (%zu runs)\n", what, ms[ms.size() / 2], ms.back(), ms.size());
}

} // namespace

int main(int argc, char **argv)
{
    const bool loaded = argc > 1 && std::strcmp(argv[1], "loaded") == 0;
    const std::vector<pid_t> load = loaded ? startBusyLoops() : std::vector<pid_t>{};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%s\n", loaded ? "every core busy with another process" : "idle machine");

    QByteArray journal;
    {
        Desk d;
        d.key() = {{"LineCount", 10}};
        TFormMain &f = d.create();
        fillMeeting(f);
        std::vector<double> handOver, onDisk;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer t;
            t.start();
            f.WriteJournal();
            handOver.push_back(msSince(t));
            f.FlushJournal();
            onDisk.push_back(msSince(t));
        }
        report("entry of heat 100: handing over (UI thread)", handOver);
        report("entry of heat 100: until flushed to disk", onDisk);
        QFile file(f.JournalFile());
        file.open(QIODevice::ReadOnly);
        journal = file.readAll();
        std::printf("journal of 100 heats x 10 lanes: %lld bytes\n", static_cast<long long>(journal.size()));
    }

    std::vector<double> restore;
    for (int i = 0; i < 5; ++i) {
        Desk d;
        d.key() = {{"LineCount", 10}};
        TFormMain &f = d.create();
        QFile out(f.JournalFile());
        out.open(QIODevice::WriteOnly);
        out.write(journal);
        out.close();
        QElapsedTimer t;
        t.start();
        f.OfferJournalRestore();
        restore.push_back(msSince(t));
    }
    report("restore of 100 heats at start-up", restore);

    // The old reader restored this one: 10,000,000 rows for one cell at the end.
    const QByteArray claim = sealed("title\tT\ndate\t\nwritten\t2027-05-14T15:30:12.000\nlanes\t8\nlastHeat\t0\nheats\t\n"
                                    "rowCount\t10000000\ncolCount\t7\ncell\t9999999\t0\tx\n");
    std::vector<double> refuse;
    for (int i = 0; i < 5; ++i) {
        Desk d;
        TFormMain &f = d.create();
        QFile out(f.JournalFile());
        out.open(QIODevice::WriteOnly);
        out.write(claim);
        out.close();
        QElapsedTimer t;
        t.start();
        f.OfferJournalRestore();
        refuse.push_back(msSince(t));
        if (f.SortGrid1->RowCount() != 13)
            std::printf("restored %d rows!\n", f.SortGrid1->RowCount());
    }
    report("refusal of a journal claiming 10,000,000 rows", refuse);
    std::printf("peak memory of the whole run: %.1f MB\n", static_cast<double>(peakKb()) / 1024.0);

    stopBusyLoops(load);
    return 0;
}
