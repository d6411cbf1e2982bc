// The PDF of a full meeting: 100 heats of ten lanes and four rankings of 250, from the results table
// to the file on disk, as the export writes it. Ten runs each on an idle machine and with a busy
// loop on every core; the parts: reading the table into the lists, drawing the PDF, writing it.
//
//   bench_results_pdf [runs]

#include "DeskFixture.h"
#include "FullMeeting.h"
#include "PeakMemory.h"

#include "ResultsList.h"
#include "ResultsSheet.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double msSince(const QElapsedTimer &t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

struct Figures {
    std::vector<double> read, draw, whole;
};

void report(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("  %-34s min %7.1f  median %7.1f  max %7.1f ms\n", what, v.front(), v[v.size() / 2], v.back());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    Desk d;
    d.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
               {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
               {"LineCount", 10}, {"Accuracy", 2}};
    TFormMain &f = d.create();
    fillFullMeeting(f);
    const QString target = QDir(d.workDir.path()).filePath(QStringLiteral("ergebnisse.pdf"));

    // Once before measuring: fonts loaded, caches warm, as after the desk's first list.
    f.ExportPdfFile(target);
    const results::ResultsDocument document = f.ResultsOfMeeting();
    QByteArray sink;
    QBuffer buffer(&sink);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageLayout(results::resultsPageLayout());
    const int pages = results::paintResults(writer, document, QDateTime::currentDateTime());
    std::printf("full meeting: %zu heats, %zu rankings, %d pages, %lld kB\n", document.heats.size(),
                document.rankings.size(), pages, static_cast<long long>(QFileInfo(target).size() / 1024));

    for (const bool busy : {false, true}) {
        const std::vector<pid_t> loops = busy ? startBusyLoops() : std::vector<pid_t>{};
        std::printf("%s\n", busy ? "busy loops on every core" : "no other load");
        Figures fig;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            const results::ResultsDocument doc = f.ResultsOfMeeting();
            fig.read.push_back(msSince(t));
            t.restart();
            const QByteArray pdf = results::resultsPdf(doc, QDateTime::currentDateTime());
            fig.draw.push_back(msSince(t));
            t.restart();
            f.ExportPdfFile(target);
            fig.whole.push_back(msSince(t));
        }
        stopBusyLoops(loops);
        report("table to lists and rankings", fig.read);
        report("lists drawn into a PDF", fig.draw);
        report("export, table to file on disk", fig.whole);
    }
    std::printf("peak memory %ld kB\n", peakKb());
    return 0;
}
