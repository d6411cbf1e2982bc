#pragma once
// The comma-separated files through which meet-management programs and photo-finish systems
// exchange heats and results: the start list of events (.evt), the list of people (.ppl) and one
// result file per heat (.lif).
//
//   .evt  heat line   event,round,heat,event name[,...]
//         lane line   ,id,lane,last name,first name,affiliation[,...]
//   .ppl              id,last name,first name,affiliation[,...]
//   .lif  first line  event,round,heat,event name,wind,wind unit
//         lane lines  place,id,lane,last name,first name,affiliation,time

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace interchange {

// One line split at its commas. A field in double quotes may hold commas, and a doubled quote
// inside stands for one; blanks around a field are dropped. With maxFields, the fields after the
// first maxFields are not read.
QStringList splitLine(QStringView line, qsizetype maxFields = -1);

// The name as the desk shows it: "First Last", or whichever of the two there is.
QString displayName(const QString &first, const QString &last);

struct EvtLane {
    int line = 0; // line number in the file
    QString id;
    int lane = -1; // -1: no lane number
    QString last;
    QString first;
    QString affiliation;
};

struct EvtHeat {
    int line = 0;
    int event = -1; // -1: not a number
    int round = -1;
    int heat = -1;
    QString name;
    QList<EvtLane> lanes;
};

struct EvtFile {
    QList<EvtHeat> heats; // in the order of the file
    QList<int> strayLines; // lane lines before the first heat line
};

// The largest event, round or heat number read (six digits).
inline constexpr int MaxNumber = 999999;

EvtFile parseEvt(const QString &text);

struct Person {
    QString last;
    QString first;
    QString affiliation;
};

// People by id; where an id comes twice, its first line counts.
QHash<QString, Person> parsePpl(const QString &text);

// The place texts of the desk and what the result files call them, one "desk=file" a line
// ("aufg.=DNF"); blank lines and lines without "=" are passed over.
QHash<QString, QString> parsePlaceTexts(const QString &text);
// Where there is no list: "n.a." DNS, "aufg." DNF, "disq." DQ.
QHash<QString, QString> defaultPlaceTexts();

struct LifLane {
    QString place; // as the desk shows it
    QString id;
    int lane = 0;
    QString last;
    QString first;
    QString affiliation;
    std::int32_t time = 0; // the lane time in milliseconds; none when not above 0
    int accuracy = 2;      // of the time as the desk shows it
};

struct LifHeat {
    int event = 0;
    int round = 0;
    int heat = 0;
    QString name;
    QString wind; // with a decimal point; empty when none was measured
    QList<LifLane> lanes;
};

// "EEE-R-HH.lif": event 5, round 1, heat 2 give "005-1-02.lif".
QString lifFileName(int event, int round, int heat);

// The result file, lines ended by CR LF. The time is the desk's, truncated as it shows it, with a
// decimal point; none for a lane marked "Aus". Place texts go through placeTexts. utf8: written in
// UTF-8 (the start list came so); otherwise in Windows-1252 unless a name needs UTF-8.
QByteArray encodeLif(const LifHeat &heat, const QHash<QString, QString> &placeTexts, bool utf8);

} // namespace interchange
