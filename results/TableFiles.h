#pragma once
// The files of a meeting's results table, read from the meeting: the text export (TAB between the
// cells), the CSV export (";" between them), the cells of the workbook export; and a heat as the
// result file of a meet-management program holds it.

#include "Interchange.h"
#include "Meeting.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace results {

// Every row whose first cell is filled, each cell followed by a TAB (an empty cell as one blank),
// each row ended by CR LF; in the desk's text encoding.
QByteArray textExportOf(const meeting::Record &record);
// Every row of the table, the cells separated by ";", each row ended by CR LF; in the desk's text
// encoding.
QByteArray csvExportOf(const meeting::Record &record);
// Every cell of the table as text, row by row.
std::vector<meeting::Row> rowsOf(const meeting::Record &record);

// A heat of the table as a result file holds it: the desk's times as they show them (rounded up
// where they were), the texts of the lanes; the names as its meet-management start list gave them
// where the lane's name is still that one.
interchange::LifHeat lifHeatOf(const meeting::HeatRecord &heat);

} // namespace results
