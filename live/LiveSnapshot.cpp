// The snapshot of the desk and its JSON text.

#include "LiveSnapshot.h"

#include "ResultsList.h"

#include <QLocale>

namespace live {

namespace {

constexpr int kTableColumns = 7;
constexpr int kMaxHeat = 100;

int laneCount(const meeting::Meeting &m)
{
    return std::clamp(m.lanes(), 1, meeting::kLaneRows);
}

// A JSON string literal. Besides the characters JSON demands, "<", ">", "&" and the two line
// separators are escaped, so the text can stand inside an HTML script element as it is.
void appendString(QString &out, const QString &text)
{
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (u < 0x20 || u == u'<' || u == u'>' || u == u'&' || u == 0x2028 || u == 0x2029)
                out += QStringLiteral("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
}

void appendKey(QString &out, const char *key)
{
    out += QLatin1Char('"');
    out += QLatin1String(key);
    out += QLatin1String("\":");
}

void appendField(QString &out, const char *key, const QString &value)
{
    appendKey(out, key);
    appendString(out, value);
    out += QLatin1Char(',');
}

void appendField(QString &out, const char *key, bool value)
{
    appendKey(out, key);
    out += value ? QLatin1String("true,") : QLatin1String("false,");
}

void appendField(QString &out, const char *key, qint64 value)
{
    appendKey(out, key);
    out += QString::number(value);
    out += QLatin1Char(',');
}

void appendTexts(QString &out, const std::vector<QString> &texts)
{
    out += QLatin1Char('[');
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i > 0)
            out += QLatin1Char(',');
        appendString(out, texts[i]);
    }
    out += QLatin1Char(']');
}

// Replaces the comma after the last member of an object or array by its closing bracket.
void close(QString &out, QChar bracket)
{
    if (out.endsWith(QLatin1Char(',')))
        out.chop(1);
    out += bracket;
}

// "rows":[[...],...] of a heat's block or a ranking.
void appendRows(QString &out, const std::vector<std::vector<QString>> &rows)
{
    appendKey(out, "rows");
    out += QLatin1Char('[');
    for (const std::vector<QString> &row : rows) {
        appendTexts(out, row);
        out += QLatin1Char(',');
    }
    close(out, QLatin1Char(']'));
}

} // namespace

QString trimmedRight(const QString &text)
{
    qsizetype n = text.size();
    while (n > 0 && text[n - 1].isSpace())
        --n;
    return text.left(n);
}

QByteArray Snapshot::heatMembers() const
{
    QString out;
    out.reserve(1024);
    appendField(out, "title", title);
    appendField(out, "heatKind", heatKind);
    appendField(out, "heat", heat);
    appendField(out, "discipline", discipline);
    appendField(out, "class", className);
    appendField(out, "wind", wind);
    appendField(out, "running", running);
    appendField(out, "start", static_cast<qint64>(start));
    appendField(out, "accuracy", static_cast<qint64>(accuracy));
    appendField(out, "separator", separator);
    appendKey(out, "lanes");
    out += QLatin1Char('[');
    for (const LaneState &l : lanes) {
        out += QLatin1Char('{');
        appendField(out, "lane", static_cast<qint64>(l.lane));
        appendField(out, "number", l.number);
        appendField(out, "name", l.name);
        appendField(out, "time", l.time);
        appendField(out, "place", l.place);
        appendField(out, "running", l.running);
        appendField(out, "stopped", l.stopped);
        appendField(out, "on", l.on);
        close(out, QLatin1Char('}'));
        out += QLatin1Char(',');
    }
    close(out, QLatin1Char(']'));
    return out.toUtf8();
}

QByteArray Snapshot::meetingMembers() const
{
    QString out;
    out.reserve(64 + static_cast<qsizetype>(heats.size()) * 600);
    appendKey(out, "meeting");
    out += QLatin1Char('{');
    appendField(out, "title", meetingTitle);
    appendField(out, "date", meetingDate);
    close(out, QLatin1Char('}'));
    out += QLatin1Char(',');
    appendKey(out, "heats");
    out += QLatin1Char('[');
    for (const HeatBlock &h : heats) {
        out += QLatin1Char('{');
        appendField(out, "heat", static_cast<qint64>(h.heat));
        appendKey(out, "header");
        appendTexts(out, h.header);
        out += QLatin1Char(',');
        appendRows(out, h.rows);
        // Only a heat whose race has notes carries them: the others read as they always did.
        if (!h.notes.empty()) {
            out += QLatin1Char(',');
            appendKey(out, "notes");
            appendTexts(out, h.notes);
        }
        out += QLatin1Char('}');
        out += QLatin1Char(',');
    }
    close(out, QLatin1Char(']'));
    out += QLatin1Char(',');
    appendKey(out, "rankings");
    out += QLatin1Char('[');
    for (const RankingBlock &r : rankings) {
        out += QLatin1Char('{');
        appendField(out, "title", r.title);
        appendRows(out, r.rows);
        out += QLatin1Char('}');
        out += QLatin1Char(',');
    }
    close(out, QLatin1Char(']'));
    return out.toUtf8();
}

QByteArray Snapshot::joinMembers(const QByteArray &heat, const QByteArray &meeting)
{
    QByteArray out;
    out.reserve(heat.size() + meeting.size() + 3);
    out += '{';
    out += heat;
    out += ',';
    out += meeting;
    out += '}';
    return out;
}

QByteArray Snapshot::toJson() const
{
    return joinMembers(heatMembers(), meetingMembers());
}

Snapshot SnapshotOf(const meeting::Meeting &m)
{
    Snapshot s;
    ReadHeat(m, s);
    ReadMeeting(m, s);
    return s;
}

void ReadHeat(const meeting::Meeting &m, Snapshot &s)
{
    const meeting::Desk &desk = m.desk();
    s.title = trimmedRight(desk.title);
    s.heatKind = desk.kind;
    s.heat = QString::number(desk.heat);
    s.discipline = trimmedRight(desk.discipline);
    s.className = trimmedRight(desk.className);
    s.wind = trimmedRight(desk.wind);
    s.start = desk.start;
    s.accuracy = m.settings().accuracy;
    s.separator = QLocale().decimalPoint();

    // The race's clock counts exactly the lanes whose lane time is 0 while the race runs; after
    // STOPP lanes not stopped show nothing.
    const bool clockOn = desk.state == meeting::RaceState::Running;
    const int lanes = laneCount(m);
    s.running = false;
    s.lanes.clear();
    s.lanes.reserve(static_cast<std::size_t>(lanes));
    for (int i = 1; i <= lanes; ++i) {
        const meeting::DeskLane &lane = m.lane(i);
        LaneState l;
        l.lane = i;
        l.number = trimmedRight(lane.number);
        l.name = trimmedRight(lane.name);
        l.place = trimmedRight(lane.place);
        l.on = lane.on;
        const bool shown = !lane.hidden;
        const bool counting = clockOn && lane.laneTime == 0;
        s.running = s.running || counting;
        l.running = counting && shown;
        l.stopped = shown && lane.final;
        if (shown && !l.running)
            l.time = trimmedRight(lane.time.shown());
        s.lanes.push_back(l);
    }
}

void ReadMeeting(const meeting::Meeting &m, Snapshot &s)
{
    const meeting::Record &record = m.record();
    const int lanes = laneCount(m);
    const int rowCount = record.rowCount();
    s.meetingTitle = trimmedRight(record.title());
    s.meetingDate = trimmedRight(record.date());
    s.heats.clear();
    for (int h = 1; h <= kMaxHeat; ++h) {
        const int header = meeting::Record::headerRow(h, lanes);
        if (header >= rowCount)
            break;
        HeatBlock block;
        block.heat = h;
        bool any = false;
        auto readRow = [&](int row) {
            const meeting::Row cells = record.row(row);
            std::vector<QString> texts(kTableColumns);
            for (int c = 0; c < kTableColumns; ++c) {
                texts[static_cast<std::size_t>(c)] = trimmedRight(cells[static_cast<std::size_t>(c)]);
                any = any || !texts[static_cast<std::size_t>(c)].isEmpty();
            }
            return texts;
        };
        block.header = readRow(header);
        for (int i = 1; i <= lanes; ++i)
            block.rows.push_back(readRow(header + i));
        for (const QString &note : record.raceLogs.value(h))
            block.notes.push_back(note);
        if (any)
            s.heats.push_back(std::move(block));
    }
    // The rankings across heats of the entered heats, as the printed results lists have them.
    s.rankings.clear();
    for (const results::Ranking &ranking : results::documentOf(record).rankings) {
        RankingBlock block;
        block.title = ranking.heading();
        for (const results::RankedLane &r : ranking.lanes)
            block.rows.push_back({r.place, QString::number(r.heat), QString::number(r.lane.lane), r.lane.number,
                                  r.lane.name, r.lane.note, r.lane.time});
        s.rankings.push_back(std::move(block));
    }
}

} // namespace live
