#include "TableFiles.h"

#include "TextEncoding.h"
#include "TimeText.h"

#include <QLocale>

namespace results {

QByteArray textExportOf(const meeting::Record &record)
{
    QString content;
    for (int r = 0; r < record.rowCount(); ++r) {
        const meeting::Row row = record.row(r);
        if (row[0].isEmpty())
            continue;
        for (const QString &text : row) {
            content += text.isEmpty() ? QStringLiteral(" ") : text;
            content += QLatin1Char('\t');
        }
        content += QStringLiteral("\r\n");
    }
    return platform::encodeText(content);
}

QByteArray csvExportOf(const meeting::Record &record)
{
    QString content;
    content.reserve(record.rowCount() * meeting::kColumns * 8);
    for (int r = 0; r < record.rowCount(); ++r) {
        const meeting::Row row = record.row(r);
        for (int c = 0; c < meeting::kColumns; ++c) {
            content += row[static_cast<std::size_t>(c)];
            content += c + 1 < meeting::kColumns ? QStringLiteral(";") : QStringLiteral("\r\n");
        }
    }
    return platform::encodeText(content);
}

std::vector<meeting::Row> rowsOf(const meeting::Record &record)
{
    std::vector<meeting::Row> rows;
    rows.reserve(static_cast<std::size_t>(record.rowCount()));
    for (int r = 0; r < record.rowCount(); ++r)
        rows.push_back(record.row(r));
    return rows;
}

namespace {

// The wind of a heat header ("1,5 m/s") with a decimal point; empty when there is none.
QString windWithPoint(const QString &cell)
{
    const QString value = cell.trimmed().section(QLatin1Char(' '), 0, 0);
    bool ok = false;
    double wind = QLocale().toDouble(value, &ok);
    if (!ok)
        wind = QLocale::c().toDouble(value, &ok);
    return ok ? QString::number(wind, 'f', 1) : QString();
}

} // namespace

interchange::LifHeat lifHeatOf(const meeting::HeatRecord &heat)
{
    const bool fromList = heat.origin.has_value();
    interchange::LifHeat lif;
    lif.event = fromList ? heat.origin->event : 0;
    lif.round = fromList ? heat.origin->round : 0;
    lif.heat = fromList ? heat.origin->heat : heat.heat;
    lif.name = heat.discipline().trimmed();
    lif.wind = windWithPoint(heat.wind());
    for (std::size_t i = 0; i < heat.lanes.size(); ++i) {
        const meeting::LaneRecord &r = heat.lanes[i];
        interchange::LifLane lane;
        lane.lane = static_cast<int>(i) + 1;
        lane.place = r.place.trimmed();
        lane.id = r.number.trimmed();
        lane.affiliation = r.note.trimmed();
        if (r.time.kind == meeting::LaneTime::Kind::Taken) {
            // The time as the desk shows it: rounded up where it was, truncated by the file's text.
            lane.time = r.time.roundUp ? RoundedUpTime(r.time.ms, r.time.accuracy) : r.time.ms;
            lane.accuracy = r.time.accuracy;
        } else {
            const QString text = r.time.shown();
            lane.time = TimeTextToLaneTime(text);
            lane.accuracy = TimeTextAccuracy(text);
        }
        const QString name = r.name.trimmed();
        if (lane.id.isEmpty() && name.isEmpty() && lane.place.isEmpty() && lane.time <= 0)
            continue; // nobody ran here
        // The names as the start list gave them; a name typed at the desk or from another list
        // goes whole into the last name.
        const meeting::LaneName given = fromList ? heat.origin->names.value(lane.lane) : meeting::LaneName{};
        if (!name.isEmpty() && interchange::displayName(given.first, given.last) == name) {
            lane.last = given.last;
            lane.first = given.first;
        } else {
            lane.last = name;
        }
        lif.lanes << lane;
    }
    return lif;
}

} // namespace results
