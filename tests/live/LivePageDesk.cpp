// A desk for the browser check of the live view (tools/live-browser-check.sh): on the platform
// fakes, with the title and the start list given, heats 1 and 2 run and entered (so that the meeting
// has a ranking across them) and heat 3 running with lane 1 stopped. It serves its live view on
// 127.0.0.1 at a free port, prints the address and runs until it is ended. Lines on its standard
// input change it as an operator would:
//
//   heat N           the race is stopped and heat N put on the desk (the heat alone changes)
//   cell C R TEXT    the results table's cell in column C, row R, is set to TEXT (the meeting changes)
//
//   live_page_desk TITLE START-LIST

#include "DeskFixture.h"
#include "LiveView.h"

#include "LbSpeedButton.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: live_page_desk TITLE START-LIST\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString startList = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();

    Desk desk;
    desk.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                  {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                  {"Title", QString::fromLocal8Bit(argv[1])}, {"LineCount", 4}, {"Accuracy", 2}};
    TFormMain &f = desk.create();
    f.ImportTextList(startList);
    auto race = [&](int stopped) {
        f.mStart->trigger();
        for (int lane = 1; lane <= stopped; ++lane) {
            desk.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10000 + 170 * static_cast<std::uint32_t>(lane);
            f.StopEntry(lane)->trigger();
        }
    };
    race(4);
    f.bProtokoll->click(); // heat 1 into the table, heat 2 on the desk
    race(4);
    f.bProtokoll->click(); // heat 2 into the table, heat 3 on the desk
    race(1);

    live::LiveView view(f);
    f.LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    view.apply();
    if (!view.isServing()) {
        std::fprintf(stderr, "live_page_desk: the live view did not start\n");
        return 1;
    }
    std::printf("http://127.0.0.1:%d/\n", view.port());
    std::fflush(stdout);

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            commands.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QStringList words = QString::fromUtf8(pending.left(end)).split(QLatin1Char(' '));
            pending.remove(0, end + 1);
            if (words.value(0) == QLatin1String("heat") && words.size() == 2) {
                if (f.mStop->isEnabled())
                    f.mStop->trigger();
                f.seLauf->setValue(words[1].toInt());
            } else if (words.value(0) == QLatin1String("cell") && words.size() >= 4) {
                f.Model.recordToWrite().setCell(words[1].toInt(), words[2].toInt(), words.mid(3).join(QLatin1Char(' ')));
                emit f.Model.recordChanged();
            } else {
                std::fprintf(stderr, "live_page_desk: unknown command\n");
            }
        }
    });
    return QApplication::exec();
}
