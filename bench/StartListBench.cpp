// Text start lists: time and memory of importing 1,000 and 2,000 lines (the largest list the desk
// accepts, also with long lines up to 2 MB), and of refusing lists over the limits (2,001 lines;
// 100,000 lines in 3.5 MB).
//
//   bench_start_list

#include "DeskFixture.h"
#include "PeakMemory.h"

#include "SortGrid.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The last case: 2,000 lines with long names, just under 2 MB (the largest file accepted).
    for (int lines : {1000, 2000, 2001, 100000, -2000}) {
        const bool longNames = lines < 0;
        lines = std::abs(lines);
        Desk d;
        d.key() = {{"LineCount", 8}};
        TFormMain &f = d.create();
        QByteArray list = "Hallenmeeting\n14.05.2027\n";
        for (int i = 2; i < lines; ++i)
            list += (i % 9 == 2) ? QByteArray("1\t\t100 m\tMänner\n")
                                 : QByteArray::number(i % 9 - 2) + ".\t" + QByteArray::number(100 + i)
                                       + "\tJürgen Weißmüller" + (longNames ? QByteArray(980, 'x') : QByteArray())
                                       + "\t\tLG Nord\n";
        d.writeFile(QStringLiteral("liste.txt"), list);
        const long before = peakKb();
        const long residentBefore = residentKb();
        QElapsedTimer t;
        t.start();
        f.ImportTextList(QDir(d.workDir.path()).filePath(QStringLiteral("liste.txt")));
        const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        std::printf("%6d lines (%7.2f MB): %8.2f ms, peak memory +%ld kB, held +%ld kB, table %d rows%s\n", lines,
                    static_cast<double>(list.size()) / 1048576.0, ms, peakKb() - before, residentKb() - residentBefore,
                    f.SortGrid1->RowCount(), d.fp.dialogs.messages.isEmpty() ? "" : ", refused");
        f.FlushJournal();
        t.restart();
        f.WriteJournal();
        const double journal = static_cast<double>(t.nsecsElapsed()) / 1e6;
        t.restart();
        f.seLaufChange();
        std::printf("        of which handing the table to the journal %.2f ms, the heat change %.2f ms\n", journal,
                    static_cast<double>(t.nsecsElapsed()) / 1e6);
        f.FlushJournal();
    }
    return 0;
}
