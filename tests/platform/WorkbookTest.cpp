// The workbook engine on its own: cell texts, the office-suite workbooks of tests/data, writing
// into new and existing .xlsx files, and hostile files.

#include "Workbook.h"
#include "WorkbookParts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>

#include <map>

using namespace platform;

namespace {

QString dataFile(const char *name) { return QStringLiteral(ZK_TEST_DATA "/") + QLatin1String(name); }

// Columns A..G of the first sheet as the desk reads them, up to the first empty column A.
QList<QStringList> readList(const QString &file)
{
    SpreadsheetApplication app;
    Worksheet &sheet = app.workbooks().open(file).worksheet(1);
    const int count = sheet.rowCount();
    const CellBlock block = sheet.rangeValue({1, 1}, {count, 7});
    QList<QStringList> rows;
    for (int r = 1; r <= count && !cellText(block.at(r, 1)).isEmpty(); ++r) {
        QStringList row;
        for (int c = 1; c <= 7; ++c)
            row << cellText(block.at(r, c));
        rows << row;
    }
    app.quit();
    return rows;
}

// A zip of the given parts; level 9 packs runs of equal bytes about 1000:1, level 0 stores them.
void writeZip(const QString &path, const std::vector<std::pair<std::string, std::string>> &parts, int level = 9)
{
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    for (const auto &[name, content] : parts) {
        zip_source_t *src = zip_source_buffer(z, content.data(), content.size(), 0);
        const zip_int64_t i = zip_file_add(z, name.c_str(), src, 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(i), level > 0 ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 static_cast<zip_uint32_t>(level));
    }
    ASSERT_EQ(zip_close(z), 0);
}

std::map<std::string, std::string> zipParts(const QString &path)
{
    std::map<std::string, std::string> out;
    ZipReader reader(path, path);
    for (const std::string &name : reader.names())
        out[name] = reader.read(name).value_or("");
    return out;
}

const std::string ContentTypes =
    R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
    R"(<Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/></Types>)";
const std::string RootRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" )"
    R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const std::string WorkbookPart =
    R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<sheets><sheet name="Liste" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const std::string WorkbookRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/></Relationships>)";

// A hand-made .xlsx whose first sheet is the given sheetData content.
void writeXlsx(const QString &path, const std::string &sheetData, const std::string &prolog = {})
{
    writeZip(path, {{"[Content_Types].xml", ContentTypes},
                    {"_rels/.rels", RootRels},
                    {"xl/workbook.xml", WorkbookPart},
                    {"xl/_rels/workbook.xml.rels", WorkbookRels},
                    {"xl/calcChain.xml", R"(<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><c r="C1" i="1"/></calcChain>)"},
                    {"xl/worksheets/sheet1.xml",
                     prolog + R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
                         + R"(<dimension ref="A1:G1048576"/><sheetData>)" + sheetData + "</sheetData></worksheet>"}});
}

std::string openError(const QString &file)
{
    try {
        SpreadsheetApplication app;
        Worksheet &sheet = app.workbooks().open(file).worksheet(1);
        sheet.rangeValue({1, 1}, {sheet.rowCount(), 7});
    } catch (const WorkbookError &e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(WorkbookCells, TextUnderTheRegionalSettings)
{
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(cellText(CellValue::fromNumber(12.5), de), QStringLiteral("12,5"));
    EXPECT_EQ(cellText(CellValue::fromNumber(7), de), QStringLiteral("7"));
    EXPECT_EQ(cellText(CellValue::fromNumber(-4.25), de), QStringLiteral("-4,25"));
    EXPECT_EQ(cellText(CellValue::fromNumber(20270514), de), QStringLiteral("20270514")); // no group separators, no exponent
    EXPECT_EQ(cellText(CellValue::fromNumber(0.1 + 0.2), de), QStringLiteral("0,30000000000000004"));
    EXPECT_EQ(de.toDouble(cellText(CellValue::fromNumber(1e-7), de)), 1e-7);
    EXPECT_EQ(cellText(CellValue::fromNumber(12.5), QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("12.5"));
    EXPECT_EQ(cellText(CellValue::fromDateTime(dateTimeSerial(2027, 5, 14)), de), QStringLiteral("14.05.2027"));
    EXPECT_EQ(cellText(CellValue::fromDateTime(dateTimeSerial(2027, 5, 14, 10, 30)), de), QStringLiteral("14.05.2027 10:30:00"));
    EXPECT_EQ(cellText(CellValue::fromDateTime(dateTimeSerial(1899, 12, 30, 23, 59, 59.9996)), de), QStringLiteral("31.12.1899"));
    EXPECT_EQ(cellText(CellValue::fromDateTime(0.5), de), QStringLiteral("12:00:00"));
    EXPECT_EQ(cellText(CellValue::fromBoolean(true), de), QStringLiteral("True"));
    EXPECT_EQ(cellText(CellValue(), de), QString());
}

TEST(WorkbookCells, DateFormatsAndReferences)
{
    for (const char *date : {"MMMM D, YYYY", "yyyy/mm/dd hh:mm", "[$-407]DD.MM.YYYY", "[h]:mm", "mm:ss", "d\\.m"})
        EXPECT_TRUE(isDateFormatCode(date)) << date;
    for (const char *other : {"General", "0.00", "[Red]0.00", "\"day\" 0", "0.00E+00", "#,##0 \\m", "0;[Red]-0 d"})
        EXPECT_FALSE(isDateFormatCode(other)) << other;
    EXPECT_TRUE(isBuiltInDateFormat(14));
    EXPECT_FALSE(isBuiltInDateFormat(2));
    EXPECT_EQ(parseCellReference("AB12"), (std::pair{28, 12}));
    EXPECT_EQ(parseCellReference("XFD1048576"), (std::pair{16384, 1048576}));
    EXPECT_EQ(parseCellReference("A1x").first, 0);
    EXPECT_EQ(cellReference(21, 7), "G21");
    EXPECT_EQ(cellReference(1, 28), "AB1");
    // Texts carry CR and control characters as escapes, and a literal escape survives.
    const QString odd = QStringLiteral("a\rb\x01 _x0041_");
    EXPECT_EQ(decodeOoxmlText(encodeOoxmlText(odd).c_str()), odd);
}

TEST(WorkbookRead, OfficeSuiteFilesGiveTheSameTableInEveryFormat)
{
    const QList<QStringList> xlsx = readList(dataFile("start.xlsx"));
    ASSERT_EQ(xlsx.size(), 12); // row 13 is empty: row 14 is not part of the list
    EXPECT_EQ(xlsx[0][0], QString::fromUtf8("Kreismeisterschaften Łódź 2027"));
    EXPECT_EQ(xlsx[1][0], QStringLiteral("14.05.2027"));          // custom format "MMMM D, YYYY"
    EXPECT_EQ(xlsx[1][1], QStringLiteral("14.05.2027 10:30:00")); // "YYYY/MM/DD HH:MM"
    EXPECT_EQ(xlsx[2], (QStringList{"1", "", QString::fromUtf8("100 m Hürden"), QString::fromUtf8("Männer U20"), "", "", ""}));
    EXPECT_EQ(xlsx[3], (QStringList{"1.", "205", QString::fromUtf8("Jürgen Groß"), "", QString::fromUtf8("LG Nord – Süd"), "12,5", ""}));
    EXPECT_EQ(xlsx[4][2], QString::fromUtf8("Zoë Šťastná"));
    EXPECT_EQ(xlsx[4][4], QString::fromUtf8("Ωmega ĞĦ 😀"));
    EXPECT_EQ(QLocale().toDouble(xlsx[6][6]), 1e-7);
    EXPECT_EQ(xlsx[7][1], QStringLiteral("-4,25"));
    EXPECT_EQ(xlsx[9][2], QString::fromUtf8("  Carla  Weiß ")); // blanks kept
    EXPECT_EQ(readList(dataFile("start.ods")), xlsx);
    EXPECT_EQ(readList(dataFile("start.xls")), xlsx);

    SpreadsheetApplication app;
    Worksheet &xls = app.workbooks().open(dataFile("start.xls")).worksheet(1);
    EXPECT_EQ(xls.rowCount(), 65536);
    EXPECT_EQ(xls.usedRowCount(), 14); // row 13 holds a value beyond column A
    Worksheet &ods = app.workbooks().open(dataFile("start.ods")).worksheet(1);
    EXPECT_EQ(ods.rowCount(), 1048576);
    EXPECT_EQ(ods.usedRowCount(), 14);
    EXPECT_EQ(cellText(ods.rangeValue({14, 2}, {14, 2}).at(1, 1)), QStringLiteral("after the gap"));
}

TEST(WorkbookRead, RowsClaimedButEmptyCostNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("claims.xlsx"));
    writeXlsx(file, R"(<row r="1"><c r="A1" t="inlineStr"><is><t xml:space="preserve"> Titel </t></is></c>)"
                    R"(<c r="C1"><f>1+1</f><v>2</v></c><c r="D1" t="b"><v>1</v></c><c r="E1" t="e"><v>#DIV/0!</v></c></row>)"
                    R"(<row r="2"><c t="inlineStr"><is><r><t>zwei</t></r><r><t>teilig</t></r></is></c><c><v>3</v></c></row>)"
                    R"(<row r="1048576" s="3" customFormat="1"><c r="A1048576" s="3"/></row>)"
                    R"(<row r="1048576"><c r="G1048576"><v>9</v></c></row>)");
    SpreadsheetApplication app;
    Worksheet &sheet = app.workbooks().open(file).worksheet(1);
    EXPECT_EQ(sheet.usedRowCount(), 3);
    const CellBlock block = sheet.rangeValue({1, 1}, {sheet.rowCount(), 7});
    EXPECT_EQ(block.rows(), 1048576);
    EXPECT_EQ(block.storedRows(), 3u);
    EXPECT_EQ(cellText(block.at(1, 1)), QStringLiteral(" Titel "));
    EXPECT_EQ(cellText(block.at(1, 3)), QStringLiteral("2")); // a formula's last value
    EXPECT_EQ(cellText(block.at(1, 4)), QStringLiteral("True"));
    EXPECT_EQ(cellText(block.at(1, 5)), QStringLiteral("#DIV/0!"));
    EXPECT_EQ(cellText(block.at(2, 1)), QStringLiteral("zweiteilig")); // cells without references follow on
    EXPECT_EQ(cellText(block.at(2, 2)), QStringLiteral("3"));
    EXPECT_EQ(cellText(block.at(1048576, 7)), QStringLiteral("9"));
}

TEST(WorkbookRead, OpenDocumentRepeatsRowsAndColumns)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("rep.ods"));
    writeZip(file, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                    {"content.xml",
                     R"(<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x"><office:body><office:spreadsheet>)"
                     R"(<table:table><table:table-row table:number-rows-repeated="2"><table:table-cell table:number-columns-repeated="2" )"
                     R"(office:value-type="string"><text:p>a<text:s text:c="2"/>b</text:p><text:p>c</text:p></table:table-cell>)"
                     R"(<table:table-cell table:number-columns-repeated="16000"/><table:table-cell office:value-type="float" office:value="1"/></table:table-row>)"
                     R"(<table:table-row table:number-rows-repeated="1048570"><table:table-cell table:number-columns-repeated="1024"/></table:table-row>)"
                     R"(<table:table-row><table:table-cell office:value-type="percentage" office:value="0.5"/>)"
                     R"(<table:table-cell office:value-type="time" office:time-value="PT10H30M00S"/></table:table-row>)"
                     R"(</table:table></office:spreadsheet></office:body></office:document-content>)"}});
    SpreadsheetApplication app;
    Worksheet &sheet = app.workbooks().open(file).worksheet(1);
    EXPECT_EQ(sheet.usedRowCount(), 3);
    const CellBlock block = sheet.rangeValue({1, 1}, {sheet.rowCount(), 7});
    EXPECT_EQ(block.storedRows(), 3u);
    EXPECT_EQ(cellText(block.at(2, 2)), QStringLiteral("a  b\nc"));
    EXPECT_EQ(cellText(block.at(2, 3)), QString());
    EXPECT_EQ(cellText(block.at(1048573, 1)), QStringLiteral("0,5"));
    EXPECT_EQ(cellText(block.at(1048573, 2)), QStringLiteral("10:30:00"));
}

TEST(WorkbookWrite, NewWorkbookRoundTripAndNoTemporaryLeft)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("neu.xlsx"));
    CellBlock values(3, 7);
    values.set(1, 1, CellValue::fromText(QString::fromUtf8("Łódź \"Groß\" <&> ")));
    values.set(2, 7, CellValue::fromText(QStringLiteral("10,23")));
    values.set(2, 3, CellValue::fromNumber(12.5));
    {
        SpreadsheetApplication app;
        Workbook &book = app.workbooks().add();
        book.worksheet(1).setRangeValue({1, 1}, {3, 7}, values);
        book.saveAs(file);
        app.quit();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("neu.xlsx")});
    const QList<QStringList> rows = readList(file);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0], QString::fromUtf8("Łódź \"Groß\" <&> "));
    SpreadsheetApplication app;
    const CellBlock back = app.workbooks().open(file).worksheet(1).rangeValue({1, 1}, {3, 7});
    EXPECT_EQ(back.at(2, 7).type, CellValue::Type::Text); // a time text stays a text
    EXPECT_EQ(cellText(back.at(2, 7)), QStringLiteral("10,23"));
    EXPECT_EQ(cellText(back.at(2, 3)), QStringLiteral("12,5"));
    // A legacy or OpenDocument file is never written.
    EXPECT_THROW(app.workbooks().open(dataFile("start.ods")).saveAs(dir.filePath(QStringLiteral("x.xlsx"))), WorkbookError);
    EXPECT_THROW(app.workbooks().add().saveAs(dir.filePath(QStringLiteral("x.xls"))), WorkbookError);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("x.xls"))));
}

TEST(WorkbookWrite, ExistingWorkbookKeepsEverythingOutsideTheBlock)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("keep.xlsx"));
    ASSERT_TRUE(QFile::copy(dataFile("keep.xlsx"), file));
    const auto before = zipParts(file);
    CellBlock values(4, 7);
    values.set(1, 1, CellValue::fromText(QStringLiteral("Neuer Titel")));
    values.set(2, 3, CellValue::fromText(QStringLiteral("ersetzt die Formel")));
    values.set(3, 2, CellValue::fromText(QStringLiteral("B3 neu")));
    {
        SpreadsheetApplication app;
        Workbook &book = app.workbooks().open(file);
        book.worksheet(1).setRangeValue({1, 1}, {4, 7}, values);
        book.saveAs(file);
        app.quit();
    }
    const auto after = zipParts(file);
    for (const auto &[name, content] : before) {
        if (name != "xl/worksheets/sheet1.xml") {
            EXPECT_EQ(after.at(name), content) << name; // second sheet, styles, names untouched
        }
    }
    SpreadsheetApplication app;
    const CellBlock block = app.workbooks().open(file).worksheet(1).rangeValue({1, 1}, {40, 8});
    EXPECT_EQ(cellText(block.at(1, 1)), QStringLiteral("Neuer Titel"));
    EXPECT_EQ(cellText(block.at(1, 8)), QStringLiteral("H1 beside"));
    EXPECT_EQ(cellText(block.at(2, 1)), QString()); // inside the block, empty in the values
    EXPECT_EQ(cellText(block.at(2, 3)), QStringLiteral("ersetzt die Formel"));
    EXPECT_EQ(cellText(block.at(3, 1)), QString());
    EXPECT_EQ(cellText(block.at(3, 2)), QStringLiteral("B3 neu"));
    EXPECT_EQ(cellText(block.at(3, 8)), QStringLiteral("10")); // a formula outside keeps its value
    EXPECT_EQ(cellText(block.at(30, 1)), QStringLiteral("A30 below"));
    const std::string sheet = after.at("xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find(R"(<f aca="false">A2*10</f>)"), std::string::npos);
    EXPECT_EQ(sheet.find("A2+B2"), std::string::npos);
    EXPECT_NE(sheet.find(R"(<c r="A1" s=")"), std::string::npos); // the bold title keeps its style
}

TEST(WorkbookWrite, StaleFormulaChainIsDropped)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("chain.xlsx"));
    writeXlsx(file, R"(<row r="1"><c r="A1"><v>1</v></c><c r="C1"><f>A1*2</f><v>2</v></c></row>)"
                    R"(<row r="30"><c r="C30"><f t="shared" ref="C30:C31" si="0">A30</f><v>0</v></c></row>)"
                    R"(<row r="31"><c r="C31"><f t="shared" si="0"/><v>0</v></c></row>)");
    CellBlock values(1, 7);
    values.set(1, 1, CellValue::fromText(QStringLiteral("x")));
    SpreadsheetApplication app;
    Workbook &book = app.workbooks().open(file);
    book.worksheet(1).setRangeValue({1, 1}, {1, 7}, values);
    book.saveAs(file);
    const auto parts = zipParts(file);
    EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);
    EXPECT_EQ(parts.at("xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
    EXPECT_EQ(parts.at("[Content_Types].xml").find("calcChain"), std::string::npos);
    EXPECT_NE(parts.at("xl/worksheets/sheet1.xml").find(R"(si="0")"), std::string::npos); // outside: kept
    EXPECT_NE(parts.at("xl/worksheets/sheet1.xml").find(R"(<dimension ref="A1:G1048576"/>)"), std::string::npos);
}

TEST(WorkbookHostile, EveryBadFileEndsInAnErrorNamingIt)
{
    QTemporaryDir dir;
    auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };

    // 20 MiB of zeros packed about 1000:1.
    writeXlsx(path("bomb.xlsx"), std::string(), std::string(20u << 20, ' '));
    // Entity expansion ("billion laughs") through a DOCTYPE.
    writeXlsx(path("laughs.xlsx"), R"(<row r="1"><c r="A1" t="inlineStr"><is><t>&lol9;</t></is></c></row>)",
              R"(<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol9 "&lol;&lol;">]>)");
    writeXlsx(path("broken.xlsx"), R"(<row r="1"><c r="A1"><v>1</v></row>)");
    writeXlsx(path("missing-string.xlsx"), R"(<row r="1"><c r="A1" t="s"><v>5</v></c></row>)");
    QFile::copy(dataFile("start.xlsx"), path("truncated.xlsx"));
    QFile::resize(path("truncated.xlsx"), QFileInfo(dataFile("start.xlsx")).size() / 2);
    QFile::copy(dataFile("locked.ods"), path("locked.ods"));
    {
        // An encrypted Office Open XML workbook is a compound file with an "EncryptedPackage" stream.
        QFile f(path("locked.xlsx"));
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8) + QByteArray(1016, '\0')
                + QByteArray("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32) + QByteArray(2000, '\0'));
    }
    {
        QFile f(path("text.xlsx"));
        f.open(QIODevice::WriteOnly);
        f.write("1;;Anna\r\n");
    }
    writeZip(path("other.zip"), {{"readme.txt", "hello"}});

    const std::map<const char *, const char *> expected = {
        {"bomb.xlsx", "entpackt"},         {"laughs.xlsx", "DOCTYPE"},        {"broken.xlsx", "kein gültiges XML"},
        {"missing-string.xlsx", "fehlenden Text"}, {"truncated.xlsx", "beschädigt"}, {"locked.ods", "Kennwort"},
        {"locked.xlsx", "Kennwort"},       {"text.xlsx", "keine Arbeitsmappe"}, {"other.zip", "keine Arbeitsmappe"},
        {"nowhere.xlsx", "nicht gefunden"}};
    for (const auto &[name, words] : expected) {
        const QString message = QString::fromStdString(openError(path(name)));
        EXPECT_TRUE(message.contains(path(name))) << name << ": " << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(words))) << name << ": " << message.toStdString();
    }
}

TEST(WorkbookRead, DatesOfThe1904SystemAndEveryBuiltInDateFormat)
{
    const std::string styles =
        R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><cellXfs count="4">)"
        R"(<xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="22"/><xf numFmtId="23"/></cellXfs></styleSheet>)";
    const std::string rels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
    // A: d.m.yyyy (14), B: m/d/yy h:mm (22, the last of the first built-in date formats), C: 23 is
    // no date.
    const std::string sheet = R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)"
                              R"(<row r="1"><c r="A1" s="1"><v>2</v></c><c r="B1" s="2"><v>45059.4375</v></c>)"
                              R"(<c r="C1" s="3"><v>45059.4375</v></c></row>)"
                              R"(<row r="2"><c r="A2" s="1"><v>1</v></c><c r="B2" s="2"><v>46521.4375</v></c></row>)"
                              R"(</sheetData></worksheet>)";
    QTemporaryDir dir;
    const QLocale de(QLocale::German, QLocale::Germany);
    auto cells = [&](bool date1904) {
        const QString file = dir.filePath(date1904 ? QStringLiteral("1904.xlsx") : QStringLiteral("1900.xlsx"));
        const std::string workbook =
            R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
            + std::string(date1904 ? R"(<workbookPr date1904="1"/>)" : "")
            + R"(<sheets><sheet name="Liste" sheetId="1" r:id="rId1"/></sheets></workbook>)";
        writeZip(file, {{"[Content_Types].xml", ContentTypes},
                        {"_rels/.rels", RootRels},
                        {"xl/workbook.xml", workbook},
                        {"xl/_rels/workbook.xml.rels", rels},
                        {"xl/styles.xml", styles},
                        {"xl/worksheets/sheet1.xml", sheet}});
        SpreadsheetApplication app;
        const CellBlock block = app.workbooks().open(file).worksheet(1).rangeValue({1, 1}, {2, 3});
        QStringList out;
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 3; ++c)
                out << cellText(block.at(r, c), de);
        return out;
    };
    // Day 0 of the 1904 system is 1 January 1904; day 45,059 is 14 May 2027.
    EXPECT_EQ(cells(true), (QStringList{"03.01.1904", "14.05.2027 10:30:00", "45059,4375",
                                        "02.01.1904", "15.05.2031 10:30:00", ""}));
    // Day 1 of the 1900 system is 1 January 1900; day 46,521 is 14 May 2027.
    EXPECT_EQ(cells(false), (QStringList{"02.01.1900", "13.05.2023 10:30:00", "45059,4375",
                                         "01.01.1900", "14.05.2027 10:30:00", ""}));
}

namespace {

std::string odsContent(const std::string &rows)
{
    return R"(<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x"><office:body><office:spreadsheet>)"
           R"(<table:table>)" + rows + R"(</table:table></office:spreadsheet></office:body></office:document-content>)";
}

// Stored: the limit on the packing ratio would refuse most of these files before they are read.
void writeOdsFile(const QString &path, const std::string &rows)
{
    writeZip(path, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", odsContent(rows)}}, 0);
}

std::string stringCell(const std::string &paragraph)
{
    return R"(<table:table-cell office:value-type="string"><text:p>)" + paragraph + "</text:p></table:table-cell>";
}

std::string repeated(const std::string &s, int n)
{
    std::string out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

} // namespace

TEST(WorkbookHostile, NestingAsDeepAsTheFileLikesNeverOverflowsTheStack)
{
    QTemporaryDir dir;
    const QString spans = dir.filePath(QStringLiteral("spans.ods"));
    writeOdsFile(spans, "<table:table-row>" + stringCell(repeated("<text:span>", 150000) + "x" + repeated("</text:span>", 150000))
                            + "</table:table-row>");
    const QString groups = dir.filePath(QStringLiteral("groups.ods"));
    writeOdsFile(groups, repeated("<table:table-row-group>", 40000) + "<table:table-row>" + stringCell("x")
                             + "</table:table-row>" + repeated("</table:table-row-group>", 40000));
    const QString runs = dir.filePath(QStringLiteral("runs.xlsx"));
    writeZip(runs, {{"[Content_Types].xml", ContentTypes}, {"_rels/.rels", RootRels}, {"xl/workbook.xml", WorkbookPart},
                    {"xl/_rels/workbook.xml.rels", WorkbookRels},
                    {"xl/worksheets/sheet1.xml", R"(<worksheet><sheetData><row r="1"><c r="A1" t="inlineStr"><is>)"
                                                     + repeated("<r>", 100000) + repeated("</r>", 100000)
                                                     + "</is></c></row></sheetData></worksheet>"}},
             0);
    for (const QString &file : {spans, groups, runs}) {
        const std::string message = openError(file);
        EXPECT_NE(message.find("verschachtelt"), std::string::npos) << message;
        EXPECT_NE(message.find(file.toStdString()), std::string::npos) << message;
    }

    // Nesting as office suites write it reads as before: spans, groups and header rows.
    const QString shallow = dir.filePath(QStringLiteral("shallow.ods"));
    writeOdsFile(shallow,
                 "<table:table-header-rows><table:table-row>" + stringCell("Titel") + "</table:table-row></table:table-header-rows>"
                 "<table:table-row-group><table:table-row-group><table:table-row>"
                 + stringCell("a<text:span>b<text:span>c<office:annotation><text:p>Notiz</text:p></office:annotation>"
                              "</text:span><text:s/>d</text:span>e<text:tab/>f")
                 + "</table:table-row></table:table-row-group><table:table-row table:number-rows-repeated=\"2\">"
                 + stringCell("g") + "</table:table-row></table:table-row-group><table:table-row>" + stringCell("h")
                 + "</table:table-row>");
    EXPECT_EQ(readList(shallow), (QList<QStringList>{{"Titel", "", "", "", "", "", ""},
                                                      {"abc de\tf", "", "", "", "", "", ""},
                                                      {"g", "", "", "", "", "", ""},
                                                      {"g", "", "", "", "", "", ""},
                                                      {"h", "", "", "", "", "", ""}}));
}

TEST(WorkbookHostile, TextsThatExpandAreRefusedBeforeTheyGrow)
{
    QTemporaryDir dir;
    auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    // 69 million blanks from a few kilobytes, and one cell just beyond what a cell may hold.
    writeOdsFile(path("spaces.ods"), "<table:table-row><table:table-cell/>" + stringCell(repeated(R"(<text:s text:c="1000"/>)", 69000))
                                         + "</table:table-row>");
    writeOdsFile(path("one-too-many.ods"), "<table:table-row>" + stringCell(repeated(R"(<text:s text:c="1000"/>)", 32) + std::string(768, 'x'))
                                               + "</table:table-row>");
    // One text of 32,000 characters in 200 cells: 6.4 million characters, 400 kilobytes unpacked.
    {
        std::string rows;
        for (int r = 1; r <= 200; ++r)
            rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\" t=\"s\"><v>0</v></c></row>";
        writeZip(path("shared.xlsx"),
                 {{"[Content_Types].xml", ContentTypes}, {"_rels/.rels", RootRels}, {"xl/workbook.xml", WorkbookPart},
                  {"xl/_rels/workbook.xml.rels",
                   R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                   R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
                   R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>)"},
                  {"xl/sharedStrings.xml", "<sst><si><t>" + std::string(32000, 'y') + "</t></si></sst>"},
                  {"xl/worksheets/sheet1.xml", "<worksheet><sheetData>" + rows + "</sheetData></worksheet>"}});
    }
    // A short text in five columns of every row of the sheet.
    writeOdsFile(path("everywhere.ods"), R"(<table:table-row table:number-rows-repeated="1048576"><table:table-cell )"
                                         R"(table:number-columns-repeated="5" office:value-type="float" office:value="1"/></table:table-row>)");
    const std::map<const char *, const char *> expected = {{"spaces.ods", "Zelle B1 enthält mehr als 32.767 Zeichen"},
                                                           {"one-too-many.ods", "Zelle A1 enthält mehr als 32.767 Zeichen"},
                                                           {"shared.xlsx", "mehr als 4 Millionen Zeichen"},
                                                           {"everywhere.ods", "mehr als 4 Millionen Zeichen"}};
    for (const auto &[name, words] : expected) {
        const std::string message = openError(path(name));
        EXPECT_NE(message.find(words), std::string::npos) << name << ": " << message;
        EXPECT_NE(message.find(path(name).toStdString()), std::string::npos) << message;
    }

    // A cell of exactly 32,767 characters, and a sheet of start-list size, are read.
    writeOdsFile(path("longest.ods"), "<table:table-row>" + stringCell(repeated(R"(<text:s text:c="1000"/>)", 32) + std::string(767, 'x'))
                                          + "</table:table-row>");
    EXPECT_EQ(readList(path("longest.ods"))[0][0].size(), 32767);
    writeOdsFile(path("list.ods"), R"(<table:table-row table:number-rows-repeated="2000">)" + repeated(stringCell(std::string(200, 'n')), 7)
                                       + "</table:table-row>");
    EXPECT_EQ(readList(path("list.ods")).size(), 2000);
}

TEST(WorkbookHostile, RepeatedBlanksCountAsIfWrittenOut)
{
    QTemporaryDir dir;
    int n = 0;
    // Each cell once with its blanks as repeat markers and once written out: read alike or
    // refused with the same words.
    auto both = [&](const std::string &markers, const std::string &written, const char *columns = "1") {
        std::pair<std::string, std::string> out;
        for (auto [text, result] : {std::pair{&markers, &out.first}, std::pair{&written, &out.second}}) {
            const QString file = dir.filePath(QStringLiteral("%1.ods").arg(++n));
            writeOdsFile(file, std::string(R"(<table:table-row><table:table-cell table:number-columns-repeated=")") + columns
                                   + R"(" office:value-type="string"><text:p>)" + *text + "</text:p></table:table-cell></table:table-row>");
            *result = openError(file);
            if (*result == "no error")
                *result = std::to_string(readList(file)[0][0].size()) + " characters";
            const std::size_t name = result->find(file.toStdString());
            if (name != std::string::npos)
                result->erase(name, static_cast<std::size_t>(file.size()));
        }
        return out;
    };
    const std::string blanks32767(32767, ' ');
    struct Case {
        std::string markers, written, expected;
        const char *columns = "1";
    };
    const std::vector<Case> cases = {
        {R"(<text:s text:c="32767"/>)", blanks32767, "32767 characters"},
        {R"(a<text:s text:c="5000"/>b<text:s/>c)", "a" + std::string(5000, ' ') + "b c", "5004 characters"},
        {R"(<text:s text:c="32766"/>x)", std::string(32766, ' ') + "x", "32767 characters"},
        {R"(<text:s text:c="32767"/>x)", blanks32767 + "x", "Zelle A1 enthält mehr als 32.767 Zeichen"},
        {R"(<text:s text:c="69000000"/>)", blanks32767 + " ", "Zelle A1 enthält mehr als 32.767 Zeichen"},
        {repeated(R"(<text:s text:c="69000000"/>)", 30) + "ab", blanks32767 + "ab", "Zelle A1 enthält mehr als 32.767 Zeichen"},
        {R"(<text:s text:c="99999999999999999999999"/>)", blanks32767 + " ", "Zelle A1 enthält mehr als 32.767 Zeichen"},
        // 30,000 blanks in 200 columns: six million characters on the sheet.
        {R"(<text:s text:c="30000"/>)", std::string(30000, ' '), "mehr als 4 Millionen Zeichen", "200"},
    };
    for (const Case &c : cases) {
        const auto [markers, written] = both(c.markers, c.written, c.columns);
        EXPECT_NE(markers.find(c.expected), std::string::npos) << c.markers.substr(0, 60) << ": " << markers;
        EXPECT_EQ(markers, written) << c.markers.substr(0, 60);
    }
}

TEST(WorkbookHostile, RepeatCountsNearTheLargestNumberStopAtTheSheetsEdges)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("repeats.ods"));
    writeOdsFile(file, R"(<table:table-row table:number-rows-repeated="3"><table:table-cell table:number-columns-repeated="9223372036854775807"/>)"
                       + stringCell("beyond the last column") + "</table:table-row>"
                       + R"(<table:table-row table:number-rows-repeated="9223372036854775807">)" + stringCell("x")
                       + "</table:table-row><table:table-row>" + stringCell("beyond the last row") + "</table:table-row>");
    SpreadsheetApplication app;
    Worksheet &sheet = app.workbooks().open(file).worksheet(1);
    EXPECT_EQ(sheet.usedRowCount(), 1048573); // rows 4 .. 1,048,576
    const CellBlock top = sheet.rangeValue({1, 1}, {5, 3});
    EXPECT_EQ(top.storedRows(), 2u);
    EXPECT_EQ(cellText(top.at(3, 1)), QString());
    EXPECT_EQ(cellText(top.at(4, 1)), QStringLiteral("x"));
    EXPECT_EQ(cellText(top.at(4, 2)), QString());
    const CellBlock bottom = sheet.rangeValue({1048576, 1}, {1048576, 16384});
    EXPECT_EQ(cellText(bottom.at(1, 1)), QStringLiteral("x"));
    EXPECT_EQ(cellText(bottom.at(1, 16384)), QString());
}

TEST(WorkbookCells, TimeOfDayReadsAlikeInEveryDayCount)
{
    QTemporaryDir dir;
    for (const bool date1904 : {false, true}) {
        const QString file = dir.filePath(date1904 ? QStringLiteral("1904.xlsx") : QStringLiteral("1900.xlsx"));
        writeZip(file, {{"[Content_Types].xml", ContentTypes},
                        {"_rels/.rels", RootRels},
                        {"xl/workbook.xml", R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                                            R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><workbookPr date1904=")"
                                            + std::string(date1904 ? "1" : "0")
                                            + R"("/><sheets><sheet name="L" sheetId="1" r:id="rId1"/></sheets></workbook>)"},
                        {"xl/_rels/workbook.xml.rels",
                         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                         R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
                         R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)"},
                        {"xl/styles.xml", R"(<styleSheet><numFmts><numFmt numFmtId="164" formatCode="hh:mm"/></numFmts>)"
                                          R"(<cellXfs><xf numFmtId="0"/><xf numFmtId="20"/><xf numFmtId="164"/><xf numFmtId="22"/></cellXfs></styleSheet>)"},
                        {"xl/worksheets/sheet1.xml",
                         R"(<worksheet><sheetData><row r="1"><c r="A1" s="1"><v>0.4375</v></c><c r="B1" s="2"><v>0.75</v></c>)"
                         R"(<c r="C1" s="3"><v>1.4375</v></c></row></sheetData></worksheet>)"}});
        const QList<QStringList> rows = readList(file);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0][0], QStringLiteral("10:30:00")) << date1904; // as from .ods and .xls
        EXPECT_EQ(rows[0][1], QStringLiteral("18:00:00"));
        EXPECT_EQ(rows[0][2], date1904 ? QStringLiteral("02.01.1904 10:30:00") : QStringLiteral("01.01.1900 10:30:00"));
    }
}

TEST(WorkbookWrite, ReferencesTheReaderWouldReadOtherwiseAreRefused)
{
    QTemporaryDir dir;
    const std::map<std::string, std::string> refused = {
        {"duplicated-row", R"(<row r="1"><c r="A1"><v>1</v></c></row><row r="1"><c r="A1"><v>2</v></c></row>)"},
        {"rows-out-of-order", R"(<row r="2"><c r="A2"><v>1</v></c></row><row r="1"><c r="A1"><v>2</v></c></row>)"},
        {"reference-without-row", R"(<row r="1"><c r="B1"><v>1</v></c><c r="A"><v>2</v></c></row>)"},
        {"reference-to-another-row", R"(<row r="1"><c r="A5"><v>1</v></c></row>)"},
        {"cells-out-of-order", R"(<row r="1"><c r="B1"><v>1</v></c><c r="A1"><v>2</v></c></row>)"},
        {"row-without-number", R"(<row r="x"><c r="A1"><v>1</v></c></row>)"}};
    for (const auto &[name, rows] : refused) {
        const QString file = dir.filePath(QString::fromStdString(name) + QStringLiteral(".xlsx"));
        writeXlsx(file, rows);
        SpreadsheetApplication app;
        try {
            app.workbooks().open(file, WorkbookLimits::MaxUnpackedBytes, OpenFor::Writing);
            ADD_FAILURE() << name << " was taken";
        } catch (const WorkbookError &e) {
            EXPECT_NE(std::string(e.what()).find(file.toStdString()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("kann nicht geschrieben werden"), std::string::npos) << e.what();
        }
        EXPECT_NO_THROW(app.workbooks().open(file)) << name; // reading it is another matter
    }

    // Rows and cells without references follow on, for the write as for the reader.
    const QString file = dir.filePath(QStringLiteral("unnumbered.xlsx"));
    writeXlsx(file, R"(<row><c><v>1</v></c><c t="inlineStr"><is><t>alt</t></is></c></row><row r="3"><c><v>3</v></c></row>)");
    CellBlock values(2, 2);
    values.set(1, 2, CellValue::fromText(QStringLiteral("B1 neu")));
    values.set(2, 1, CellValue::fromText(QStringLiteral("A2 neu")));
    {
        SpreadsheetApplication app;
        Workbook &book = app.workbooks().open(file, WorkbookLimits::MaxUnpackedBytes, OpenFor::Writing);
        book.worksheet(1).setRangeValue({1, 1}, {2, 2}, values);
        book.saveAs(file);
    }
    EXPECT_TRUE(readList(file).isEmpty()); // A1 is empty now
    SpreadsheetApplication app;
    const CellBlock back = app.workbooks().open(file).worksheet(1).rangeValue({1, 1}, {3, 2});
    EXPECT_EQ(cellText(back.at(1, 1)), QString());
    EXPECT_EQ(cellText(back.at(1, 2)), QStringLiteral("B1 neu"));
    EXPECT_EQ(cellText(back.at(2, 1)), QStringLiteral("A2 neu"));
    EXPECT_EQ(cellText(back.at(3, 1)), QStringLiteral("3"));
}

TEST(WorkbookHostile, PartsBeyondWhatAReadUnpacksAreNeverUnpacked)
{
    // A first sheet of 5 MB of empty cells that packs well under the ratio limit.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("empty-cells.xlsx"));
    std::string rows;
    std::uint32_t seed = 7;
    for (int r = 1; rows.size() < (5u << 20); ++r) {
        rows += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 1; c <= 7; ++c) {
            seed = seed * 1103515245u + 12345u;
            rows += "<c r=\"" + cellReference(r, c) + "\" s=\"" + std::to_string(seed >> 20) + "\"/>";
        }
        rows += "</row>";
    }
    writeXlsx(file, rows);
    for (const OpenFor purpose : {OpenFor::Reading, OpenFor::Writing}) {
        SpreadsheetApplication app;
        try {
            app.workbooks().open(file, WorkbookLimits::MaxUnpackedBytes, purpose);
            ADD_FAILURE() << "taken";
        } catch (const WorkbookError &e) {
            EXPECT_NE(std::string(e.what()).find("mehr als 4 MB"), std::string::npos) << e.what();
        }
    }
}

TEST(WorkbookReaderAnswer, CellsClaimedBeyondTheBytesThatFollowAreRefusedBeforeAnyMemoryIsTaken)
{
    // A row of 4,294,967,295 cells in a 31-byte answer, then rows whose cells would need more
    // bytes than follow (a cell takes at least 13); the last one is whole and read.
    auto answer = [](std::uint32_t cells, const QByteArray &tail) {
        QByteArray out("ZKWB1\nF\x02R", 9);
        for (std::uint32_t v : {1u, 1u, cells})
            for (int i = 0; i < 4; ++i)
                out += static_cast<char>((v >> (8 * i)) & 0xff);
        return out + tail;
    };
    const QByteArray textCell("\x01\0\0\0\x01\0\0\0\x01\x01\0\0\0x", 14); // A1: "x"
    const QByteArray end("Z\x01\0\0\0", 5);
    const std::vector<std::pair<QByteArray, bool>> cases = {
        {answer(0xFFFFFFFFu, QByteArray(10, '\x01')), false},
        {answer(0x7FFFFFFFu, textCell + end), false},
        {answer(2, textCell + end), false},
        {answer(1, textCell + end), true},
    };
    ASSERT_EQ(cases[0].first.size(), 31);
    for (const auto &[bytes, valid] : cases) {
        std::string refusal;
        try {
            const ReaderAnswer read = decodeReaderAnswer(bytes, QStringLiteral("a.ods"));
            ASSERT_EQ(read.sheet.rows.size(), 1u);
            EXPECT_EQ(cellText(read.sheet.rows[0].cells.at(0).value), QStringLiteral("x"));
        } catch (const WorkbookError &e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal.find("Antwort des Leseprogramms ist ungültig") != std::string::npos, !valid)
            << bytes.toHex().toStdString() << ": " << refusal;
    }
}
