#include "TextEncoding.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(TextEncoding, ReadsUtf8AndFallsBackToWindows1252)
{
    EXPECT_EQ(decodeText(QByteArray("M\xc3\xbcller")), QString::fromUtf8("Müller"));
    EXPECT_EQ(decodeText(QByteArray("\xef\xbb\xbf" "100 m")), QStringLiteral("100 m")); // byte-order mark dropped
    // "Müller" and the euro sign as the code page writes them: not valid UTF-8.
    EXPECT_EQ(decodeText(QByteArray("M\xfcller \x80")), QString::fromUtf8("Müller €"));
    EXPECT_EQ(decodeText(QByteArray("\x84Gr\xfc\xdf Gott\x93")), QString::fromUtf8("„Grüß Gott“"));
    EXPECT_EQ(decodeText(QByteArray()), QString());
}

TEST(TextEncoding, WritesCodePageWheneverEveryCharacterFits)
{
    EXPECT_EQ(encodeText(QString::fromUtf8("Müller;€")), QByteArray("M\xfcller;\x80"));
    // A name the code page lacks keeps every character: the whole text goes out as UTF-8.
    const QString polish = QString::fromUtf8("Łukasz Müller");
    EXPECT_EQ(encodeText(polish), polish.toUtf8());
    EXPECT_EQ(decodeText(encodeText(polish)), polish);
    // Round trip of every character of the code page.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(encodeWindows1252(decodeWindows1252(all)), all);
}

TEST(TextEncoding, SplitsLinesAtCrLfLfAndCr)
{
    EXPECT_EQ(splitLines(QStringLiteral("a\r\nb\nc\rd")), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines(QStringLiteral("a\n\nb\n")), (QStringList{"a", "", "b"}));
    EXPECT_EQ(splitLines(QStringLiteral("a\r\n\r\n")), (QStringList{"a", ""}));
    EXPECT_TRUE(splitLines(QString()).isEmpty());
}
