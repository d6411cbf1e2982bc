#pragma once
// Where a heat of the desk came from in a meet-management program's start list (.evt): the
// event, round and heat there, and each lane's last and first name as that list gave them. The
// result file of the heat (.lif) goes back under these numbers and names.

#include <QMap>
#include <QString>

namespace meeting {

struct LaneName {
    QString last;
    QString first;
    bool operator==(const LaneName &) const = default;
};

struct HeatOrigin {
    int event = 0;
    int round = 0;
    int heat = 0;
    bool utf8 = false;         // the list came in UTF-8: its results go back in UTF-8
    QMap<int, LaneName> names; // by lane
    bool operator==(const HeatOrigin &) const = default;
};

} // namespace meeting
