#pragma once
// For the benchmarks of the results lists: a full meeting in the desk's results table (100 heats of
// ten lanes, four disciplines taking turns, so that each has a ranking of 250).

#include "BenchLoad.h"
#include "FormMain.h"
#include "SortGrid.h"

#include <QString>

#include <algorithm>

inline void fillFullMeeting(TFormMain &f)
{
    static const char *const disciplines[] = {"100 m", "200 m", "100 m Hürden", "400 m"};
    meeting::Record *table = &f.Model.recordToWrite();
    const int lanes = f.Model.lanes();
    table->setRowCount(std::max(table->rowCount(), TFormMain::HeatHeaderRow(101, lanes)));
    table->setCell(0, 0, QStringLiteral("Deutsche Meisterschaften der Jugend"));
    table->setCell(0, 1, QStringLiteral("14.05.27"));
    f.Model.recordToWrite().entered.clear();
    for (int h = 1; h <= 100; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, lanes);
        table->setCell(0, header, QString::number(h));
        table->setCell(1, header, QStringLiteral("Vorlauf"));
        table->setCell(2, header, QString::fromUtf8(disciplines[h % 4]));
        table->setCell(3, header, QString::fromUtf8("Männer U20"));
        table->setCell(4, header, QStringLiteral("1,5 m/s"));
        for (int lane = 1; lane <= lanes; ++lane) {
            const int r = header + lane;
            table->setCell(0, r, QString::number(lane) + QLatin1Char('.'));
            table->setCell(1, r, QString::number(100 + h * 10 + lane));
            table->setCell(2, r, QString::fromUtf8("Jürgen Weißmüller-Schönfeld %1").arg(lane));
            table->setCell(4, r, QString::fromUtf8("LG Nord-Süd Weißenfels"));
            table->setCell(5, r, lane == 7 ? QString() : QStringLiteral("%1,%2 ").arg(10 + lane).arg(h % 90 + 10));
            table->setCell(6, r, lane == 7 ? QStringLiteral("Aus") : QString::number(lane < 7 ? lane : lane - 1));
        }
        f.Model.recordToWrite().entered.append(h);
    }
    f.Model.recordToWrite().lastEntered = 100;
}
