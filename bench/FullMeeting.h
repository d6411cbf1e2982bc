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
    TSortGrid *table = f.SortGrid1;
    const int lanes = f.LineCount;
    table->setRowCount(std::max(table->RowCount(), TFormMain::HeatHeaderRow(101, lanes)));
    table->setCells(0, 0, QStringLiteral("Deutsche Meisterschaften der Jugend"));
    table->setCells(0, 1, QStringLiteral("14.05.27"));
    f.EnteredHeats.clear();
    for (int h = 1; h <= 100; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, lanes);
        table->setCells(0, header, QString::number(h));
        table->setCells(1, header, QStringLiteral("Vorlauf"));
        table->setCells(2, header, QString::fromUtf8(disciplines[h % 4]));
        table->setCells(3, header, QString::fromUtf8("Männer U20"));
        table->setCells(4, header, QStringLiteral("1,5 m/s"));
        for (int lane = 1; lane <= lanes; ++lane) {
            const int r = header + lane;
            table->setCells(0, r, QString::number(lane) + QLatin1Char('.'));
            table->setCells(1, r, QString::number(100 + h * 10 + lane));
            table->setCells(2, r, QString::fromUtf8("Jürgen Weißmüller-Schönfeld %1").arg(lane));
            table->setCells(4, r, QString::fromUtf8("LG Nord-Süd Weißenfels"));
            table->setCells(5, r, lane == 7 ? QString() : QStringLiteral("%1,%2 ").arg(10 + lane).arg(h % 90 + 10));
            table->setCells(6, r, lane == 7 ? QStringLiteral("Aus") : QString::number(lane < 7 ? lane : lane - 1));
        }
        f.EnteredHeats.append(h);
    }
    f.LastEnteredHeat = 100;
}
