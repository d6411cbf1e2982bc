#pragma once
// The text form of a race time and its inverse.

#include <QString>
#include <QStringView>
#include <cstdint>

// Race time text of t milliseconds (not below 0) for accuracy 0 (whole seconds), 1 (tenths), 2
// (hundredths) or 3: the minutes, ":", two-digit seconds, the decimal separator of the default locale
// and the fraction, truncated, never rounded; leading zeros and the colon are cut off. 65 432 ms with
// accuracy 2 gives "1:05,43", 9 999 gives "9,99", 600 000 gives "10:00,00".
QString RaceTimeText(std::int32_t t, int accuracy);

// The running clock's text of t: RaceTimeText(t, accuracy) with the given decimal separator and a
// blank after it, as a time label shows it, written into out; out allocates nothing when it is
// shared by nothing else and was written before.
void RunningTimeText(QString &out, std::int32_t t, int accuracy, QStringView decimalPoint);

// A final time rounded up to the shown resolution, as the competition rules ask of results:
// hundredths (accuracy 2) 10 231 ms give 10 240 and 10 230 stays; tenths 10 110 give 10 200; whole
// seconds 10 001 give 11 000. A time of 0 or below stays as it is.
std::int32_t RoundedUpTime(std::int32_t t, int accuracy);

// The text of a lane's final time: truncated as the running clock shows it, or with roundUp rounded
// up to the shown resolution (RoundedUpTime).
QString FinalTimeText(std::int32_t t, int accuracy, bool roundUp);

// A time to the millisecond, written as the race time text with three fraction digits: "10,231",
// "1:05,431"; for the thousandths of tied times in a results list.
QString ThousandthsText(std::int32_t t);

// The time of a lane in a result file for meet-management programs (.lif): the race time text of
// t with a decimal point, whatever the locale ("1:05.43", "9.99"); empty when t is not above 0.
QString LifTimeText(std::int32_t t, int accuracy);

// The accuracy a time text is shown with: the number of digits after its decimal separator
// ("10,23" 2, "1:05,4" 1, "12" 0).
int TimeTextAccuracy(const QString &text);

// The lane time of a time text: a decimal number of seconds (blanks around it, a sign and an
// exponent accepted) or the minutes form "m:ss,ff" that RaceTimeText writes, times 1000 rounded
// to the millisecond. Anything else, the empty text included, gives 0.
std::int32_t TimeTextToLaneTime(const QString &text);

class QLocale;
class QTime;

// The time-of-day format of the locale's long time format without its time zone: hours,
// minutes and seconds as the locale writes them ("HH:mm:ss" in German, "h:mm:ss AP" in US
// English, "H:mm:ss" in Spanish, whose long format puts the zone in brackets).
QString TimeOfDayFormat(const QLocale &locale);

// A time of day to the millisecond as the locale writes it: "12:03:44,120" in German, the
// milliseconds after the seconds with the locale's decimal separator.
QString TimeOfDayMsText(const QTime &time, const QLocale &locale);

// The locale's short date format with a four-digit year, as the results table and the workbook
// export write a date ("dd.MM.yyyy" in German, "M/d/yyyy" in US English).
QString ShortDateFormat(const QLocale &locale);
