#include "GridSort.h"

#include "TextEncoding.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace gridsort {

namespace {

// The rank of a character: its Windows-1252 byte where it has one, else after all of them.
int rank(QChar c)
{
    const int b = platform::windows1252Byte(c);
    return b >= 0 ? b : 0x100 + c.unicode();
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

std::optional<int> toInteger(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

QStringList timeFormats()
{
    QStringList formats;
    QString longFormat = QLocale().timeFormat(QLocale::LongFormat);
    longFormat.remove(QLatin1Char('t'));
    formats << longFormat.trimmed() << QLocale().timeFormat(QLocale::ShortFormat) << QStringLiteral("H:mm:ss")
            << QStringLiteral("H:mm") << QStringLiteral("H:mm:ss.zzz");
    return formats;
}

std::optional<QDate> toDate(const QString &text)
{
    const QLocale locale;
    for (const QString &format : {locale.dateFormat(QLocale::ShortFormat), locale.dateFormat(QLocale::LongFormat),
                                  QStringLiteral("d.M.yyyy"), QStringLiteral("d.M.yy"), QStringLiteral("yyyy-MM-dd")}) {
        QDate d = locale.toDate(text, format);
        if (d.isValid()) {
            if (!format.contains(QStringLiteral("yyyy")) && d.year() < 1950)
                d = d.addYears(100);
            return d;
        }
    }
    return std::nullopt;
}

} // namespace

int byteCompare(const QString &a, const QString &b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int ra = rank(a[i]), rb = rank(b[i]);
        if (ra != rb)
            return ra < rb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

QString foldCase(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return out;
}

std::optional<double> toFloat(const QString &text)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<double> toTime(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (const QString &format : timeFormats()) {
        const QTime time = QLocale().toTime(t, format);
        if (time.isValid())
            return time.msecsSinceStartOfDay() / 86400000.0;
    }
    return std::nullopt;
}

std::optional<double> toDateTime(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    if (const auto date = toDate(t))
        return static_cast<double>(date->toJulianDay());
    if (const auto time = toTime(t))
        return *time;
    // A date followed by a time.
    const qsizetype blank = t.lastIndexOf(QLatin1Char(' '));
    if (blank > 0) {
        const auto date = toDate(t.left(blank));
        const auto time = toTime(t.mid(blank + 1));
        if (date && time)
            return static_cast<double>(date->toJulianDay()) + *time;
    }
    return std::nullopt;
}

int extendedNumericCompare(const QString &s, const QString &t)
{
    // Empty texts are equal and come before every other text.
    if (s.isEmpty() || t.isEmpty())
        return s.isEmpty() && t.isEmpty() ? 0 : (s.isEmpty() ? -1 : 1);
    const qsizetype n = std::min(s.size(), t.size());
    QString u, v;
    for (qsizetype p = 1; p <= n; ++p) {
        const QChar cs = s[p - 1], ct = t[p - 1];
        if (cs == ct && !isDigit(cs))
            continue;
        if (p < n) {
            u += cs;
            v += ct;
        } else {
            u += s.mid(p - 1);
            v += t.mid(p - 1);
        }
    }
    // Equal non-digits at the ends are no part of the numbers.
    const QString u0 = u, v0 = v;
    const qsizetype m = std::min(u0.size(), v0.size());
    for (qsizetype i = 0; i < m; ++i) {
        const QChar a = u0[u0.size() - 1 - i], b = v0[v0.size() - 1 - i];
        if (a == b && !isDigit(a)) {
            u.chop(1);
            v.chop(1);
        }
    }
    if (u == v)
        return 0;
    const auto iu = toInteger(u), iv = toInteger(v);
    if (iu && iv && *iu != *iv)
        return *iu < *iv ? -1 : 1;
    return byteCompare(u, v); // not numbers, or the same number written differently ("07", "7")
}

int compare(TSortStyle style, const QString &a, const QString &b, const SortCompare &custom)
{
    switch (style) {
    case ssNumeric: {
        const auto x = toFloat(a), y = toFloat(b);
        if (x && y)
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
        return byteCompare(a, b);
    }
    case ssNumericExtended:
        return extendedNumericCompare(a, b);
    case ssDateTime: {
        const auto x = toDateTime(a), y = toDateTime(b);
        if (x && y)
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
        return byteCompare(a, b);
    }
    case ssTime: {
        const auto x = toTime(a), y = toTime(b);
        if (x && y)
            return *x < *y ? -1 : (*x > *y ? 1 : 0);
        return byteCompare(a, b);
    }
    case ssCustom:
        return custom ? custom(a, b) : byteCompare(a, b);
    case ssAutomatic:
    case ssNormal:
        break;
    }
    return byteCompare(a, b);
}

TSortStyle detectStyle(const std::vector<QString> &texts)
{
    bool numeric = true, dateTime = true, time = true;
    for (const QString &t : texts) {
        numeric = numeric && toFloat(t).has_value();
        dateTime = dateTime && toDateTime(t).has_value();
        time = time && toTime(t).has_value();
        if (!numeric && !dateTime && !time)
            break;
    }
    return numeric ? ssNumeric : dateTime ? ssDateTime : time ? ssTime : ssNormal;
}

QStringList splitCommaText(const QString &text)
{
    QStringList out;
    QString current;
    bool quoted = false, any = false;
    for (const QChar c : text) {
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
            else
                current += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c == QLatin1Char(',') || c == QLatin1Char(' ')) {
            if (any || !current.isEmpty())
                out << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any || !current.isEmpty())
        out << current;
    return out;
}

} // namespace gridsort
