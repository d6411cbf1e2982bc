#include "ResultsList.h"

#include "TimeText.h"

#include <QStringList>

#include <algorithm>
#include <map>
#include <tuple>

namespace results {

namespace {

const QString kSeparator = QStringLiteral(" · ");

QString text(const std::vector<QString> &row, std::size_t column)
{
    return column < row.size() ? row[column].trimmed() : QString();
}

int placeNumber(const QString &place)
{
    return meeting::isPlaceNumber(place) ? place.toInt() : 0;
}

// Wind readings carry their sign: the field shows "0,5" for a tail wind, the lists "+0,5 m/s".
QString signedWind(const QString &wind)
{
    if (!wind.isEmpty() && wind[0].isDigit())
        return QLatin1Char('+') + wind;
    return wind;
}

} // namespace

QString listTime(const QString &cell)
{
    return cell.trimmed();
}

QString HeatResult::heading() const
{
    QStringList parts{(kind.isEmpty() ? QStringLiteral("Lauf") : kind) + QLatin1Char(' ') + QString::number(heat)};
    if (!discipline.isEmpty())
        parts << discipline;
    if (!className.isEmpty())
        parts << className;
    if (!wind.isEmpty())
        parts << QStringLiteral("Wind ") + wind;
    return parts.join(kSeparator);
}

QString Ranking::heading() const
{
    QStringList parts{QStringLiteral("Gesamtwertung")};
    for (const QString &part : {kind, discipline, className})
        if (!part.isEmpty())
            parts << part;
    return parts.join(kSeparator);
}

namespace {

// Placed lanes first, by place; the others keep their lane order.
void sortByPlace(HeatResult &h)
{
    std::stable_sort(h.lanes.begin(), h.lanes.end(), [](const LaneResult &a, const LaneResult &b) {
        const int pa = placeNumber(a.place), pb = placeNumber(b.place);
        return pa > 0 && (pb == 0 || pa < pb);
    });
}

bool noOneRan(const LaneResult &lane)
{
    return lane.place.isEmpty() && lane.number.isEmpty() && lane.name.isEmpty() && lane.note.isEmpty()
           && lane.time.isEmpty();
}

// The time as shown, in milliseconds: of a time the desk took from its milliseconds, of a text
// from what it says.
std::int32_t shownMs(const meeting::LaneTime &t)
{
    if (t.kind != meeting::LaneTime::Kind::Taken)
        return TimeTextToLaneTime(t.shown());
    if (t.roundUp)
        return RoundedUpTime(t.ms, t.accuracy);
    const std::int32_t step = t.accuracy >= 2 ? 10 : t.accuracy == 1 ? 100 : 1000;
    return t.ms - t.ms % step;
}

} // namespace

HeatResult readHeat(const meeting::HeatRecord &heat)
{
    HeatResult h;
    h.heat = heat.heat;
    h.kind = heat.kind().trimmed();
    h.discipline = heat.discipline().trimmed();
    h.className = heat.className().trimmed();
    h.wind = signedWind(heat.wind().trimmed());
    h.notes = heat.raceLog;
    for (std::size_t i = 0; i < heat.lanes.size(); ++i) {
        const meeting::LaneRecord &r = heat.lanes[i];
        LaneResult lane{static_cast<int>(i) + 1, r.place.trimmed(), r.number.trimmed(), r.name.trimmed(),
                        r.note.trimmed(), listTime(r.time.shown()), r.time.thousandths(), shownMs(r.time)};
        if (noOneRan(lane))
            continue;
        h.lanes.push_back(std::move(lane));
    }
    sortByPlace(h);
    return h;
}

HeatResult readHeat(int heat, const std::vector<QString> &header, const std::vector<std::vector<QString>> &laneRows,
                    const std::vector<std::int32_t> &laneMillis)
{
    HeatResult h;
    h.heat = heat;
    h.kind = text(header, 1);
    h.discipline = text(header, 2);
    h.className = text(header, 3);
    h.wind = signedWind(text(header, 4));
    for (std::size_t i = 0; i < laneRows.size(); ++i) {
        const std::vector<QString> &row = laneRows[i];
        LaneResult lane{static_cast<int>(i) + 1, text(row, 6), text(row, 1), text(row, 2), text(row, 4),
                        listTime(text(row, 5)), i < laneMillis.size() ? laneMillis[i] : 0,
                        TimeTextToLaneTime(text(row, 5))};
        if (noOneRan(lane))
            continue;
        h.lanes.push_back(std::move(lane));
    }
    sortByPlace(h);
    return h;
}

ResultsDocument documentOf(const meeting::Record &record, const QString &title)
{
    ResultsDocument document;
    document.title = (title.isEmpty() ? record.title() : title).trimmed();
    document.date = record.date().trimmed();
    QList<int> heats = record.entered;
    std::sort(heats.begin(), heats.end());
    for (const int heat : heats)
        document.heats.push_back(readHeat(record.heat(heat)));
    document.rankings = rankingsOf(document.heats);
    // Equal shown times may hide different ones: the list says how they were decided.
    markTiesWithThousandths(document);
    return document;
}

std::vector<Ranking> rankingsOf(const std::vector<HeatResult> &heats)
{
    std::vector<const HeatResult *> sorted;
    for (const HeatResult &h : heats)
        sorted.push_back(&h);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const HeatResult *a, const HeatResult *b) { return a->heat < b->heat; });

    // The heats of each kind, discipline and class, in the order of their first heat.
    using Key = std::tuple<QString, QString, QString>;
    std::map<Key, std::size_t> index;
    std::vector<std::pair<Key, std::vector<const HeatResult *>>> groups;
    for (const HeatResult *h : sorted) {
        const Key key{h->kind, h->discipline, h->className};
        const auto [at, added] = index.try_emplace(key, groups.size());
        if (added)
            groups.push_back({key, {}});
        groups[at->second].second.push_back(h);
    }

    std::vector<Ranking> rankings;
    for (const auto &[key, members] : groups) {
        if (members.size() < 2)
            continue;
        Ranking r;
        std::tie(r.kind, r.discipline, r.className) = key;
        struct Timed {
            std::int32_t ms;
            int place;
            RankedLane entry;
        };
        std::vector<Timed> timed;
        std::vector<RankedLane> others;
        for (const HeatResult *h : members) {
            r.heats.push_back(h->heat);
            for (const LaneResult &lane : h->lanes) {
                const int place = placeNumber(lane.place);
                const std::int32_t ms = lane.shownMs;
                if (place > 0 && ms > 0)
                    timed.push_back({ms, place, {QString(), h->heat, lane}});
                else // a place number without a time would read as a place across the heats
                    others.push_back({place > 0 ? QString() : lane.place, h->heat, lane});
            }
        }
        // By the time shown; within one shown time the heat and the place in it order the lanes.
        std::stable_sort(timed.begin(), timed.end(), [](const Timed &a, const Timed &b) {
            return std::tie(a.ms, a.entry.heat, a.place) < std::tie(b.ms, b.entry.heat, b.place);
        });
        // Times are read to the shown resolution; a tie there is decided by the thousandths the desk
        // recorded, and only equal thousandths share a place. Where a lane of the tie has none (a
        // heat of a start list), the tie cannot be decided and all of its lanes share the place.
        for (std::size_t begin = 0; begin < timed.size();) {
            std::size_t end = begin + 1;
            while (end < timed.size() && timed[end].ms == timed[begin].ms)
                ++end;
            const auto first = timed.begin() + static_cast<std::ptrdiff_t>(begin);
            const auto last = timed.begin() + static_cast<std::ptrdiff_t>(end);
            const bool decided = std::all_of(first, last, [](const Timed &t) { return t.entry.lane.millis > 0; });
            if (decided)
                std::stable_sort(first, last,
                                 [](const Timed &a, const Timed &b) { return a.entry.lane.millis < b.entry.lane.millis; });
            for (std::size_t i = begin; i < end; ++i) {
                const bool shared =
                    i > begin && (!decided || timed[i].entry.lane.millis == timed[i - 1].entry.lane.millis);
                timed[i].entry.place = shared ? r.lanes.back().place : QString::number(i + 1);
                r.lanes.push_back(std::move(timed[i].entry));
            }
            begin = end;
        }
        for (RankedLane &other : others)
            r.lanes.push_back(std::move(other));
        if (!r.lanes.empty())
            rankings.push_back(std::move(r));
    }
    return rankings;
}

namespace {

// Marks, among the lanes given (in list order), each run of two or more with the same shown time
// whose milliseconds are all known and not all the same.
void markRuns(const std::vector<LaneResult *> &lanes)
{
    for (std::size_t i = 0; i < lanes.size();) {
        std::size_t end = i + 1;
        while (end < lanes.size() && lanes[end]->time == lanes[i]->time)
            ++end;
        const auto first = lanes.begin() + static_cast<std::ptrdiff_t>(i);
        const auto last = lanes.begin() + static_cast<std::ptrdiff_t>(end);
        const bool known = std::all_of(first, last, [](const LaneResult *l) { return l->millis > 0; });
        const bool differ = std::any_of(first, last, [i, &lanes](const LaneResult *l) { return l->millis != lanes[i]->millis; });
        if (known && differ && !lanes[i]->time.isEmpty())
            for (std::size_t k = i; k < end; ++k)
                lanes[k]->time += QStringLiteral(" (") + ThousandthsText(lanes[k]->millis) + QLatin1Char(')');
        i = end;
    }
}

} // namespace

void markTiesWithThousandths(ResultsDocument &document)
{
    for (HeatResult &heat : document.heats) {
        std::vector<LaneResult *> placed;
        for (LaneResult &lane : heat.lanes)
            if (placeNumber(lane.place) > 0)
                placed.push_back(&lane);
        markRuns(placed);
    }
    for (Ranking &ranking : document.rankings) {
        std::vector<LaneResult *> ranked;
        for (RankedLane &r : ranking.lanes)
            if (placeNumber(r.place) > 0)
                ranked.push_back(&r.lane);
        markRuns(ranked);
    }
}

} // namespace results
