#include "TimeText.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString raceTimeText(std::int32_t t, int accuracy, const QString &decimalPoint)
{
    QString fraction;
    if (accuracy == 1) {
        fraction = QString::number((t / 100) % 10);
    } else if (accuracy >= 3) {
        fraction = QString::number(t % 1000).rightJustified(3, QLatin1Char('0'));
    } else if (accuracy > 0) {
        fraction = QString::number((t / 10) % 100);
        if (fraction.size() == 1)
            fraction.prepend(QLatin1Char('0'));
    }
    QString seconds = QString::number((t / 1000) % 60);
    if (seconds.size() == 1)
        seconds.prepend(QLatin1Char('0'));
    const QString body = accuracy == 0 ? seconds : seconds + decimalPoint + fraction;
    // The minutes in full: a time of ten minutes or more never wraps to a single digit.
    QString text = QString::number(t / 60000) + QLatin1Char(':') + body;

    qsizetype cut = 3;
    for (qsizetype i = 0; i < text.size() && i < 3; ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) {
            cut = i;
            break;
        }
    }
    return text.mid(cut);
}

} // namespace

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

QString ShortDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    static const QRegularExpression years(QStringLiteral("y+"));
    return format.replace(years, QStringLiteral("yyyy"));
}
