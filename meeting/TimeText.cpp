#include "TimeText.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The race time text written into out, which has room for kMaxTimeText characters; its length.
constexpr qsizetype kMaxTimeText = 40;

qsizetype writeRaceTime(char16_t *out, std::int32_t t, int accuracy, QStringView decimalPoint)
{
    t = std::max<std::int32_t>(t, 0);
    char16_t text[kMaxTimeText];
    qsizetype n = 0;
    const auto digits = [&text, &n](std::int32_t value, int width) {
        char16_t reversed[12];
        int k = 0;
        do {
            reversed[k++] = static_cast<char16_t>(u'0' + value % 10);
            value /= 10;
        } while (value > 0 || k < width);
        while (k > 0)
            text[n++] = reversed[--k];
    };
    // The minutes in full: a time of ten minutes or more never wraps to a single digit.
    digits(t / 60000, 1);
    text[n++] = u':';
    digits((t / 1000) % 60, 2);
    if (accuracy > 0) {
        for (const QChar c : decimalPoint.left(8))
            text[n++] = c.unicode();
        if (accuracy == 1)
            digits((t / 100) % 10, 1);
        else if (accuracy >= 3)
            digits(t % 1000, 3);
        else
            digits((t / 10) % 100, 2);
    }
    // Leading zeros and the colon are cut off: "0:09,99" is "9,99", "0:10,23" is "10,23".
    qsizetype cut = 3;
    for (qsizetype i = 0; i < n && i < 3; ++i)
        if (text[i] >= u'1' && text[i] <= u'9') {
            cut = i;
            break;
        }
    std::copy(text + cut, text + n, out);
    return n - cut;
}

QString raceTimeText(std::int32_t t, int accuracy, QStringView decimalPoint)
{
    char16_t text[kMaxTimeText];
    const qsizetype n = writeRaceTime(text, t, accuracy, decimalPoint);
    return QString(reinterpret_cast<const QChar *>(text), n);
}

} // namespace

void RunningTimeText(QString &out, std::int32_t t, int accuracy, QStringView decimalPoint)
{
    char16_t text[kMaxTimeText];
    const qsizetype n = writeRaceTime(text, t, accuracy, decimalPoint);
    // Written in place: a text that nothing else shares and that has the room allocates nothing.
    out.reserve(kMaxTimeText);
    out.resize(n + 1);
    QChar *to = out.data();
    std::copy(text, text + n, reinterpret_cast<char16_t *>(to));
    to[n] = QLatin1Char(' ');
}

QString RaceTimeText(std::int32_t t, int accuracy)
{
    return raceTimeText(t, accuracy, QLocale().decimalPoint());
}

std::int32_t RoundedUpTime(std::int32_t t, int accuracy)
{
    if (t <= 0)
        return t;
    const std::int64_t step = accuracy >= 2 ? 10 : accuracy == 1 ? 100 : 1000;
    const std::int64_t up = (std::int64_t{t} + step - 1) / step * step;
    return static_cast<std::int32_t>(std::min<std::int64_t>(up, std::numeric_limits<std::int32_t>::max() / step * step));
}

QString FinalTimeText(std::int32_t t, int accuracy, bool roundUp)
{
    return RaceTimeText(roundUp ? RoundedUpTime(t, accuracy) : t, accuracy);
}

QString ThousandthsText(std::int32_t t)
{
    return RaceTimeText(t, 3);
}

QString LifTimeText(std::int32_t t, int accuracy)
{
    return t > 0 ? raceTimeText(t, accuracy, QStringLiteral(".")) : QString();
}

int TimeTextAccuracy(const QString &text)
{
    const QString trimmed = text.trimmed();
    qsizetype digits = 0;
    while (digits < trimmed.size() && trimmed[trimmed.size() - 1 - digits].isDigit())
        ++digits;
    if (digits == trimmed.size() || trimmed[trimmed.size() - 1 - digits] == QLatin1Char(':'))
        return 0;
    return static_cast<int>(digits);
}

namespace {

std::int32_t toMilliseconds(double seconds)
{
    const double ms = std::round(seconds * 1000.0);
    if (!std::isfinite(ms) || ms > std::numeric_limits<std::int32_t>::max()
        || ms < std::numeric_limits<std::int32_t>::min())
        return 0;
    return static_cast<std::int32_t>(ms);
}

} // namespace

std::int32_t TimeTextToLaneTime(const QString &text)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    const QString trimmed = text.trimmed();
    bool ok = false;
    const double seconds = locale.toDouble(trimmed, &ok);
    if (ok)
        return toMilliseconds(seconds);

    // The minutes form of the race time text, e.g. "1:05,43".
    static const QRegularExpression minutesForm(QStringLiteral("^(\\d{1,3}):(\\d{2}(?:\\D\\d*)?)$"));
    const QRegularExpressionMatch m = minutesForm.match(trimmed);
    if (!m.hasMatch())
        return 0;
    const double secs = locale.toDouble(m.captured(2), &ok);
    if (!ok || secs < 0 || secs >= 60)
        return 0;
    return toMilliseconds(m.captured(1).toInt() * 60.0 + secs);
}

QString TimeOfDayFormat(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    // Walk the format as Qt reads it: quoted literal text stays as it is; the zone field (a run
    // of 't') is dropped together with brackets left empty around it.
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    static const QRegularExpression emptyBrackets(QStringLiteral("[(\\[]\\s*[)\\]]"));
    out.remove(emptyBrackets);
    return out.simplified();
}

QString TimeOfDayMsText(const QTime &time, const QLocale &locale)
{
    QString format = TimeOfDayFormat(locale);
    // The milliseconds follow the seconds field, as literal separator and "zzz".
    const qsizetype seconds = format.indexOf(QLatin1String("ss"));
    const QString separator = locale.decimalPoint();
    if (seconds >= 0)
        format.insert(seconds + 2, QLatin1Char('\'') + separator + QStringLiteral("'zzz"));
    else
        format += QLatin1Char('\'') + separator + QStringLiteral("'zzz");
    return locale.toString(time, format);
}

QString ShortDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    static const QRegularExpression years(QStringLiteral("y+"));
    return format.replace(years, QStringLiteral("yyyy"));
}
