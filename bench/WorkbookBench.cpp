// Workbook benchmark: the desk's export of a table of 1,000, 2,000 and 10,000 rows into a new
// .xlsx and into that existing workbook, and the start-list import of each workbook (the last is
// refused), through the desk's own commands on the engine. Prints the time and the peak memory
// each step adds.
// Usage: bench_workbook [runs]

#include "FakePlatform.h"
#include "PeakMemory.h"
#include "FormMain.h"
#include "SortGrid.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;


// Lets the peak start again from the memory in use now.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void measure(const char *what, int runs, const std::function<void()> &step)
{
    std::vector<double> times;
    long added = 0;
    for (int i = 0; i < runs; ++i) {
        resetPeak();
        const long before = residentKb();
        const auto t = Clock::now();
        step();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        added = std::max(added, peakKb() - before);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s median %7.1f ms  (min %.1f, max %.1f)  peak memory +%ld kB\n", what, times[times.size() / 2],
                times.front(), times.back(), added);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    fake::Platform fp;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TFormMain form(fp.bundle(), dir.filePath(QStringLiteral("bench")));
    TSortGrid &table = *form.SortGrid1;
    std::mt19937 rng(7);
    static const char *const first[] = {"Anna", "Ben", "Clara", "Jürgen", "Emma", "Felix", "Zoë", "Łukasz"};
    static const char *const last[] = {"Meyer", "Schulz", "Weiß", "Wagner", "Groß", "Hoffmann", "Šťastná"};
    // A meeting's table and start list (1,000 rows), the largest list the desk reads (2,000) and a
    // workbook far beyond, which is refused.
    for (const int rows : {1000, 2000, 10000}) {
        table.setRowCount(rows);
        for (int r = 0; r < rows; ++r) {
            table.setCells(0, r, QStringLiteral("%1.").arg(r % 9 + 1));
            table.setCells(1, r, QString::number(rng() % 900 + 100));
            table.setCells(2, r, QString::fromUtf8(first[rng() % 8]) + QLatin1Char(' ') + QString::fromUtf8(last[rng() % 7]));
            table.setCells(4, r, QStringLiteral("LG Nord"));
            table.setCells(5, r, QString::number(10 + rng() % 3) + QLatin1Char(',') + QString::number(rng() % 90 + 10));
            table.setCells(6, r, QString::number(rng() % 8 + 1));
        }
        const QString file = dir.filePath(QStringLiteral("ergebnis-%1.xlsx").arg(rows));
        const QByteArray n = QByteArray::number(rows);
        measure(("export " + n + " x 7 into a new .xlsx").constData(), runs, [&] {
            QFile::remove(file);
            form.ExportExcelFile(file);
        });
        std::printf("  file size: %lld bytes\n", static_cast<long long>(QFileInfo(file).size()));
        measure(("export " + n + " x 7 into the existing .xlsx").constData(), runs, [&] { form.ExportExcelFile(file); });
        // The list far beyond the limit is picked on a desk that holds a whole meeting.
        if (rows > 2000)
            table.setRowCount(1102);
        bool refused = false;
        measure(("import the " + n + "-row .xlsx start list").constData(), runs, [&] {
            try {
                form.ImportExcelList(file);
            } catch (const std::exception &) {
                refused = true;
            }
        });
        std::printf("  %s, table rows: %d\n", refused ? "refused" : "read", table.RowCount());
    }
    std::printf("peak RSS of the run: %ld kB\n", peakKb());
    return 0;
}
