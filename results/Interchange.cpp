#include "Interchange.h"

#include "TextEncoding.h"
#include "TimeText.h"

namespace interchange {

namespace {

// A number as these files write it: one to six digits; -1 for anything else.
int number(const QString &text)
{
    if (text.isEmpty() || text.size() > 6)
        return -1;
    int n = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

QString at(const QStringList &fields, qsizetype i)
{
    return i < fields.size() ? fields[i] : QString();
}

// A field of a result file: quoted where it holds a comma or a quote; a line break becomes a blank,
// as every record is one line.
QString field(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')))
        text = QLatin1Char('"') + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

} // namespace

QStringList splitLine(QStringView line, qsizetype maxFields)
{
    QStringList fields;
    QString text;
    bool quoting = false; // inside quotes
    bool quoted = false;  // the field began with a quote
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoting) {
            if (c != QLatin1Char('"'))
                text += c;
            else if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                text += line[++i];
            else
                quoting = false;
        } else if (c == QLatin1Char(',')) {
            fields << text.trimmed();
            if (fields.size() == maxFields)
                return fields;
            text.clear();
            quoted = false;
        } else if (c == QLatin1Char('"') && !quoted && text.trimmed().isEmpty()) {
            quoting = quoted = true;
            text.clear();
        } else {
            text += c;
        }
    }
    fields << text.trimmed();
    return fields;
}

QString displayName(const QString &first, const QString &last)
{
    if (first.isEmpty())
        return last;
    if (last.isEmpty())
        return first;
    return first + QLatin1Char(' ') + last;
}

EvtFile parseEvt(const QString &text)
{
    EvtFile file;
    const QStringList lines = platform::splitLines(text);
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QStringList f = splitLine(lines[n], 6);
        bool empty = true;
        for (const QString &s : f)
            empty = empty && s.isEmpty();
        if (empty)
            continue;
        const int lineNumber = static_cast<int>(n + 1);
        if (!f[0].isEmpty()) {
            EvtHeat heat;
            heat.line = lineNumber;
            heat.event = number(f[0]);
            heat.round = number(at(f, 1));
            heat.heat = number(at(f, 2));
            heat.name = at(f, 3);
            file.heats << heat;
        } else if (file.heats.isEmpty()) {
            file.strayLines << lineNumber;
        } else {
            EvtLane lane;
            lane.line = lineNumber;
            lane.id = at(f, 1);
            lane.lane = number(at(f, 2));
            lane.last = at(f, 3);
            lane.first = at(f, 4);
            lane.affiliation = at(f, 5);
            file.heats.last().lanes << lane;
        }
    }
    return file;
}

QHash<QString, Person> parsePpl(const QString &text)
{
    QHash<QString, Person> people;
    for (const QString &line : platform::splitLines(text)) {
        const QStringList f = splitLine(line, 4);
        if (f[0].isEmpty() || people.contains(f[0]))
            continue;
        people.insert(f[0], {at(f, 1), at(f, 2), at(f, 3)});
    }
    return people;
}

QHash<QString, QString> parsePlaceTexts(const QString &text)
{
    QHash<QString, QString> texts;
    for (const QString &line : platform::splitLines(text)) {
        const qsizetype eq = line.lastIndexOf(QLatin1Char('='));
        const QString desk = line.left(eq).trimmed();
        if (eq < 0 || desk.isEmpty())
            continue;
        texts.insert(desk, line.mid(eq + 1).trimmed());
    }
    return texts;
}

QHash<QString, QString> defaultPlaceTexts()
{
    return {{QStringLiteral("n.a."), QStringLiteral("DNS")},
            {QStringLiteral("aufg."), QStringLiteral("DNF")},
            {QStringLiteral("disq."), QStringLiteral("DQ")}};
}

QString lifFileName(int event, int round, int heat)
{
    return QStringLiteral("%1-%2-%3.lif")
        .arg(event, 3, 10, QLatin1Char('0'))
        .arg(round)
        .arg(heat, 2, 10, QLatin1Char('0'));
}

QByteArray encodeLif(const LifHeat &heat, const QHash<QString, QString> &placeTexts, bool utf8)
{
    const QString crlf = QStringLiteral("\r\n");
    const QStringList header = {QString::number(heat.event), QString::number(heat.round), QString::number(heat.heat),
                                field(heat.name), heat.wind, heat.wind.isEmpty() ? QString() : QStringLiteral("m/s")};
    QString out = header.join(QLatin1Char(',')) + crlf;
    for (const LifLane &lane : heat.lanes) {
        const QString place = lane.place.trimmed();
        const bool markedOut = place == QLatin1String("Aus");
        const QStringList fields = {field(placeTexts.value(place, place)),
                                    field(lane.id),
                                    QString::number(lane.lane),
                                    field(lane.last),
                                    field(lane.first),
                                    field(lane.affiliation),
                                    markedOut ? QString() : LifTimeText(lane.time, lane.accuracy)};
        out += fields.join(QLatin1Char(',')) + crlf;
    }
    return utf8 ? out.toUtf8() : platform::encodeText(out);
}

} // namespace interchange
