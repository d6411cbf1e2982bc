// The results lists drawn into A4 PDFs and read back with pdftotext: the texts and their order,
// long names cut before the time, a meeting of 100 heats with headers and footers on every page,
// whole heats on each page and rankings across pages. The fonts are pinned to the files of
// fonts-liberation (see tests/CMakeLists.txt), so the text comes out the same whatever else the
// machine has.

#include "PdfText.h"
#include "ResultsSheet.h"
#include "Version.h"

#include <QProcess>

#include <gtest/gtest.h>

using results::ResultsDocument;

namespace {

const QDateTime kPrinted(QDate(2027, 5, 14), QTime(15, 30));

using Row = std::vector<QString>;

// A heat of a meeting: lanes given as (number, name, note, time, place).
results::HeatResult heat(int number, const QString &kind, const QString &discipline, const QString &klass,
                         const QString &wind, const std::vector<std::array<QString, 5>> &lanes)
{
    std::vector<Row> rows;
    int i = 0;
    for (const auto &[nr, name, note, time, place] : lanes) {
        ++i;
        rows.push_back({QString::number(i) + QLatin1Char('.'), nr, name, {}, note, time, place});
    }
    return results::readHeat(number, {QString::number(number), kind, discipline, klass, wind, {}, {}}, rows);
}

ResultsDocument meetingOf(std::vector<results::HeatResult> heats)
{
    ResultsDocument d{QStringLiteral("Kreismeisterschaften Süd"), QStringLiteral("14.05.27"), std::move(heats), {}};
    d.rankings = results::rankingsOf(d.heats);
    return d;
}

// A meeting of n heats of ten lanes, four disciplines taking turns.
ResultsDocument bigMeeting(int n)
{
    static const char *const disciplines[] = {"100 m", "200 m", "60 m Hürden", "400 m"};
    std::vector<results::HeatResult> heats;
    for (int h = 1; h <= n; ++h) {
        std::vector<std::array<QString, 5>> lanes;
        for (int i = 1; i <= 10; ++i)
            lanes.push_back({QString::number(h * 100 + i), QStringLiteral("Läufer %1-%2").arg(h).arg(i),
                             QStringLiteral("LG Weißenfels"),
                             QStringLiteral("%1,%2 ").arg(10 + i).arg(h % 100, 2, 10, QLatin1Char('0')),
                             QString::number(i)});
        heats.push_back(heat(h, "Vorlauf", QString::fromUtf8(disciplines[h % 4]), "Männer", {}, lanes));
    }
    return meetingOf(std::move(heats));
}

QByteArray pdfOf(const ResultsDocument &d)
{
    return results::resultsPdf(d, kPrinted);
}

// The lines of a page that are not empty, without blanks at their ends.
QStringList lines(const QString &page)
{
    QStringList out;
    for (const QString &line : page.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            out << line.trimmed();
    return out;
}

// Where the first line matching a pattern stands, -1 if none does.
qsizetype find(const QStringList &lines, const QString &pattern)
{
    const QRegularExpression re(pattern);
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (re.match(lines[i]).hasMatch())
            return i;
    return -1;
}

} // namespace

TEST(ResultsSheet, TheMeetingsTextsInTheirOrderWithHeaderAndFooter)
{
    const ResultsDocument d = meetingOf({
        heat(1, "Vorlauf", "100 m", "Männer", "0,5 m/s",
             {{{"104", "Jürgen Weißmüller", "LG Nord", "10,87 ", "2"}},
              {{"", "", "", "", ""}},
              {{"7", "Zoë Ørsted", "TSV Åhus", "10,51 ", "1"}},
              {{"12", "Ödön Çelik", "", "", "Aus"}},
              {{"33", "Luis Núñez", "SC Köln", "10,87 ", "3"}}}),
        heat(2, "Vorlauf", "100 m", "Männer", "-1,2 m/s",
             {{{"201", "Björn Krüger", "", "10,87 ", "1"}}, {{"202", "Paul Groß", "", "", "disq."}}}),
    });
    const QByteArray bytes = pdfOf(d);
    ASSERT_TRUE(bytes.startsWith("%PDF"));
    const QStringList pages = pdf::pages(bytes);
    ASSERT_EQ(pages.size(), 1);
    const QStringList l = lines(pages[0]);

    EXPECT_EQ(find(l, QStringLiteral("^Kreismeisterschaften Süd\\s+14\\.05\\.27$")), 0) << pages[0].toStdString();
    const qsizetype heat1 = find(l, QStringLiteral("^Vorlauf 1 · 100 m · Männer · Wind \\+0,5 m/s$"));
    ASSERT_EQ(heat1, 1) << pages[0].toStdString();
    EXPECT_EQ(find(l, QStringLiteral("^Platz\\s+Bahn\\s+Nr\\.\\s+Name\\s+Bemerkung\\s+Zeit$")), heat1 + 1);
    // Sorted by place; the lane without a place follows with its text; the empty lane is left out.
    const QStringList heat1Rows{QStringLiteral("^1\\s+3\\s+7\\s+Zoë Ørsted\\s+TSV Åhus\\s+10,51$"),
                                QStringLiteral("^2\\s+1\\s+104\\s+Jürgen Weißmüller\\s+LG Nord\\s+10,87$"),
                                QStringLiteral("^3\\s+5\\s+33\\s+Luis Núñez\\s+SC Köln\\s+10,87$"),
                                QStringLiteral("^Aus\\s+4\\s+12\\s+Ödön Çelik$")};
    for (int i = 0; i < heat1Rows.size(); ++i)
        EXPECT_EQ(find(l, heat1Rows[i]), heat1 + 2 + i) << heat1Rows[i].toStdString() << "\n" << pages[0].toStdString();
    const qsizetype heat2 = find(l, QStringLiteral("^Vorlauf 2 · 100 m · Männer · Wind -1,2 m/s$"));
    EXPECT_EQ(heat2, heat1 + 6);
    EXPECT_EQ(find(l, QStringLiteral("^disq\\.\\s+2\\s+202\\s+Paul Groß$")), heat2 + 3);

    // The ranking after the heats: the equal times share place 2, the heat each ran in, texts last.
    const qsizetype ranking = find(l, QStringLiteral("^Gesamtwertung · Vorlauf · 100 m · Männer$"));
    ASSERT_EQ(ranking, heat2 + 4) << pages[0].toStdString();
    EXPECT_EQ(find(l, QStringLiteral("^Platz\\s+Lauf\\s+Bahn\\s+Nr\\.\\s+Name\\s+Bemerkung\\s+Zeit$")), ranking + 1);
    const QStringList rankingRows{QStringLiteral("^1\\s+1\\s+3\\s+7\\s+Zoë Ørsted\\s+TSV Åhus\\s+10,51$"),
                                  QStringLiteral("^2\\s+1\\s+1\\s+104\\s+Jürgen Weißmüller\\s+LG Nord\\s+10,87$"),
                                  QStringLiteral("^2\\s+1\\s+5\\s+33\\s+Luis Núñez\\s+SC Köln\\s+10,87$"),
                                  QStringLiteral("^2\\s+2\\s+1\\s+201\\s+Björn Krüger\\s+10,87$"),
                                  QStringLiteral("^Aus\\s+1\\s+4\\s+12\\s+Ödön Çelik$"),
                                  QStringLiteral("^disq\\.\\s+2\\s+2\\s+202\\s+Paul Groß$")};
    for (int i = 0; i < rankingRows.size(); ++i)
        EXPECT_EQ(find(l, rankingRows[i]), ranking + 2 + i) << rankingRows[i].toStdString();

    EXPECT_EQ(find(l, QStringLiteral("^Gedruckt am 14\\.05\\.2027 um 15:30\\s+Seite 1 von 1\\s+Zielkron %1$")
                          .arg(QRegularExpression::escape(QString::fromLatin1(build::Version)))),
              l.size() - 1);

    // The fonts the lists are drawn with are embedded: Liberation Sans, its bold for the headings.
    QProcess fonts;
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(bytes);
    file.flush();
    fonts.start(QStringLiteral("pdffonts"), {file.fileName()});
    ASSERT_TRUE(fonts.waitForFinished(30000));
    const QString list = QString::fromUtf8(fonts.readAllStandardOutput());
    EXPECT_TRUE(list.contains(QRegularExpression(QStringLiteral("LiberationSans\\s")))
                && list.contains(QStringLiteral("LiberationSans-Bold")))
        << list.toStdString();
}

TEST(ResultsSheet, LongNamesAreCutBeforeTheNextColumnAndTimesAlignDigitForDigit)
{
    const QString longName = QStringLiteral("Maximilian-Alexander Freiherr von Hohenzollern-Sigmaringen-Weißenfels");
    const QString longClub = QStringLiteral("Leichtathletikgemeinschaft Rhein-Neckar-Odenwald-Kraichgau");
    const ResultsDocument d = meetingOf({heat(1, "Endlauf", "100 m", "U18", {},
                                            {{{"1", longName, longClub, "10,23 ", "1"}},
                                             {{"2", QStringLiteral("Li"), {}, "11,07 ", "2"}},
                                             {{"3", QStringLiteral("Ida"), {}, "1:01,10 ", "3"}}})});
    const QByteArray bytes = pdfOf(d);
    const QStringList l = lines(pdf::pages(bytes).value(0));
    EXPECT_GE(find(l, QStringLiteral("^1\\s+1\\s+1\\s+Maximilian-Alexander .*…\\s+Leichtathletikgemein.*…\\s+10,23$")),
              0)
        << l.join(QLatin1Char('\n')).toStdString();

    const std::vector<pdf::Word> words = pdf::words(bytes);
    const auto word = [&words](const QString &text) {
        const auto it = std::find_if(words.begin(), words.end(), [&](const pdf::Word &w) { return w.text == text; });
        EXPECT_NE(it, words.end()) << text.toStdString();
        return it != words.end() ? *it : pdf::Word{};
    };
    const auto cutWordOnLine = [&words](double y, double from) {
        pdf::Word last{};
        for (const pdf::Word &w : words)
            if (std::abs(w.yMin - y) < 1 && w.xMin > from && w.text.endsWith(QChar(0x2026)))
                return w;
        return last;
    };
    const pdf::Word time = word(QStringLiteral("10,23"));
    const pdf::Word name = cutWordOnLine(time.yMin, 0);
    const pdf::Word club = cutWordOnLine(time.yMin, name.xMax);
    const pdf::Word noteHeading = word(QStringLiteral("Bemerkung"));
    const pdf::Word timeHeading = word(QStringLiteral("Zeit"));
    ASSERT_FALSE(name.text.isEmpty());
    ASSERT_FALSE(club.text.isEmpty());
    // The cut name ends before the note's column, the cut note before the time's column.
    EXPECT_LT(name.xMax, noteHeading.xMin);
    EXPECT_LT(club.xMax + 3, time.xMin);
    EXPECT_LT(club.xMax, timeHeading.xMin);

    // Times right-aligned, and of the same width when they have as many characters: tabular figures.
    const pdf::Word second = word(QStringLiteral("11,07"));
    const pdf::Word minutes = word(QStringLiteral("1:01,10"));
    EXPECT_NEAR(time.xMax, second.xMax, 0.05);
    EXPECT_NEAR(time.xMax, minutes.xMax, 0.05);
    EXPECT_NEAR(time.xMax - time.xMin, second.xMax - second.xMin, 0.05);
}

TEST(ResultsSheet, AMeetingOfOneHundredHeatsOnWholePagesWithRankingsAcrossPages)
{
    const ResultsDocument d = bigMeeting(100);
    ASSERT_EQ(d.rankings.size(), 4u);
    const QStringList pages = pdf::pages(pdfOf(d));
    // Three heats of ten lanes to a page, then four rankings of 250 each at 37 rows a page.
    EXPECT_GE(pages.size(), 34 + 4 * 6);
    EXPECT_LE(pages.size(), 34 + 4 * 8 + 4);

    std::vector<int> headings(101, 0);
    int continued = 0;
    std::vector<int> inRankings(101 * 11, 0);
    for (int p = 0; p < pages.size(); ++p) {
        const QStringList l = lines(pages[p]);
        EXPECT_EQ(find(l, QStringLiteral("^Kreismeisterschaften Süd\\s+14\\.05\\.27$")), 0) << p;
        EXPECT_EQ(find(l, QStringLiteral("Seite %1 von %2").arg(p + 1).arg(pages.size())), l.size() - 1) << p;
        // Whole heats on each page.
        for (int h = 1; h <= 100; ++h) {
            if (find(l, QStringLiteral("^Vorlauf %1 ·").arg(h)) < 0)
                continue;
            ++headings[static_cast<std::size_t>(h)];
            for (int i = 1; i <= 10; ++i)
                EXPECT_GE(find(l, QStringLiteral("Läufer %1-%2\\s").arg(h).arg(i)), 0) << "heat " << h << " split";
        }
        if (find(l, QStringLiteral("^Gesamtwertung ")) < 0)
            continue;
        // A ranking's page: every part under its heading and the column heads.
        EXPECT_GE(find(l, QStringLiteral("^Platz\\s+Lauf\\s+Bahn")), 0) << p;
        if (find(l, QStringLiteral("\\(Fortsetzung\\)$")) == 1)
            ++continued;
        static const QRegularExpression row(QStringLiteral("^\\d+\\s+(\\d+)\\s+(\\d+)\\s+\\d+\\s+Läufer"));
        for (const QString &line : l)
            if (const QRegularExpressionMatch m = row.match(line); m.hasMatch())
                ++inRankings[static_cast<std::size_t>(m.captured(1).toInt() * 11 + m.captured(2).toInt())];
    }
    for (int h = 1; h <= 100; ++h)
        EXPECT_EQ(headings[static_cast<std::size_t>(h)], 1) << "heat " << h;
    // Every athlete once in the rankings.
    for (int h = 1; h <= 100; ++h)
        for (int i = 1; i <= 10; ++i)
            EXPECT_EQ(inRankings[static_cast<std::size_t>(h * 11 + i)], 1) << h << "-" << i;
    EXPECT_GE(continued, 4 * 5);
}


TEST(ResultsSheet, ALongTextInATimeCellNeverHidesTheNames)
{
    // A note typed into the time column of one heat: every heat and the ranking still show their names.
    const QString note = QStringLiteral("Zeit von Hand nachgetragen, Lichtschranke ausgefallen, siehe Protokoll");
    ResultsDocument d = meetingOf({heat(1, "Vorlauf", "100 m", "Männer", {},
                                      {{"11", "Annegret Kramp", "LG Nord", note, "1"}, {"12", "Berta Zeller", "", "11,02 ", "2"}}),
                                 heat(2, "Vorlauf", "100 m", "Männer", {}, {{"21", "Cordula Weiß", "TSV", "10,87 ", "1"}})});
    const QString text = pdf::pages(pdfOf(d)).join(QLatin1Char('\n'));
    for (const char *name : {"Annegret Kramp", "Berta Zeller", "Cordula Weiß"})
        EXPECT_EQ(text.count(QString::fromUtf8(name)), 2) << name; // in its heat and in the ranking
    EXPECT_TRUE(text.contains(QStringLiteral("Zeit von Hand"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("siehe Protokoll")));
}

TEST(ResultsSheet, TheNotesOfARaceStandUnderItsHeatAndAFlurryOfThemIsCounted)
{
    results::HeatResult first = heat(1, "Vorlauf", "100 m", "Männer", {},
                                     {{{"7", "Zoë Ørsted", "", "10,51 ", "1"}}, {{"8", "Ida Sommer", "", "10,87 ", "2"}}});
    first.notes = {QStringLiteral("Signal COM2 unterbrochen 12:03:44,120\u201312:03:51,870")};
    results::HeatResult second = heat(2, "Vorlauf", "100 m", "Männer", {}, {{{"9", "Li Wang", "", "11,02 ", "1"}}});
    for (int i = 0; i < 15; ++i)
        second.notes << QStringLiteral("Signal COM3 unterbrochen 12:1%1:00,000\u201312:1%1:01,000").arg(i % 10);
    const QStringList pages = pdf::pages(pdfOf(meetingOf({first, second})));
    ASSERT_EQ(pages.size(), 1);
    const QStringList l = lines(pages[0]);
    const qsizetype heat1 = find(l, QStringLiteral("^Vorlauf 1 · 100 m · Männer$"));
    ASSERT_GE(heat1, 0) << pages[0].toStdString();
    EXPECT_EQ(find(l, QStringLiteral("^Signal COM2 unterbrochen 12:03:44,120–12:03:51,870$")), heat1 + 4);
    const qsizetype heat2 = find(l, QStringLiteral("^Vorlauf 2 · 100 m · Männer$"));
    EXPECT_EQ(heat2, heat1 + 5);
    EXPECT_EQ(find(l, QStringLiteral("^Signal COM3 unterbrochen")), heat2 + 3);
    EXPECT_EQ(find(l, QStringLiteral("^… und 4 weitere$")), heat2 + 3 + 11) << pages[0].toStdString();
}
