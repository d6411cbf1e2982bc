#include "TimeText.h"

#include <QDate>
#include <QLocale>

#include <limits>

#include <gtest/gtest.h>

TEST(RaceTimeText, TruncatesAndCutsLeadingZeros)
{
    struct Case {
        int t, accuracy;
        const char *text;
    } cases[] = {
        {0, 2, "0,00"},      {9990, 2, "9,99"},  {10230, 2, "10,23"}, {65432, 2, "1:05,43"},
        {600000, 2, "10:00,00"}, {9999, 2, "9,99"},  {61000, 2, "1:01,00"}, {12345, 2, "12,34"},
        {0, 1, "0,0"},       {5234, 1, "5,2"},   {10050, 1, "10,0"},  {9999, 1, "9,9"},
        {12345, 1, "12,3"},  {5234, 0, "5"},     {0, 0, "0"},         {59999, 0, "59"},
        {60000, 0, "1:00"},  {599999, 2, "9:59,99"}, {1, 2, "0,00"},  {100, 2, "0,10"},
        {3599999, 1, "59:59,9"}, {3600000, 0, "60:00"}, {605001, 3, "10:05,001"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RaceTimeText(c.t, c.accuracy), QString::fromLatin1(c.text)) << c.t << " A=" << c.accuracy;
}

TEST(TimeTextToLaneTime, ReadsSecondsAndTheMinutesForm)
{
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("10,23 ")), 10230);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral(" 9,9")), 9900);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("1:05,43 ")), 65430);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("1:00")), 60000);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("-1,5")), -1500);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("1,2e1")), 12000);
    EXPECT_EQ(TimeTextToLaneTime(QStringLiteral("0,0005")), 1); // rounded to the millisecond
    for (const char *notATime : {"", " ", "Aus", "n. a.", "1.234,5", "1:75,00", "1:05,43x", "1e30", "nan"})
        EXPECT_EQ(TimeTextToLaneTime(QString::fromLatin1(notATime)), 0) << notATime;
}

TEST(TimeTextToLaneTime, IsTheInverseOfTheRaceTimeText)
{
    // Every hundredth below ten minutes comes back as it was shown.
    for (int t = 0; t < 600000; t += 10)
        ASSERT_EQ(TimeTextToLaneTime(RaceTimeText(t, 2) + QLatin1Char(' ')), t) << t;
    for (int t = 0; t < 600000; t += 100)
        ASSERT_EQ(TimeTextToLaneTime(RaceTimeText(t, 1)), t) << t;
}

TEST(ShortDateFormat, WritesTheYearWithFourDigitsInTheLocalesOrder)
{
    const QDate date(2026, 12, 8);
    const auto shown = [&date](QLocale::Language language, QLocale::Territory territory) {
        const QLocale locale(language, territory);
        return locale.toString(date, ShortDateFormat(locale));
    };
    EXPECT_EQ(shown(QLocale::German, QLocale::Germany), QStringLiteral("08.12.2026"));
    EXPECT_EQ(shown(QLocale::German, QLocale::Switzerland), QStringLiteral("08.12.2026"));
    EXPECT_EQ(shown(QLocale::English, QLocale::UnitedStates), QStringLiteral("12/8/2026"));
    EXPECT_EQ(shown(QLocale::English, QLocale::UnitedKingdom), QStringLiteral("08/12/2026")); // four digits already
    EXPECT_EQ(shown(QLocale::Bulgarian, QLocale::Bulgaria), QString::fromUtf8("8.12.2026 г."));
}

TEST(LifTimeText, TheShownTimeWithADecimalPointWhateverTheLocale)
{
    EXPECT_EQ(LifTimeText(10239, 2), QStringLiteral("10.23"));
    EXPECT_EQ(LifTimeText(65432, 2), QStringLiteral("1:05.43"));
    EXPECT_EQ(LifTimeText(10299, 1), QStringLiteral("10.2"));
    EXPECT_EQ(LifTimeText(59999, 0), QStringLiteral("59"));
    EXPECT_EQ(LifTimeText(1, 2), QStringLiteral("0.00"));
    EXPECT_EQ(LifTimeText(0, 2), QString()); // not stopped
    EXPECT_EQ(LifTimeText(-1, 2), QString()); // not taking part
    EXPECT_EQ(RaceTimeText(65432, 2), QStringLiteral("1:05,43")); // the desk keeps its comma
}

TEST(TimeTextAccuracy, CountsTheDigitsAfterTheSeparator)
{
    EXPECT_EQ(TimeTextAccuracy(QStringLiteral("10,23 ")), 2);
    EXPECT_EQ(TimeTextAccuracy(QStringLiteral("1:05,4")), 1);
    EXPECT_EQ(TimeTextAccuracy(QStringLiteral("12")), 0);
    EXPECT_EQ(TimeTextAccuracy(QStringLiteral("1:05")), 0);
    EXPECT_EQ(TimeTextAccuracy(QString()), 0);
    for (int accuracy = 0; accuracy <= 2; ++accuracy)
        EXPECT_EQ(TimeTextAccuracy(RaceTimeText(61234, accuracy) + QLatin1Char(' ')), accuracy);
}

TEST(RoundedUpTime, TheNextLongerStepOfTheShownResolution)
{
    // Hundredths: a whole hundredth stays, anything beyond goes up, across the minute too.
    EXPECT_EQ(FinalTimeText(10230, 2, true), QStringLiteral("10,23"));
    EXPECT_EQ(FinalTimeText(10231, 2, true), QStringLiteral("10,24"));
    EXPECT_EQ(FinalTimeText(10239, 2, true), QStringLiteral("10,24"));
    EXPECT_EQ(FinalTimeText(10239, 2, false), QStringLiteral("10,23"));
    EXPECT_EQ(FinalTimeText(59991, 2, true), QStringLiteral("1:00,00"));
    EXPECT_EQ(FinalTimeText(59990, 2, true), QStringLiteral("59,99"));
    // ... and across ten minutes, whose minutes show in full.
    EXPECT_EQ(FinalTimeText(599991, 2, true), QStringLiteral("10:00,00"));
    EXPECT_EQ(FinalTimeText(599991, 2, false), QStringLiteral("9:59,99"));
    // Hand timing: tenths.
    EXPECT_EQ(FinalTimeText(10100, 1, true), QStringLiteral("10,1"));
    EXPECT_EQ(FinalTimeText(10110, 1, true), QStringLiteral("10,2"));
    EXPECT_EQ(FinalTimeText(10101, 1, true), QStringLiteral("10,2"));
    // Whole seconds; a stop in the start's own millisecond; not stopped, not taking part.
    EXPECT_EQ(FinalTimeText(10001, 0, true), QStringLiteral("11"));
    EXPECT_EQ(RoundedUpTime(1, 2), 10);
    EXPECT_EQ(RoundedUpTime(0, 2), 0);
    EXPECT_EQ(RoundedUpTime(-1, 2), -1);
    EXPECT_EQ(RoundedUpTime(std::numeric_limits<std::int32_t>::max(), 2) % 10, 0);
}

TEST(ThousandthsText, TheTimeToTheMillisecond)
{
    EXPECT_EQ(ThousandthsText(10231), QStringLiteral("10,231"));
    EXPECT_EQ(ThousandthsText(65009), QStringLiteral("1:05,009"));
    EXPECT_EQ(ThousandthsText(9), QStringLiteral("0,009"));
}
