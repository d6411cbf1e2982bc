#pragma once
// The spreadsheet application of the desk: an in-process workbook engine behind the few members the
// desk's start-list import and workbook export call, in the order they call them:
//
//   application = automation.createObject("Excel.Application")
//   application->setEnableEvents(false)
//   workbook = application->workbooks().open(file)   or   ...workbooks().add()
//   sheet = workbook.worksheet(1); sheet.rowCount()
//   sheet.rangeValue(Cells(1,1), Cells(r,c))           one bulk read
//   sheet.setRangeValue(Cells(1,1), Cells(r,c), block) one bulk write
//   workbook.saveAs(file)
//   application->quit()
//
// Reads .xlsx (Office Open XML), .ods (OpenDocument) and legacy .xls (BIFF, through FreeXL), the
// first worksheet only; writes .xlsx. Every failure is a WorkbookError whose German text names the
// file. Hostile files (zip bombs, DOCTYPE declarations, malformed XML, deep nesting, truncated
// archives, password protection, texts that expand) end in such an error, never in a crash or
// unbounded memory. The desk's instances read every file in a short-lived child process with
// memory and time limits (ReaderProcess): a fault in a reader or a library it uses ends that
// process and becomes an error, never the desk's end.

#include "AtomicFile.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <vector>

namespace platform {

class WorkbookError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    explicit WorkbookError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// One cell's value as the bulk read delivers it.
struct CellValue {
    enum class Type { Empty, Text, Number, Boolean, DateTime, Error };
    Type type = Type::Empty;
    // Number: the value; Boolean: 0 or 1; DateTime: days since 30.12.1899, the fraction being the
    // time of day.
    double number = 0;
    QString text; // Text, and the code of an Error cell ("#DIV/0!")

    static CellValue fromText(QString text);
    static CellValue fromNumber(double value);
    static CellValue fromBoolean(bool value);
    static CellValue fromDateTime(double serial);
    static CellValue fromError(QString code);
    bool isEmpty() const { return type == Type::Empty || (type == Type::Text && text.isEmpty()); }
};

// A cell's text under the regional settings of a locale: empty for an empty cell, a text as it
// stands, a number in its shortest round-trip form with the locale's decimal separator and no group
// separators, a date in the locale's numeric short form with a four-digit year (a date-time adds the
// time, a time of day alone is shown as time), a truth value as "True" or "False".
QString cellText(const CellValue &value, const QLocale &locale = QLocale());

// The days since 30.12.1899 of a date and time (the serial form of CellValue::DateTime).
double dateTimeSerial(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);

// The corners of a range: Cells(row, column), both counted from 1.
struct CellRef {
    int row = 1;
    int col = 1;
};

// A rectangular block of values indexed from 1 by row and column. Rows that hold no value take no
// memory, so a block may span every row a sheet can hold.
class CellBlock {
public:
    CellBlock() = default;
    CellBlock(int rows, int cols);
    int rows() const { return rowCount_; }
    int cols() const { return colCount_; }
    // The empty value outside the stored rows.
    const CellValue &at(int row, int col) const;
    void set(int row, int col, CellValue value);
    std::size_t storedRows() const { return rows_.size(); }

private:
    struct Row {
        int index;
        std::vector<CellValue> cells;
    };
    std::vector<Row> rows_; // ascending by index
    int rowCount_ = 0;
    int colCount_ = 0;
};

// Limits that keep a hostile workbook from taking unbounded memory.
struct WorkbookLimits {
    static constexpr std::size_t MaxUnpackedBytes = std::size_t{256} << 20; // all parts together
    static constexpr std::size_t RatioCheckedFrom = std::size_t{1} << 20;   // parts above 1 MiB ...
    static constexpr std::size_t MaxPackRatio = 100;                        // ... pack at most 100:1
    // The parts a read unpacks (the first sheet and what it refers to), together. A start list or a
    // meeting's results take a few hundred kilobytes; parts beyond are never unpacked.
    static constexpr std::size_t MaxReadBytes = std::size_t{4} << 20;
    // What a read produces: one cell's text at most as long as office suites allow, and the text of
    // the whole first sheet, every repeated cell counted, at most what the largest start list could
    // hold many times over. A workbook beyond either is refused before its cells are handed on.
    static constexpr int MaxCellChars = 32767;
    static constexpr std::size_t MaxSheetChars = std::size_t{4} << 20;
    // XML elements nested deeper than any office suite writes them.
    static constexpr int MaxXmlDepth = 256;
};

struct WorkbookContext;
struct SheetData;

// The child process that reads a workbook on behalf of the desk: the reader program with the file
// name, under limits of time and memory; it hands back the first sheet's cells (or the error) in a
// framed form that is checked before anything of it is used.
struct ReaderProcess {
    QString program; // the reader program; an empty name: the program is missing
    int timeoutMs = 10000;
    std::size_t memoryBytes = std::size_t{512} << 20;
};

// The reader program of a program in programFolder: "zielkron-workbook-reader" beside it, else in
// ../libexec/zielkron; an empty name when there is none.
QString readerProgramFor(const QString &programFolder);
// That of the running program.
QString defaultReaderProgram();

// What a workbook is opened for: writing also needs a first sheet whose rows and cells the write
// can find as the reader does.
enum class OpenFor { Reading, Writing };

class Worksheet {
public:
    explicit Worksheet(std::shared_ptr<WorkbookContext> context);
    ~Worksheet();
    Worksheet(const Worksheet &) = delete;
    Worksheet &operator=(const Worksheet &) = delete;
    // Rows.Count: the rows the sheet can hold (1,048,576 for .xlsx and .ods, 65,536 for .xls).
    int rowCount() const;
    // The number of rows that hold at least one value.
    int usedRowCount();
    // Range(Cells(1, column), ...).End: the number of rows from row 1 on whose cell in the column
    // shows a text, up to the first that shows none. Costs only the stored rows.
    int leadingFilledRows(int column);
    // Range(Cells(from), Cells(to)).Value: one bulk read; the block costs only its filled cells.
    CellBlock rangeValue(CellRef from, CellRef to);
    // Range(Cells(from), Cells(to)).Value := values. Cells of the range whose value is empty become
    // empty; cells outside it keep their contents.
    void setRangeValue(CellRef from, CellRef to, const CellBlock &values);

private:
    std::shared_ptr<WorkbookContext> context_;
};

class Workbook {
public:
    explicit Workbook(std::shared_ptr<WorkbookContext> context);
    ~Workbook();
    Workbook(const Workbook &) = delete;
    Workbook &operator=(const Workbook &) = delete;
    // Worksheets(index); only the first worksheet exists for the desk.
    Worksheet &worksheet(int index);
    // False for a workbook read from a legacy .xls or an OpenDocument file: it cannot be saved.
    bool isWritable() const;
    // Writes the workbook as .xlsx: into a temporary file beside the target, flushed to the disk,
    // then renamed over it.
    void saveAs(const QString &fileName, FileCalls &files = FileCalls::system());

private:
    std::shared_ptr<WorkbookContext> context_;
    std::unique_ptr<Worksheet> first_;
};

class Workbooks {
public:
    // Without a reader process the files are read in this process.
    Workbooks(QStringList *callLog, const ReaderProcess *reader) : callLog_(callLog), reader_(reader) {}
    ~Workbooks();
    // Parts that would unpack to more than maxUnpackedBytes, together, are refused before any is
    // read: a caller that needs only small workbooks sets a lower bound than the engine's own.
    // Through a reader process the call returns when the child has answered; the event loop runs
    // meanwhile (the race goes on), and a second open during that wait is refused.
    Workbook &open(const QString &fileName, std::size_t maxUnpackedBytes = WorkbookLimits::MaxUnpackedBytes,
                   OpenFor purpose = OpenFor::Reading);
    Workbook &add();
    void closeAll();

private:
    QStringList *callLog_;
    const ReaderProcess *reader_;
    std::vector<std::unique_ptr<Workbook>> open_;
};

// One instance of the spreadsheet application. Quitting discards every workbook unsaved.
class SpreadsheetApplication {
public:
    explicit SpreadsheetApplication(QStringList *callLog = nullptr, const ReaderProcess *reader = nullptr);
    ~SpreadsheetApplication();
    void setEnableEvents(bool enable);
    bool enableEvents() const { return enableEvents_; }
    Workbooks &workbooks();
    void quit() noexcept;

private:
    QStringList *callLog_;
    bool enableEvents_ = true;
    Workbooks workbooks_;
};

// Late-bound automation of the spreadsheet application: whether a class is registered, and a new
// instance of it.
class SpreadsheetAutomation {
public:
    virtual ~SpreadsheetAutomation() = default;
    virtual bool classRegistered(const QString &progId) = 0;
    // Throws a WorkbookError when the class is not registered.
    virtual std::unique_ptr<SpreadsheetApplication> createObject(const QString &progId) = 0;
};

// The in-process engine, registered as "Excel.Application" on every installation.
class WorkbookEngine final : public SpreadsheetAutomation {
public:
    static constexpr const char *ProgId = "Excel.Application";
    bool classRegistered(const QString &progId) override;
    std::unique_ptr<SpreadsheetApplication> createObject(const QString &progId) override;
    // When set, every member call of the instances made from now on is appended by name.
    QStringList *callLog = nullptr;
    // How the instances read workbooks.
    ReaderProcess reader;
};

} // namespace platform
