#include "Meeting.h"

#include "TimeText.h"

#include <QLocale>

#include <algorithm>
#include <tuple>

namespace meeting {

// ---------------------------------------------------------------------------------------------
// Times and rows

LaneTime LaneTime::zero(int accuracy)
{
    LaneTime t;
    t.kind = Kind::Zero;
    t.accuracy = accuracy;
    return t;
}

LaneTime LaneTime::taken(std::int32_t ms, int accuracy, bool roundUp, bool blank)
{
    LaneTime t;
    t.kind = Kind::Taken;
    t.ms = ms;
    t.accuracy = accuracy;
    t.roundUp = roundUp;
    t.blank = blank;
    return t;
}

LaneTime LaneTime::fromText(const QString &text)
{
    LaneTime t;
    if (text.isEmpty())
        return t;
    t.kind = Kind::Text;
    t.text = text;
    t.ms = TimeTextToLaneTime(text);
    return t;
}

QString LaneTime::shown() const
{
    switch (kind) {
    case Kind::Empty: return QString();
    case Kind::Zero: return RaceTimeText(0, accuracy) + QLatin1Char(' ');
    case Kind::Taken: {
        const QString t = FinalTimeText(ms, accuracy, roundUp);
        return blank ? t + QLatin1Char(' ') : t;
    }
    case Kind::Text: return text;
    }
    return QString();
}

LaneRecord LaneRecord::fromRow(const Row &row)
{
    return {row[0], row[1], row[2], row[3], row[4], LaneTime::fromText(row[5]), row[6]};
}

void Record::setRowCount(int rows)
{
    rows_.resize(static_cast<std::size_t>(std::max(rows, 0)));
}

const LaneRecord &Record::at(int r) const
{
    static const LaneRecord none;
    return r >= 0 && r < rowCount() ? rows_[static_cast<std::size_t>(r)] : none;
}

LaneRecord &Record::at(int r)
{
    if (r >= rowCount())
        setRowCount(r + 1);
    return rows_.at(static_cast<std::size_t>(r));
}

void Record::setCell(int column, int r, const QString &text)
{
    Row texts = row(r);
    texts.at(static_cast<std::size_t>(column)) = text;
    setRow(r, texts);
}

HeatRecord Record::heat(int h) const
{
    HeatRecord heat;
    heat.heat = h;
    const int header = headerRow(h);
    heat.header = row(header);
    heat.lanes.reserve(static_cast<std::size_t>(lanes_));
    for (int i = 1; i <= lanes_; ++i)
        heat.lanes.push_back(at(header + i));
    if (const auto o = origins.constFind(h); o != origins.cend())
        heat.origin = *o;
    heat.raceLog = raceLogs.value(h);
    return heat;
}

QString SignalGap::text() const
{
    const QLocale locale;
    QString t = QStringLiteral("Signal %1 unterbrochen %2\u2013").arg(port, TimeOfDayMsText(from, locale));
    if (until)
        t += TimeOfDayMsText(*until, locale);
    return t;
}

bool isPlaceNumber(const QString &caption)
{
    if (caption.isEmpty())
        return false;
    for (const QChar c : caption)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// The meeting

Meeting::Meeting(QObject *parent) : QObject(parent), record_(settings_.lanes)
{
    for (DeskLane &l : desk_.lanes)
        l.time = LaneTime::zero(settings_.accuracy);
}

int Meeting::currentHeat() const
{
    return std::clamp(desk_.heat, 1, kMaxHeat);
}

void Meeting::setAccuracy(int accuracy)
{
    if (settings_.accuracy == accuracy)
        return;
    settings_.accuracy = accuracy;
    emit settingsChanged();
}

void Meeting::setRoundUp(bool on)
{
    if (settings_.roundUp == on)
        return;
    settings_.roundUp = on;
    emit settingsChanged();
}

void Meeting::setEdge(int edge)
{
    if (settings_.edge == edge)
        return;
    settings_.edge = edge;
    emit settingsChanged();
}

void Meeting::setOneBarrier(bool on)
{
    if (settings_.oneBarrier == on)
        return;
    settings_.oneBarrier = on;
    emit settingsChanged();
}

void Meeting::setLanes(int lanes)
{
    lanes = std::clamp(lanes, 1, kLaneRows);
    if (settings_.lanes == lanes && record_.lanes() == lanes)
        return;
    settings_.lanes = lanes;
    record_.setLanes(lanes);
    emit settingsChanged();
    emit recordChanged();
}

// ---- the heat on the desk ----

void Meeting::setTitle(const QString &title)
{
    if (desk_.title == title)
        return;
    desk_.title = title;
    emit deskChanged();
}

void Meeting::setDate(const QDate &date, bool on)
{
    if (desk_.date == date && desk_.dateOn == on)
        return;
    desk_.date = date;
    desk_.dateOn = on;
    emit deskChanged();
}

void Meeting::setHeatFields(const QString &kind, const QString &discipline, const QString &className)
{
    if (desk_.kind == kind && desk_.discipline == discipline && desk_.className == className)
        return;
    desk_.kind = kind;
    desk_.discipline = discipline;
    desk_.className = className;
    emit deskChanged();
}

void Meeting::setWind(const QString &text, double value, const QString &unit)
{
    if (desk_.wind == text && desk_.windValue == value && desk_.windUnit == unit)
        return;
    desk_.wind = text;
    desk_.windValue = value;
    desk_.windUnit = unit;
    emit deskChanged();
}

void Meeting::setHeatNumber(int heat)
{
    if (desk_.heat == heat)
        return;
    desk_.heat = heat;
    emit deskChanged();
}

void Meeting::setNumber(int lane, const QString &number)
{
    if (lane < 1 || lane > kLaneRows || this->lane(lane).number == number)
        return;
    laneToWrite(lane).number = number;
    emit laneChanged(lane);
}

void Meeting::setName(int lane, const QString &name)
{
    if (lane < 1 || lane > kLaneRows || this->lane(lane).name == name)
        return;
    laneToWrite(lane).name = name;
    emit laneChanged(lane);
}

void Meeting::setOn(int lane, bool on)
{
    if (lane < 1 || lane > kLaneRows || this->lane(lane).on == on)
        return;
    laneToWrite(lane).on = on;
    emit laneChanged(lane);
}

void Meeting::setAllOn(bool on)
{
    for (int i = 1; i <= lanes(); ++i)
        setOn(i, on);
}

// ---- the race ----

void Meeting::start(std::uint32_t tick, const QString &timeOfDay)
{
    desk_.start = tick;
    desk_.startTimeOfDay = timeOfDay;
    desk_.state = RaceState::Running;
    desk_.finishCount = 0;
    desk_.earlyLaneEdges.clear();
    desk_.placingOrder.clear();
    desk_.finishList.clear();
    // Every race hands out finish-list places from 1, however it was started and whatever the last
    // race left in the list.
    desk_.finishListTag = 0;
    // A port still without signal is an interruption of this race from the start on.
    desk_.signalGaps.clear();
    for (auto lost = desk_.portsLost.cbegin(); lost != desk_.portsLost.cend(); ++lost)
        desk_.signalGaps.push_back({lost.key(), lost.value(), std::nullopt});
    for (int i = 1; i <= kLaneRows; ++i) {
        DeskLane &l = laneToWrite(i);
        l.running = false;
        l.stopNanos = 0;
        l.blockedAtStart = false;
        if (i > lanes())
            continue;
        l.place.clear();
        l.hidden = false;
        if (l.on) {
            l.laneTime = 0;
            l.running = true;
        } else {
            l.laneTime = -1;
        }
    }
    emit raceChanged();
    for (int i = 1; i <= lanes(); ++i)
        emit laneChanged(i);
}

void Meeting::stopLane(int lane, std::uint32_t tick, std::int64_t nanos)
{
    std::int32_t time = raceTime(tick);
    // A stop within the start's own millisecond still counts as stopped (a time above 0).
    if (time <= 0)
        time = 1;
    DeskLane &l = laneToWrite(lane);
    l.running = false;
    l.laneTime = time;
    l.time = LaneTime::taken(time, settings_.accuracy, settings_.roundUp);
    l.final = true;
    ++desk_.finishCount;
    // The place follows the stop instants: a line edge seen before another port's edge that was
    // handed over first still gets the better place, and the lanes behind it move down by one. Only
    // lanes that hold a place count: one marked "Aus" or given a place text meanwhile takes none.
    int place = 1;
    for (int j = 1; j <= lanes(); ++j) {
        const DeskLane &other = this->lane(j);
        if (j != lane && other.final && other.stopNanos <= nanos && isPlaceNumber(other.place))
            ++place;
    }
    for (int j = 1; j <= lanes(); ++j) {
        DeskLane &other = laneToWrite(j);
        if (j == lane || other.stopNanos <= nanos || !isPlaceNumber(other.place))
            continue;
        const int theirs = other.place.toInt();
        place = std::min(place, theirs);
        other.place = QString::number(theirs + 1);
        emit laneChanged(j);
    }
    std::vector<int> &order = desk_.placingOrder;
    std::erase(order, lane);
    order.insert(std::find_if(order.begin(), order.end(), [this, nanos](int j) { return this->lane(j).stopNanos > nanos; }),
                 lane);
    l.stopNanos = nanos;
    l.place = QString::number(place);
    if (allStopped())
        desk_.state = RaceState::Stopped;
    emit laneChanged(lane);
    emit raceChanged();
}

bool Meeting::allStopped() const
{
    for (int i = 1; i <= kLaneRows; ++i)
        if (lane(i).running)
            return false;
    return true;
}

void Meeting::stopRace()
{
    desk_.state = RaceState::Stopped;
    for (int i = 1; i <= lanes(); ++i) {
        DeskLane &l = laneToWrite(i);
        if (!l.final) {
            l.time = LaneTime::empty();
            emit laneChanged(i);
        }
    }
    emit raceChanged();
}

void Meeting::reset()
{
    desk_.state = RaceState::Ready;
    desk_.lockOutArmed = false;
    for (int i = 1; i <= lanes(); ++i) {
        DeskLane &l = laneToWrite(i);
        l.time = LaneTime::zero(settings_.accuracy);
        l.laneTime = l.on ? 0 : -1;
        l.final = false;
        l.hidden = false;
        l.place.clear();
        emit laneChanged(i);
    }
    // Lanes beyond the lane count are out of view: none of them may still run from a race run
    // with more lanes.
    for (int i = 1; i <= kLaneRows; ++i)
        laneToWrite(i).running = false;
    emit raceChanged();
}

void Meeting::toggleOut(int lane)
{
    DeskLane &l = laneToWrite(lane);
    if (l.place == QLatin1String("Aus")) {
        l.hidden = false;
        l.place.clear();
    } else {
        l.hidden = true;
        l.place = QStringLiteral("Aus");
    }
    emit laneChanged(lane);
    recountPlaces();
}

void Meeting::setPlaceText(int lane, const QString &text)
{
    if (lane < 1 || lane > kLaneRows)
        return;
    laneToWrite(lane).place = text;
    emit laneChanged(lane);
}

void Meeting::recountPlaces()
{
    // Only place numbers are handed out again. "Aus" and the place texts ("disq.", "n.a." ...)
    // stay, and such a lane takes no place.
    std::vector<int> placed;
    for (int i = 1; i <= lanes(); ++i) {
        DeskLane &l = laneToWrite(i);
        if (isPlaceNumber(l.place))
            l.place.clear();
        if (l.place.isEmpty() && l.laneTime > 0)
            placed.push_back(i);
    }
    // By lane time; equal times keep the order in which they were placed (lanes crossing within
    // the same millisecond), then the lower lane comes first.
    const std::vector<int> &order = desk_.placingOrder;
    const auto key = [this, &order](int n) {
        return std::tuple(lane(n).laneTime, std::find(order.begin(), order.end(), n), n);
    };
    std::sort(placed.begin(), placed.end(), [&key](int a, int b) { return key(a) < key(b); });
    int place = 0;
    for (int n : placed)
        laneToWrite(n).place = QString::number(++place);
    for (int i = 1; i <= lanes(); ++i)
        emit laneChanged(i);
}

// ---- serial lines ----

void Meeting::portLost(const QString &port, const QTime &at)
{
    if (desk_.portsLost.contains(port))
        return;
    desk_.portsLost.insert(port, at);
    if (raceOnDesk() && !allStopped() && static_cast<int>(desk_.signalGaps.size()) < kMaxRaceNotes)
        desk_.signalGaps.push_back({port, at, std::nullopt});
    emit raceChanged();
}

void Meeting::portBack(const QString &port, const QTime &at)
{
    desk_.portsLost.remove(port);
    for (SignalGap &gap : desk_.signalGaps)
        if (gap.port == port && !gap.until)
            gap.until = at;
    emit raceChanged();
}

void Meeting::portForgotten(const QString &port)
{
    desk_.portsLost.remove(port);
}

QStringList Meeting::raceLog() const
{
    QStringList log;
    for (const SignalGap &gap : desk_.signalGaps)
        log << gap.text();
    return log;
}

void Meeting::setBlockedAtStart(int lane, bool blocked)
{
    if (lane >= 1 && lane <= kLaneRows)
        laneToWrite(lane).blockedAtStart = blocked;
}

bool Meeting::takeClearingEdge(int lane, bool active)
{
    if (lane < 1 || lane > kLaneRows || !this->lane(lane).blockedAtStart)
        return false;
    laneToWrite(lane).blockedAtStart = false;
    return !edgeActs(active);
}

bool Meeting::edgeActs(bool active) const
{
    return (settings_.edge == 0 && active) || (settings_.edge == 1 && !active);
}

bool Meeting::lockedOut(std::uint32_t tick) const
{
    // Measured in edge time, not in handling time: two edges 15 ms apart that reach the desk
    // together, behind a busy moment, are both taken; two 5 ms apart never are.
    return desk_.lockOutArmed && tick - desk_.lockOutTick < static_cast<std::uint32_t>(std::max(settings_.lockOutMs, 0));
}

void Meeting::lockOut(std::uint32_t tick)
{
    desk_.lockOutArmed = true;
    desk_.lockOutTick = tick;
}

void Meeting::endLockOut()
{
    desk_.lockOutArmed = false;
}

void Meeting::keepEarlyLaneEdge(int lane, const Edge &edge)
{
    constexpr std::int32_t kKeepMs = 1000;
    constexpr std::size_t kMaxKept = 64;
    // In edge order, so that the places of a start that takes them up follow the edges.
    auto &kept = desk_.earlyLaneEdges;
    std::erase_if(kept, [&edge](const auto &k) { return static_cast<std::int32_t>(edge.tick - k.second.tick) > kKeepMs; });
    if (kept.size() >= kMaxKept)
        kept.erase(kept.begin());
    const auto at = std::upper_bound(kept.begin(), kept.end(), edge.nanos,
                                     [](std::int64_t nanos, const auto &k) { return nanos < k.second.nanos; });
    kept.insert(at, {lane, edge});
}

std::vector<std::pair<int, Edge>> Meeting::takeEarlyLaneEdges()
{
    return std::exchange(desk_.earlyLaneEdges, {});
}

// ---- the finish list ----

void Meeting::addFinishTime(std::int32_t ms)
{
    // The entry shows the time text; it keeps the time itself, which the lane it is handed to
    // takes as its lane time, so that places are recounted from it like those of stopped lanes.
    desk_.finishList.push_back({std::max<std::int32_t>(ms, 1), FinalTimeText(ms, settings_.accuracy, settings_.roundUp)});
    emit raceChanged();
}

void Meeting::assignFinishEntry(int lane, int index)
{
    if (index < 0 || index >= static_cast<int>(desk_.finishList.size()))
        return;
    const FinishEntry entry = desk_.finishList[static_cast<std::size_t>(index)];
    DeskLane &l = laneToWrite(lane);
    l.time = LaneTime::taken(entry.ms, settings_.accuracy, settings_.roundUp, false);
    if (l.time.shown() != entry.text) // the settings changed since the barrier took it
        l.time = LaneTime::fromText(entry.text);
    l.final = true;
    l.laneTime = entry.ms;
    // The places go out in the order the entries are given; a lane marked "Aus" or given a place
    // text meanwhile takes none.
    ++desk_.finishListTag;
    int place = 1;
    for (int j = 1; j <= lanes(); ++j)
        if (j != lane && isPlaceNumber(this->lane(j).place))
            ++place;
    l.place = QString::number(place);
    std::erase(desk_.placingOrder, lane);
    desk_.placingOrder.push_back(lane);
    desk_.finishList.erase(desk_.finishList.begin() + index);
    if (desk_.finishList.empty())
        desk_.finishListTag = 0;
    emit laneChanged(lane);
    emit raceChanged();
}

void Meeting::removeFinishEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(desk_.finishList.size()))
        return;
    desk_.finishList.erase(desk_.finishList.begin() + index);
    emit raceChanged();
}

void Meeting::clearFinishList()
{
    desk_.finishList.clear();
    desk_.finishListTag = 0;
    emit raceChanged();
}

// ---- the record ----

void Meeting::enterHeat()
{
    record_.at(0).lane = desk_.title;
    if (desk_.dateOn)
        record_.at(1).lane = QLocale().toString(desk_.date, ShortDateFormat(QLocale()));

    const int h = currentHeat();
    const int lanes = this->lanes();
    const int header = Record::headerRow(h, lanes);
    if (record_.rowCount() < h * (lanes + 1) + 2)
        record_.setRowCount(h * (lanes + 1) + 2);

    LaneRecord &head = record_.at(header);
    head.lane = QString::number(h);
    head.number = desk_.kind; // the heat's kind, for the results lists
    head.name = desk_.discipline;
    head.spare = desk_.className;
    if (desk_.windValue != 0.0)
        head.note = desk_.wind + QLatin1Char(' ') + desk_.windUnit;
    head.time = LaneTime::fromText(desk_.startTimeOfDay);

    for (int i = 1; i <= lanes; ++i) {
        const DeskLane &l = lane(i);
        LaneRecord &r = record_.at(header + i);
        r.lane = QString::number(i) + QLatin1Char('.');
        r.number = l.number;
        r.name = l.name;
        r.note = l.note;
        r.time = l.time;
        r.place = l.place;
    }
    if (desk_.signalGaps.empty())
        record_.raceLogs.remove(h);
    else
        record_.raceLogs.insert(h, raceLog());
    if (!record_.entered.contains(h))
        record_.entered.append(h);
    record_.lastEntered = h;
    emit heatEntered(h);
}

namespace {

// Blanks and control characters off both ends, as the name field shows a name.
QString trimName(const QString &text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

void Meeting::loadHeat()
{
    desk_.heatLoadPending = false;
    const HeatRecord heat = record_.heat(currentHeat());
    for (int i = 1; i <= lanes(); ++i) {
        const LaneRecord &r = heat.lanes[static_cast<std::size_t>(i - 1)];
        DeskLane &l = laneToWrite(i);
        l.number = r.number;
        l.name = trimName(r.name);
        l.note = r.note;
        l.on = true;
        l.place = r.place;
        l.time = r.time;
        // A time the desk took keeps its thousandths; a text reads as what it says.
        l.laneTime = r.time.kind == LaneTime::Kind::Taken || r.time.kind == LaneTime::Kind::Text ? r.time.ms : 0;
    }
    // A heat entered again keeps the start time it was run at, not that of the race run last.
    desk_.startTimeOfDay = heat.startTime();
    // Lanes with equal times keep the order of the places they were entered with.
    std::vector<int> &order = desk_.placingOrder;
    order.clear();
    for (int i = 1; i <= lanes(); ++i)
        if (isPlaceNumber(lane(i).place))
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return lane(a).place.toInt() < lane(b).place.toInt(); });
    for (int i = 1; i <= lanes(); ++i)
        emit laneChanged(i);
    emit raceChanged();
}

void Meeting::beginStartList(const QMap<int, meeting::HeatOrigin> &origins)
{
    // A start list begins a meeting: no heat of it has been entered yet, and what it left of the
    // table before it keeps no time of the desk's: those are times of another meeting.
    for (int r = 0; r < record_.rowCount(); ++r) {
        LaneRecord &row = record_.at(r);
        if (row.time.kind == LaneTime::Kind::Taken)
            row.time = LaneTime::fromText(row.time.shown());
    }
    record_.entered.clear();
    record_.lastEntered = 0;
    record_.origins = origins;
    record_.raceLogs.clear();
    emit recordChanged();
}

void Meeting::restore(const Record &record)
{
    record_ = record;
    settings_.lanes = record.lanes();
    emit settingsChanged();
    emit recordChanged();
}

} // namespace meeting
