#pragma once
// Inside the workbook engine: the state of one open workbook, the sheet model the bulk read works
// on, and the readers and the writer of the file formats. Not for use outside platform/.

#include "Workbook.h"

#include <QByteArray>
#include <QByteArrayView>

#include <pugixml.hpp>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct zip;

namespace platform {

enum class WorkbookFormat { New, Xlsx, Ods, Xls };

constexpr int MaxSheetRows = 1048576;
constexpr int MaxSheetCols = 16384;

// The filled cells of a sheet. A run of equal rows or cells (as OpenDocument repeats them) is kept
// once with its repeat count; rows without a value are not kept at all.
struct SheetData {
    struct Cell {
        int col;
        int repeat;
        CellValue value;
    };
    struct Row {
        int row;
        int repeat;
        std::vector<Cell> cells;
    };
    std::vector<Row> rows; // ascending by row, each row once
    int usedRows() const;
    // Sorts the rows and joins rows of the same number, the later one's cells coming after.
    void normalizeRows();
};

// A zip archive opened for reading whose parts are read with the engine's size limits.
class ZipReader {
public:
    // Checks the sizes and pack ratios of every part; throws a WorkbookError naming the file.
    ZipReader(const QString &fileName, const QString &shownName,
              std::size_t maxUnpacked = WorkbookLimits::MaxUnpackedBytes);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;
    bool contains(const std::string &name) const;
    // A part's bytes; parts read together beyond WorkbookLimits::MaxReadBytes are refused unread.
    std::optional<std::string> read(const std::string &name) const;
    zip *handle() const { return archive_; }
    std::vector<std::string> names() const;

private:
    zip *archive_ = nullptr;
    QString shownName_;
    mutable std::size_t readBytes_ = 0;
};

struct WorkbookContext {
    QString fileName; // as opened; empty for a new workbook
    WorkbookFormat format = WorkbookFormat::New;
    // An .xlsx whose cells a reader process read: its package is opened here only for a write.
    bool packagePending = false;
    std::size_t maxUnpacked = WorkbookLimits::MaxUnpackedBytes;
    QStringList *callLog = nullptr;

    // The read model, built on first use and dropped by every write.
    std::optional<SheetData> data;
    SheetData &sheet();

    // .xlsx and new workbooks: the package, the parts replaced or added (in order) and dropped.
    std::unique_ptr<ZipReader> source;
    std::vector<std::pair<std::string, std::string>> parts;
    std::set<std::string> dropped;
    std::string workbookPath = "xl/workbook.xml";
    std::string workbookRelsPath = "xl/_rels/workbook.xml.rels";
    std::string sheetPath = "xl/worksheets/sheet1.xml";
    pugi::xml_document sheetXml;
    bool sheetChanged = false;
    std::vector<QString> sharedStrings;
    std::vector<char> dateStyles; // per cell style index: 1 when its number format shows a date
    bool date1904 = false;
};

std::shared_ptr<WorkbookContext> openWorkbook(const QString &fileName,
                                             std::size_t maxUnpacked = WorkbookLimits::MaxUnpackedBytes);
std::shared_ptr<WorkbookContext> newWorkbook();
// Opens the package of an .xlsx whose cells a reader process read, when it is not open yet.
void ensurePackage(WorkbookContext &context);

// The work of a reader process, done in this process: the workbook opened and its first sheet read
// (for writing, also prepared for the write).
std::shared_ptr<WorkbookContext> readWorkbook(const QString &fileName, std::size_t maxUnpacked, OpenFor purpose);
// The same through a reader process; the context holds the cells the child handed back.
std::shared_ptr<WorkbookContext> readInChildProcess(const ReaderProcess &reader, const QString &fileName,
                                                    std::size_t maxUnpacked, OpenFor purpose);

// The answer of a reader process on its standard output: the format and the cells of the first
// sheet, or the error's text. decodeReaderAnswer checks every field against the limits a read
// keeps and throws a WorkbookError naming the file: the error that was handed back, or that the
// answer is not valid.
QByteArray encodeReaderAnswer(WorkbookFormat format, const SheetData &sheet);
QByteArray encodeReaderError(const QString &message);
struct ReaderAnswer {
    WorkbookFormat format = WorkbookFormat::New;
    SheetData sheet;
};
ReaderAnswer decodeReaderAnswer(QByteArrayView bytes, const QString &fileName);
// The largest answer taken from a reader process: the largest sheet a read produces, in UTF-8.
constexpr qsizetype MaxReaderAnswerBytes = qsizetype{32} << 20;
// Numbers the rows and cells of the first sheet that have no reference and refuses a sheet whose
// references the reader and the write would not understand alike. Every write begins with it.
void prepareSheetForWriting(WorkbookContext &context);
void writeSheetBlock(WorkbookContext &context, CellRef from, CellRef to, const CellBlock &values);
void saveWorkbook(WorkbookContext &context, const QString &fileName, FileCalls &files);

// Helpers shared by the readers and the writer.
namespace xml {
const char *localName(const char *qualified);
bool is(const pugi::xml_node &node, const char *local);
pugi::xml_node child(const pugi::xml_node &node, const char *local);
pugi::xml_attribute attribute(const pugi::xml_node &node, const char *local);
// Parses a part; rejects a DOCTYPE and malformed XML with a WorkbookError naming file and part.
void parse(pugi::xml_document &doc, const std::string &text, const QString &shownName, const std::string &part);
std::string serialize(const pugi::xml_document &doc);
} // namespace xml

// Column and row of an A1 reference ("AB12" -> 28, 12); 0 where a part is missing or invalid.
std::pair<int, int> parseCellReference(const char *ref);
std::string cellReference(int row, int col);
// The "_xHHHH_" escapes of Office Open XML texts.
QString decodeOoxmlText(const char *utf8);
std::string encodeOoxmlText(const QString &text);
// Whether a number format code shows a date or a time.
bool isDateFormatCode(const std::string &code);
bool isBuiltInDateFormat(int id);

} // namespace platform
