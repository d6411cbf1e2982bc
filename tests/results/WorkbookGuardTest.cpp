// The reader process: a reader that crashes, hangs, spins, eats memory or answers nonsense ends in
// the desk's error box while the race and the table run on; the answers it may give are checked;
// and the hostile files of earlier reviews, through the desk's import and export.

#include "WorkbookDesk.h"

#include "FrameLine.h"
#include "Label3D.h"
#include "SpinEdit.h"
#include "WorkbookParts.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A desk whose reader program makes files beginning "ZK-TEST-..." misbehave.
struct Guarded : Books {
    Guarded()
    {
        platform::ReaderProcess &reader = fp.spreadsheet.engine.reader;
        reader.program = QStringLiteral(ZK_READER_WITH_TEST_HOOKS);
        reader.timeoutMs = 1500;
        reader.memoryBytes = std::size_t{256} << 20;
    }
    QString misbehaving(const char *how, const char *suffix = ".xlsx")
    {
        const QString name = QLatin1String(how) + QLatin1String(suffix);
        writeFile(name, QByteArray("ZK-TEST-") + how + QByteArray(1000, '\n'));
        return path(name);
    }
    QByteArray bytes(const QString &file)
    {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
};

bool underAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

} // namespace

TEST(WorkbookGuard, EveryFaultOfTheReaderEndsInAnErrorBox)
{
    // Only a reader that would never end is given the short time: the others end by themselves,
    // however long a busy machine makes them take (filling 256 MB, writing 32 MB through a pipe).
    struct Case {
        const char *how;
        const char *words;
        int timeoutMs = 60000;
    };
    std::vector<Case> cases = {{"CRASH", "abgestürzt"},
                               {"HANG", "länger als 1,5 Sekunden", 1500},
                               {"SPIN", "länger als 1,5 Sekunden", 1500},
                               {"FLOOD", "mehr Daten"},
                               {"GARBAGE", "ungültig"}};
    if (!underAddressSanitizer()) // the sanitizer's shadow memory leaves no room for the limit
        cases.push_back({"EAT", "Arbeitsspeicher"});
    for (const Case &c : cases) {
        Guarded d;
        d.fp.spreadsheet.engine.reader.timeoutMs = c.timeoutMs;
        fillTable(*d.f, 9);
        const QList<QStringList> before = d.rows();
        const QString file = d.misbehaving(c.how);
        d.importList(file);
        ASSERT_EQ(d.errors().size(), 1) << c.how;
        const QString message = d.errors()[0];
        EXPECT_TRUE(message.startsWith(QStringLiteral("Die Datei \"%1\" konnte nicht gelesen werden").arg(file)))
            << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.words))) << message.toStdString();
        EXPECT_EQ(d.rows(), before) << c.how;
        EXPECT_EQ(d.fp.spreadsheet.calls.last(), QStringLiteral("Quit"));
    }
}

TEST(WorkbookGuard, TheRaceRunsOnWhileTheReaderHangs)
{
    Guarded d;
    TFormMain &f = *d.f;
    fillTable(*d.f, 9);
    const QList<QStringList> before = d.rows();
    f.mStart->trigger();
    ASSERT_EQ(f.RunMask(), 0b11u);
    // While the import waits for the hanging reader: lane 1 finishes, a second import is asked for.
    QTimer::singleShot(200, &f, [&] {
        d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10230;
        f.StopEntry(1)->trigger();
    });
    ASSERT_TRUE(QFile::copy(dataFile("start.xlsx"), d.path(QStringLiteral("other.xlsx"))));
    QTimer::singleShot(300, &f, [&] { d.importList(d.path(QStringLiteral("other.xlsx"))); });
    QElapsedTimer clock;
    clock.start();
    d.importList(d.misbehaving("HANG"));
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_EQ(f.RunMask(), 0b10u); // lane 1 stopped during the wait, lane 2 runs on
    EXPECT_EQ(f.Line(1)->LabelTime->text().trimmed(), QStringLiteral("10,23"));
    EXPECT_TRUE(f.Clock->isActive());
    ASSERT_EQ(d.errors().size(), 2);
    EXPECT_TRUE(d.errors()[0].contains(QStringLiteral("gerade eine andere Arbeitsmappe"))) << d.errors()[0].toStdString();
    EXPECT_TRUE(d.errors()[1].contains(QStringLiteral("länger als"))) << d.errors()[1].toStdString();
    EXPECT_EQ(d.rows(), before);
    // The desk reads again once the hanging reader is gone.
    d.importList(dataFile("start.ods"));
    EXPECT_EQ(d.errors().size(), 2);
    EXPECT_EQ(d.table().RowCount(), 12);
}

TEST(WorkbookGuard, AnExportIntoATargetTheReaderFailsOnLeavesItUntouched)
{
    Guarded d;
    fillTable(*d.f, 5);
    const QString target = d.misbehaving("CRASH");
    const QByteArray before = d.bytes(target);
    d.exportTo(target);
    ASSERT_EQ(d.errors().size(), 1);
    EXPECT_TRUE(d.errors()[0].contains(QStringLiteral("abgestürzt"))) << d.errors()[0].toStdString();
    EXPECT_TRUE(d.errors()[0].contains(QStringLiteral("nicht überschrieben"))) << d.errors()[0].toStdString();
    EXPECT_EQ(d.bytes(target), before);

    // Without its reader program the desk says so, and reads nothing in its own process.
    d.fp.spreadsheet.engine.reader.program.clear();
    d.importList(dataFile("start.xlsx"));
    ASSERT_EQ(d.errors().size(), 2);
    EXPECT_TRUE(d.errors()[1].contains(QStringLiteral("zielkron-workbook-reader"))) << d.errors()[1].toStdString();
}

TEST(WorkbookGuard, OnlyAValidAnswerIsTaken)
{
    using namespace platform;
    SheetData sheet;
    sheet.rows.push_back({1, 1, {{1, 1, CellValue::fromText(QString::fromUtf8("Łódź 😀"))}, {3, 5, CellValue::fromNumber(-0.5)}}});
    sheet.rows.push_back({4, 1048573, {{2, 1, CellValue::fromDateTime(0.4375)}, {7, 1, CellValue::fromError(QString())},
                                       {9, 1, CellValue::fromBoolean(true)}}});
    const QByteArray answer = encodeReaderAnswer(WorkbookFormat::Ods, sheet);
    const ReaderAnswer back = decodeReaderAnswer(answer, QStringLiteral("a.ods"));
    EXPECT_EQ(back.format, WorkbookFormat::Ods);
    ASSERT_EQ(back.sheet.rows.size(), 2u);
    EXPECT_EQ(back.sheet.rows[1].repeat, 1048573);
    EXPECT_EQ(cellText(back.sheet.rows[0].cells[0].value), QString::fromUtf8("Łódź 😀"));
    EXPECT_EQ(back.sheet.rows[0].cells[1].repeat, 5);
    EXPECT_EQ(back.sheet.rows[1].cells[1].value.type, CellValue::Type::Error);

    // Every answer cut short, and every answer with one byte changed that says otherwise, is refused.
    auto refused = [](const QByteArray &bytes) {
        try {
            decodeReaderAnswer(bytes, QStringLiteral("a.ods"));
        } catch (const WorkbookError &e) {
            return QString::fromStdString(e.what()).contains(QStringLiteral("ungültig"));
        }
        return false;
    };
    for (qsizetype n = 0; n < answer.size(); ++n)
        EXPECT_TRUE(refused(answer.left(n))) << n;
    EXPECT_TRUE(refused(answer + 'Z'));
    SheetData outside = sheet;
    outside.rows[1].repeat = 1048574; // beyond the last row
    EXPECT_TRUE(refused(encodeReaderAnswer(WorkbookFormat::Ods, outside)));
    SheetData twice = sheet;
    twice.rows[1].row = 1;
    EXPECT_TRUE(refused(encodeReaderAnswer(WorkbookFormat::Ods, twice)));
    SheetData wide = sheet;
    wide.rows[0].cells[1].repeat = 16383; // columns 3 .. 16385
    EXPECT_TRUE(refused(encodeReaderAnswer(WorkbookFormat::Ods, wide)));
    SheetData long_ = sheet;
    long_.rows[0].cells[0].value.text = QString(32768, QLatin1Char('x'));
    EXPECT_TRUE(refused(encodeReaderAnswer(WorkbookFormat::Ods, long_)));
    // An error handed back is the reader's own text.
    try {
        decodeReaderAnswer(encodeReaderError(QStringLiteral("Die Arbeitsmappe ist beschädigt.")), QStringLiteral("a.ods"));
        ADD_FAILURE();
    } catch (const WorkbookError &e) {
        EXPECT_STREQ(e.what(), "Die Arbeitsmappe ist beschädigt.");
    }
}

TEST(WorkbookGuard, HostileFilesThroughTheDesk)
{
    Guarded d;
    fillTable(*d.f, 9);
    const QList<QStringList> before = d.rows();
    // One text of 32,000 characters in 14,000 cells of a 60 KB workbook.
    const QString shared = d.path(QStringLiteral("shared.xlsx"));
    {
        std::string rows;
        for (int r = 1; r <= 14000; ++r)
            rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c></row>";
        platform::SpreadsheetApplication app;
        d.makeWorkbook(shared, {{"x"}});
        platform::ZipReader source(shared, shared);
        std::vector<std::pair<std::string, std::string>> parts;
        for (const std::string &name : source.names())
            parts.emplace_back(name, *source.read(name));
        for (auto &[name, content] : parts)
            if (name == "xl/worksheets/sheet1.xml")
                content = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)" + rows
                          + "</sheetData></worksheet>";
        parts.emplace_back("xl/sharedStrings.xml", "<sst><si><t>" + std::string(32000, 'y') + "</t></si></sst>");
        for (auto &[name, content] : parts)
            if (name == "xl/_rels/workbook.xml.rels")
                content.insert(content.rfind("</Relationships>"),
                               R"(<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)");
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(shared).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const auto &[name, content] : parts)
            zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    d.importList(shared);
    ASSERT_EQ(d.errors().size(), 1);
    EXPECT_TRUE(d.errors()[0].contains(QStringLiteral("4 Millionen Zeichen"))) << d.errors()[0].toStdString();
    EXPECT_EQ(d.rows(), before);

    // A list of five rows beside 2,500 filled cells in column K loads its five rows.
    const QString beside = d.path(QStringLiteral("beside.ods"));
    writeOds(beside, R"(<table:table-row table:number-rows-repeated="5"><table:table-cell office:value-type="string">)"
                     R"(<text:p>Lauf</text:p></table:table-cell><table:table-cell table:number-columns-repeated="9"/>)"
                     R"(<table:table-cell office:value-type="float" office:value="1"/></table:table-row>)"
                     R"(<table:table-row table:number-rows-repeated="2495"><table:table-cell table:number-columns-repeated="10"/>)"
                     R"(<table:table-cell office:value-type="float" office:value="2"/></table:table-row>)");
    d.importList(beside);
    EXPECT_EQ(d.errors().size(), 1);
    EXPECT_EQ(d.table().RowCount(), 5);
    EXPECT_EQ(d.table().Cells(0, 4), QStringLiteral("Lauf"));

    // An export into a target whose first sheet holds a row twice is refused, the file unchanged.
    const QString twice = d.path(QStringLiteral("twice.xlsx"));
    d.makeWorkbook(twice, {{"alt"}});
    {
        platform::ZipReader source(twice, twice);
        std::vector<std::pair<std::string, std::string>> parts;
        for (const std::string &name : source.names()) {
            std::string content = *source.read(name);
            if (name == "xl/worksheets/sheet1.xml") {
                const std::size_t row = content.find("<row");
                const std::size_t end = content.find("</row>") + 6;
                content.insert(end, content.substr(row, end - row));
            }
            parts.emplace_back(name, content);
        }
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(twice).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const auto &[name, content] : parts)
            zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    const QByteArray twiceBefore = d.bytes(twice);
    d.exportTo(twice);
    ASSERT_EQ(d.errors().size(), 2);
    EXPECT_TRUE(d.errors()[1].contains(QStringLiteral("Zeile 1 doppelt"))) << d.errors()[1].toStdString();
    EXPECT_TRUE(d.errors()[1].contains(QStringLiteral("nicht überschrieben"))) << d.errors()[1].toStdString();
    EXPECT_EQ(d.bytes(twice), twiceBefore);
}
