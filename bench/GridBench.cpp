// Grid benchmark: writing 100,000 cells, one cell far down, growing a grid row by row to 10,000 rows, SaveToCSV of
// 10,000 x 7 and sorting 10,000 rows by two keys. Prints the time of each and the store's memory.

#include "FakePlatform.h"
#include "PeakMemory.h"
#include "SortGrid.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}


QString name(std::mt19937 &rng)
{
    static const char *const first[] = {"Anna", "Ben", "Clara", "David", "Emma", "Felix", "Greta", "Hannes"};
    static const char *const last[] = {"Meyer", "Schulz", "Weber", "Wagner", "Becker", "Hoffmann", "Koch"};
    return QString::fromLatin1(first[rng() % 8]) + QLatin1Char(' ') + QString::fromLatin1(last[rng() % 7]);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fake::Dialogs dialogs;
    std::mt19937 rng(42);

    {
        TSortGrid g;
        g.setDialogs(&dialogs);
        g.setColCount(10);
        g.setRowCount(10001);
        std::vector<QString> texts;
        for (int i = 0; i < 100000; ++i)
            texts.push_back(QString::number(i % 977) + QStringLiteral(",5"));
        const long before = peakKb();
        const auto t = Clock::now();
        for (int i = 0; i < 100000; ++i)
            g.setCells(i % 10, 1 + i / 10, texts[static_cast<std::size_t>(i)]);
        const double elapsed = ms(t);
        std::printf("write 100000 cells: %.1f ms; store %.1f bytes per cell beyond the texts; peak RSS +%ld kB\n",
                    elapsed, double(g.store().overheadBytes()) / double(g.store().cellCount()), peakKb() - before);
    }
    {
        TSortGrid g;
        g.setDialogs(&dialogs);
        const long before = peakKb();
        const auto t = Clock::now();
        g.setCells(1, 100000000, QStringLiteral("far"));
        std::printf("one cell at row 100000000: %.3f ms; store %zu bytes beyond the text; peak RSS +%ld kB\n", ms(t),
                    g.store().overheadBytes(), peakKb() - before);
    }
    {
        TSortGrid g;
        g.setDialogs(&dialogs);
        g.setColCount(7);
        g.setRowCount(2);
        const auto t = Clock::now();
        for (int r = 2; r < 10000; ++r) {
            g.setRowCount(r + 1);
            g.setCells(0, r, QString::number(r));
        }
        std::printf("grow row by row to 10000 rows: %.1f ms\n", ms(t));
    }
    TSortGrid g;
    g.setDialogs(&dialogs);
    g.setColCount(7);
    g.setRowCount(10000);
    for (int r = 1; r < 10000; ++r) {
        g.setCells(0, r, QString::number(r));
        g.setCells(1, r, QString::number(rng() % 900 + 100));
        g.setCells(2, r, name(rng));
        g.setCells(3, r, QStringLiteral("M") + QString::number(rng() % 60 + 10));
        g.setCells(4, r, QString());
        g.setCells(5, r, QString::number(10 + rng() % 3) + QLatin1Char(',') + QString::number(rng() % 100));
        g.setCells(6, r, QString::number(rng() % 8 + 1));
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.csv"));
    auto t = Clock::now();
    g.SaveToCSV(file);
    std::printf("SaveToCSV 10000 x 7: %.1f ms (%lld bytes)\n", ms(t), static_cast<long long>(QFile(file).size()));

    g.SortOptions.SortStyle = ssAutomatic;
    g.SortOptions.SecondaryIndex = QStringLiteral("5");
    t = Clock::now();
    g.SortByColumn(6);
    std::printf("sort 10000 rows by two keys (automatic style): %.1f ms\n", ms(t));
    g.SortOptions.SortStyle = ssNormal;
    g.SortOptions.SecondaryIndex = QStringLiteral("3");
    t = Clock::now();
    g.SortByColumn(2);
    std::printf("sort 10000 rows by two keys (text): %.1f ms\n", ms(t));
    std::printf("peak RSS of the run: %ld kB\n", peakKb());
    return 0;
}
