#include "JournalFile.h"

#include <QCryptographicHash>
#include <QFile>

#include "TimeText.h"

#include <utility>

namespace results {

namespace {

const QByteArray kMagicPrefix = "ZIELKRON-JOURNAL ";
constexpr int kVersion = 4;
// The format of a journal without the desk's times: the same, read by builds that know none.
constexpr int kVersionWithoutTimes = 3;
// The format of a journal without origins and times, read by builds that know neither.
constexpr int kVersionWithoutOrigins = 2;

// One field of the body: backslash, TAB, line ends escaped, so that a field never splits a line.
void appendEscaped(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

std::optional<QString> unescaped(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\') {
            if (++i >= field.size())
                return std::nullopt;
            switch (field[i]) {
            case '\\': c = '\\'; break;
            case 't': c = '\t'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            default: return std::nullopt;
            }
        }
        out += c;
    }
    return QString::fromUtf8(out);
}

} // namespace

// The body: one line a value, "name<TAB>value", the origins of the heats with their lane names,
// then one line a filled cell, "cell<TAB>row<TAB>column<TAB>text".
QByteArray encodeJournal(const MeetingJournal &j)
{
    QByteArray body;
    body.reserve(256 + j.cells.size() * 24);
    auto line = [&body](const char *name, const QString &value) {
        body += name;
        body += '\t';
        appendEscaped(body, value);
        body += '\n';
    };
    line("title", j.title);
    line("date", j.date);
    line("written", j.written.toString(Qt::ISODateWithMs));
    line("lanes", QString::number(j.lanes));
    line("lastHeat", QString::number(j.lastHeat));
    QStringList heats;
    for (int h : j.heats)
        heats << QString::number(h);
    line("heats", heats.join(QLatin1Char(',')));
    line("rowCount", QString::number(j.rowCount));
    line("colCount", QString::number(j.colCount));
    for (auto o = j.origins.cbegin(); o != j.origins.cend(); ++o) {
        body += "origin\t" + QByteArray::number(o.key()) + '\t' + QByteArray::number(o->event) + '\t'
                + QByteArray::number(o->round) + '\t' + QByteArray::number(o->heat) + '\t' + (o->utf8 ? '1' : '0')
                + '\n';
        for (auto n = o->names.cbegin(); n != o->names.cend(); ++n) {
            body += "name\t" + QByteArray::number(n.key()) + '\t';
            appendEscaped(body, n->last);
            body += '\t';
            appendEscaped(body, n->first);
            body += '\n';
        }
    }
    for (auto m = j.millis.cbegin(); m != j.millis.cend(); ++m)
        body += "millis\t" + QByteArray::number(m.key()) + '\t' + QByteArray::number(m.value()) + '\n';
    for (auto t = j.times.cbegin(); t != j.times.cend(); ++t)
        body += "time\t" + QByteArray::number(t.key()) + '\t' + QByteArray::number(t->ms) + '\t'
                + QByteArray::number(t->accuracy) + '\t' + (t->roundUp ? '1' : '0') + '\t' + (t->blank ? '1' : '0') + '\n';
    for (auto log = j.raceLogs.cbegin(); log != j.raceLogs.cend(); ++log)
        for (const QString &note : *log) {
            body += "racelog\t" + QByteArray::number(log.key()) + '\t';
            appendEscaped(body, note);
            body += '\n';
        }
    for (const JournalCell &c : j.cells) {
        body += "cell\t";
        body += QByteArray::number(c.row);
        body += '\t';
        body += QByteArray::number(c.col);
        body += '\t';
        appendEscaped(body, c.text);
        body += '\n';
    }
    const int version = !j.times.isEmpty() || !j.raceLogs.isEmpty() ? kVersion
                        : !j.origins.isEmpty() || !j.millis.isEmpty() ? kVersionWithoutTimes
                                                                      : kVersionWithoutOrigins;
    QByteArray out = kMagicPrefix + QByteArray::number(version) + '\n';
    out += QByteArray::number(body.size()) + '\n';
    out += QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n';
    out += body;
    return out;
}

namespace {

// The three header lines and where the body begins; nothing when they are missing.
struct Header {
    QByteArray lines[3];
    qsizetype body = 0;
};

std::optional<Header> readHeader(const QByteArray &bytes)
{
    Header h;
    qsizetype at = 0;
    for (QByteArray &line : h.lines) {
        const qsizetype eol = bytes.indexOf('\n', at);
        if (eol < 0 || eol - at > 128)
            return std::nullopt;
        line = bytes.mid(at, eol - at);
        at = eol + 1;
    }
    h.body = at;
    return h;
}

// A count as the desk writes it: decimal digits only, within 0..max; -1 otherwise.
int count(QByteArrayView text, int max)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n <= max ? n : -1;
}

// The version a header names, -1 for none.
int headerVersion(const Header &header)
{
    if (!header.lines[0].startsWith(kMagicPrefix))
        return -1;
    return count(QByteArrayView(header.lines[0]).sliced(kMagicPrefix.size()), 999);
}

} // namespace

JournalFormat journalFormat(const QByteArray &bytes)
{
    const std::optional<Header> header = readHeader(bytes);
    if (!header)
        return JournalFormat::Unknown;
    const int version = headerVersion(*header);
    if (version < 1)
        return JournalFormat::Unknown;
    if (version > kVersion)
        return JournalFormat::Newer;
    // The first builds wrote format 1 with a JSON body; the line body of later format-1 journals
    // is the current one.
    if (version == 1 && bytes.size() > header->body && bytes[header->body] == '{')
        return JournalFormat::Older;
    return JournalFormat::Current;
}

std::optional<MeetingJournal> decodeJournal(const QByteArray &bytes, QString *why)
{
    auto fail = [why](const char *text) -> std::optional<MeetingJournal> {
        if (why)
            *why = QString::fromUtf8(text);
        return std::nullopt;
    };
    if (bytes.size() > JournalLimits::Bytes)
        return fail("Datei zu groß");
    const std::optional<Header> header = readHeader(bytes);
    if (!header)
        return fail("Kopfzeilen fehlen");
    switch (journalFormat(bytes)) {
    case JournalFormat::Current: break;
    case JournalFormat::Older: return fail("älteres Format");
    case JournalFormat::Newer: return fail("neueres Format");
    case JournalFormat::Unknown: return fail("keine Sicherungsdatei des Zeitnahmeplatzes");
    }
    bool ok = false;
    const qlonglong length = header->lines[1].toLongLong(&ok);
    if (!ok || length < 0 || length != bytes.size() - header->body)
        return fail("Länge stimmt nicht (Datei abgeschnitten oder verlängert)");
    const QByteArrayView body = QByteArrayView(bytes).sliced(header->body);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() != header->lines[2])
        return fail("Prüfsumme stimmt nicht");

    // The body's lines, one after the other.
    qsizetype pos = 0;
    QByteArrayView name, value;
    auto next = [&]() {
        if (pos >= body.size())
            return false;
        const qsizetype eol = body.indexOf('\n', pos);
        if (eol < 0)
            return false;
        const QByteArrayView line = body.sliced(pos, eol - pos);
        pos = eol + 1;
        const qsizetype tab = line.indexOf('\t');
        if (tab < 0)
            return false;
        name = line.first(tab);
        value = line.sliced(tab + 1);
        return true;
    };

    // The values, each once and in the order the desk writes them.
    MeetingJournal j;
    const char *const names[] = {"title", "date", "written", "lanes", "lastHeat", "heats", "rowCount", "colCount"};
    for (const char *expected : names) {
        if (!next() || name != expected)
            return fail("Inhalt nicht lesbar");
        const std::optional<QString> text = unescaped(value);
        if (!text)
            return fail("Inhalt nicht lesbar");
        if (name == "title")
            j.title = *text;
        else if (name == "date")
            j.date = *text;
        else if (name == "written")
            j.written = QDateTime::fromString(*text, Qt::ISODateWithMs);
        else if (name == "lanes")
            j.lanes = count(value, JournalLimits::Lanes);
        else if (name == "lastHeat")
            j.lastHeat = count(value, JournalLimits::Heats);
        else if (name == "rowCount")
            j.rowCount = count(value, JournalLimits::Rows);
        else if (name == "colCount")
            j.colCount = count(value, JournalLimits::Columns);
        else if (name == "heats" && !value.isEmpty()) {
            for (const QByteArray &h : value.toByteArray().split(',')) {
                const int heat = count(h, JournalLimits::Heats);
                if (heat < 1 || j.heats.contains(heat))
                    return fail("Werte außerhalb ihres Bereichs");
                j.heats.append(heat);
            }
        }
    }
    // The last entry is one of the heats entered, and there is one exactly when any was entered.
    if (!j.written.isValid() || j.lanes < 1 || j.lastHeat < 0 || j.rowCount < 1
        || j.colCount != JournalLimits::Columns || (j.lastHeat == 0) != j.heats.isEmpty()
        || (j.lastHeat > 0 && !j.heats.contains(j.lastHeat)))
        return fail("Werte außerhalb ihres Bereichs");

    // The origins (format 3 only), heat by heat, each with its lane names lane by lane; the kept
    // lane times (format 3 only), row by row; then the filled cells, row by row and column by
    // column, each inside the table.
    const bool origins = headerVersion(*header) >= kVersionWithoutTimes;
    const bool times = headerVersion(*header) >= kVersion;
    int timeRow = -1; // row of the latest time the desk took
    int origin = 0;   // heat of the latest origin line
    int nameLane = 0; // lane of the latest name line of that heat
    int millisRow = -1; // row of the latest kept lane time
    int raceLogHeat = 0; // heat of the latest race log note
    bool cells = false;
    qsizetype previous = -1;
    while (pos < body.size()) {
        if (!next())
            return fail("Inhalt nicht lesbar");
        if (name == "millis") {
            const QList<QByteArray> fields = value.toByteArray().split('\t');
            if (!origins || cells || timeRow >= 0 || raceLogHeat > 0 || fields.size() != 2)
                return fail("Inhalt nicht lesbar");
            const int row = count(fields[0], j.rowCount - 1);
            const int ms = count(fields[1], JournalLimits::Millis);
            if (row <= millisRow || ms < 1)
                return fail("Zeit einer Bahn nicht lesbar");
            j.millis.insert(row, ms);
            millisRow = row;
            continue;
        }
        if (name == "racelog") {
            const qsizetype tab = value.indexOf('\t');
            if (!times || cells || tab < 0)
                return fail("Inhalt nicht lesbar");
            const int heat = count(value.first(tab), JournalLimits::Heats);
            const std::optional<QString> note = unescaped(value.sliced(tab + 1));
            if (heat < 1 || heat < raceLogHeat || !note || note->isEmpty()
                || note->size() > JournalLimits::RaceNoteLength || j.raceLogs.value(heat).size() >= JournalLimits::RaceNotes)
                return fail("Bemerkung eines Laufs nicht lesbar");
            j.raceLogs[heat].append(*note);
            raceLogHeat = heat;
            continue;
        }
        if (name == "time") {
            const QList<QByteArray> fields = value.toByteArray().split('\t');
            if (!times || cells || raceLogHeat > 0 || fields.size() != 5)
                return fail("Inhalt nicht lesbar");
            const int row = count(fields[0], j.rowCount - 1);
            const int ms = count(fields[1], JournalLimits::Millis);
            const int accuracy = count(fields[2], 2);
            const auto flag = [](const QByteArray &f) { return f == "1" ? 1 : f == "0" ? 0 : -1; };
            const int roundUp = flag(fields[3]), blank = flag(fields[4]);
            if (row <= timeRow || ms < 1 || accuracy < 0 || roundUp < 0 || blank < 0)
                return fail("Zeit einer Bahn nicht lesbar");
            j.times.insert(row, meeting::LaneTime::taken(ms, accuracy, roundUp == 1, blank == 1));
            timeRow = row;
            continue;
        }
        if (name == "origin" || name == "name") {
            if (!origins || cells || millisRow >= 0 || timeRow >= 0 || raceLogHeat > 0)
                return fail("Inhalt nicht lesbar");
            const QList<QByteArray> fields = value.toByteArray().split('\t');
            if (name == "origin") {
                if (fields.size() != 5)
                    return fail("Herkunft eines Laufs nicht lesbar");
                const int heat = count(fields[0], JournalLimits::Heats);
                if (heat <= origin)
                    return fail("Herkunft eines Laufs nicht lesbar");
                meeting::HeatOrigin o;
                o.event = count(fields[1], JournalLimits::OriginNumber);
                o.round = count(fields[2], JournalLimits::OriginNumber);
                o.heat = count(fields[3], JournalLimits::OriginNumber);
                if (o.event < 0 || o.round < 0 || o.heat < 0 || (fields[4] != "0" && fields[4] != "1"))
                    return fail("Herkunft eines Laufs nicht lesbar");
                o.utf8 = fields[4] == "1";
                j.origins.insert(heat, o);
                origin = heat;
                nameLane = 0;
            } else {
                if (origin == 0 || fields.size() != 3)
                    return fail("Name einer Bahn nicht lesbar");
                const int lane = count(fields[0], JournalLimits::Lanes);
                const std::optional<QString> last = unescaped(fields[1]);
                const std::optional<QString> first = unescaped(fields[2]);
                if (lane <= nameLane || !last || !first || (last->isEmpty() && first->isEmpty()))
                    return fail("Name einer Bahn nicht lesbar");
                j.origins[origin].names.insert(lane, {*last, *first});
                nameLane = lane;
            }
            continue;
        }
        if (name != "cell")
            return fail("Inhalt nicht lesbar");
        cells = true;
        const qsizetype t1 = value.indexOf('\t');
        const qsizetype t2 = t1 < 0 ? -1 : value.indexOf('\t', t1 + 1);
        if (t2 < 0)
            return fail("Zelle nicht lesbar");
        const int row = count(value.first(t1), j.rowCount - 1);
        const int col = count(value.sliced(t1 + 1, t2 - t1 - 1), j.colCount - 1);
        if (row < 0 || col < 0)
            return fail("Zelle außerhalb der Tabelle");
        const qsizetype index = qsizetype{row} * j.colCount + col;
        if (index <= previous)
            return fail("Zellen nicht in der Reihenfolge der Tabelle");
        previous = index;
        const std::optional<QString> text = unescaped(value.sliced(t2 + 1));
        if (!text || text->isEmpty())
            return fail("Zelle nicht lesbar");
        j.cells.append({row, col, *text});
    }
    return j;
}

MeetingJournal journalOf(const meeting::Record &record, const QString &title, const QDateTime &written)
{
    MeetingJournal j;
    j.title = title;
    j.date = record.date();
    j.written = written;
    j.lanes = record.lanes();
    j.lastHeat = record.lastEntered;
    j.heats = record.entered;
    j.rowCount = record.rowCount();
    j.colCount = meeting::kColumns;
    for (int r = 0; r < j.rowCount; ++r) {
        const meeting::LaneRecord &row = record.at(r);
        if (row.time.kind == meeting::LaneTime::Kind::Taken && row.time.ms <= JournalLimits::Millis)
            j.times.insert(r, row.time);
        const meeting::Row texts = row.row();
        for (int c = 0; c < j.colCount; ++c)
            if (const QString &text = texts[static_cast<std::size_t>(c)]; !text.isEmpty())
                j.cells.append({r, c, text});
    }
    j.origins = record.origins;
    for (auto log = record.raceLogs.cbegin(); log != record.raceLogs.cend(); ++log) {
        // No more than a journal may hold: a note cut short rather than a journal refused.
        QStringList notes = log->mid(0, JournalLimits::RaceNotes);
        for (QString &note : notes)
            note.truncate(JournalLimits::RaceNoteLength);
        notes.removeAll(QString());
        if (log.key() >= 1 && log.key() <= JournalLimits::Heats && !notes.isEmpty())
            j.raceLogs.insert(log.key(), notes);
    }
    return j;
}

meeting::Record recordOf(const MeetingJournal &journal)
{
    meeting::Record record(journal.lanes);
    record.setRowCount(journal.rowCount);
    for (const JournalCell &c : journal.cells) {
        meeting::Row row = record.row(c.row);
        row[static_cast<std::size_t>(c.col)] = c.text;
        record.setRow(c.row, row);
    }
    // A time is the desk's only where it gives the cell's very text: nothing is ever shown
    // otherwise than it was written.
    const auto take = [&record](int r, const meeting::LaneTime &time) {
        if (r >= record.rowCount())
            return;
        meeting::LaneRecord &row = record.at(r);
        if (time.shown() == row.time.shown())
            row.time = time;
    };
    for (auto t = journal.times.cbegin(); t != journal.times.cend(); ++t)
        take(t.key(), *t);
    for (auto m = journal.millis.cbegin(); m != journal.millis.cend(); ++m) {
        const QString text = std::as_const(record).at(m.key()).time.shown();
        const int accuracy = TimeTextAccuracy(text);
        const bool blank = text.endsWith(QLatin1Char(' '));
        for (const bool roundUp : {false, true}) {
            const meeting::LaneTime time = meeting::LaneTime::taken(*m, accuracy, roundUp, blank);
            if (time.shown() == text) {
                take(m.key(), time);
                break;
            }
        }
    }
    record.origins = journal.origins;
    record.raceLogs = journal.raceLogs;
    record.entered = journal.heats;
    record.lastEntered = journal.lastHeat;
    return record;
}

} // namespace results
