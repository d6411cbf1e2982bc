#include "Workbook.h"

#include "WorkbookParts.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Values

CellValue CellValue::fromText(QString text)
{
    CellValue v;
    v.type = Type::Text;
    v.text = std::move(text);
    return v;
}

CellValue CellValue::fromNumber(double value)
{
    CellValue v;
    v.type = Type::Number;
    v.number = value;
    return v;
}

CellValue CellValue::fromBoolean(bool value)
{
    CellValue v;
    v.type = Type::Boolean;
    v.number = value ? 1 : 0;
    return v;
}

CellValue CellValue::fromDateTime(double serial)
{
    CellValue v;
    v.type = Type::DateTime;
    v.number = serial;
    return v;
}

CellValue CellValue::fromError(QString code)
{
    CellValue v;
    v.type = Type::Error;
    v.text = std::move(code);
    return v;
}

namespace {

const QDate &serialEpoch()
{
    static const QDate epoch(1899, 12, 30);
    return epoch;
}

QString numberText(double value, const QLocale &base)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == 0)
        value = 0; // no "-0"
    QLocale locale = base;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const double magnitude = std::fabs(value);
    // Plain digits in the range a person writes by hand, the exponent form only outside it.
    if (value == 0 || (magnitude >= 1e-5 && magnitude < 1e15))
        return locale.toString(value, 'f', QLocale::FloatingPointShortest);
    return locale.toString(value, 'E', QLocale::FloatingPointShortest);
}

QString dateFormatOf(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    static const QRegularExpression years(QStringLiteral("y+"));
    format.replace(years, QStringLiteral("yyyy"));
    return format;
}

QString timeFormatOf(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

} // namespace

QString cellText(const CellValue &value, const QLocale &locale)
{
    switch (value.type) {
    case CellValue::Type::Empty:
        return {};
    case CellValue::Type::Text:
    case CellValue::Type::Error:
        return value.text;
    case CellValue::Type::Boolean:
        return value.number != 0 ? QStringLiteral("True") : QStringLiteral("False");
    case CellValue::Type::Number:
        return numberText(value.number, locale);
    case CellValue::Type::DateTime: {
        if (!std::isfinite(value.number) || std::fabs(value.number) > 3e6)
            return numberText(value.number, locale);
        double days = std::floor(value.number);
        auto ms = static_cast<qint64>(std::llround((value.number - days) * 86400000.0));
        if (ms >= 86400000) {
            days += 1;
            ms -= 86400000;
        }
        const QDate date = serialEpoch().addDays(static_cast<qint64>(days));
        const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
        if (days == 0 && ms != 0)
            return locale.toString(time, timeFormatOf(locale));
        if (ms == 0)
            return locale.toString(date, dateFormatOf(locale));
        return locale.toString(date, dateFormatOf(locale)) + QLatin1Char(' ')
               + locale.toString(time, timeFormatOf(locale));
    }
    }
    return {};
}

double dateTimeSerial(int year, int month, int day, int hour, int minute, double second)
{
    const QDate date(year, month, day);
    const double days = date.isValid() ? static_cast<double>(serialEpoch().daysTo(date)) : 0.0;
    return days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

// ---------------------------------------------------------------------------------------------
// Blocks

CellBlock::CellBlock(int rows, int cols) : rowCount_(std::max(rows, 0)), colCount_(std::max(cols, 0)) {}

const CellValue &CellBlock::at(int row, int col) const
{
    static const CellValue empty;
    if (col < 1 || col > colCount_)
        return empty;
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), row,
                                     [](const Row &r, int index) { return r.index < index; });
    if (it == rows_.end() || it->index != row)
        return empty;
    return it->cells[static_cast<std::size_t>(col - 1)];
}

void CellBlock::set(int row, int col, CellValue value)
{
    if (row < 1 || row > rowCount_ || col < 1 || col > colCount_)
        throw WorkbookError(QStringLiteral("Zelle (%1, %2) liegt außerhalb des Bereichs").arg(row).arg(col));
    auto it = rows_.end();
    if (rows_.empty() || rows_.back().index < row) {
        rows_.push_back({row, std::vector<CellValue>(static_cast<std::size_t>(colCount_))});
        it = rows_.end() - 1;
    } else {
        it = std::lower_bound(rows_.begin(), rows_.end(), row, [](const Row &r, int index) { return r.index < index; });
        if (it == rows_.end() || it->index != row)
            it = rows_.insert(it, {row, std::vector<CellValue>(static_cast<std::size_t>(colCount_))});
    }
    it->cells[static_cast<std::size_t>(col - 1)] = std::move(value);
}

// ---------------------------------------------------------------------------------------------
// Worksheet, workbook, collection, application

namespace {
void logCall(const WorkbookContext &context, const char *member)
{
    if (context.callLog)
        context.callLog->append(QString::fromLatin1(member));
}
void logCall(QStringList *log, const char *member)
{
    if (log)
        log->append(QString::fromLatin1(member));
}
} // namespace

Worksheet::Worksheet(std::shared_ptr<WorkbookContext> context) : context_(std::move(context)) {}
Worksheet::~Worksheet() = default;

int Worksheet::rowCount() const
{
    logCall(*context_, "Rows.Count");
    return context_->format == WorkbookFormat::Xls ? 65536 : MaxSheetRows;
}

int Worksheet::usedRowCount()
{
    logCall(*context_, "UsedRange.Rows.Count");
    return context_->sheet().usedRows();
}

int Worksheet::leadingFilledRows(int column)
{
    logCall(*context_, "Range.End");
    long long next = 1;
    for (const SheetData::Row &row : context_->sheet().rows) {
        if (row.row != next)
            break; // a row without any value lies between
        // As in the bulk read, a later cell over the same column wins.
        const CellValue *value = nullptr;
        for (const SheetData::Cell &cell : row.cells)
            if (cell.col <= column && column - cell.col < cell.repeat)
                value = &cell.value;
        if (!value || cellText(*value).isEmpty())
            break;
        next = row.row + static_cast<long long>(row.repeat);
    }
    return static_cast<int>(next - 1);
}

CellBlock Worksheet::rangeValue(CellRef from, CellRef to)
{
    logCall(*context_, "Range.Value");
    const int r1 = std::max(1, std::min(from.row, to.row));
    const int r2 = std::min(MaxSheetRows, std::max(from.row, to.row));
    const int c1 = std::max(1, std::min(from.col, to.col));
    const int c2 = std::min(MaxSheetCols, std::max(from.col, to.col));
    CellBlock block(r2 - r1 + 1, c2 - c1 + 1);
    const SheetData &sheet = context_->sheet();
    for (const SheetData::Row &row : sheet.rows) {
        if (row.row > r2)
            break;
        const int first = std::max(row.row, r1);
        const int last = std::min(r2, row.row + row.repeat - 1);
        for (int r = first; r <= last; ++r)
            for (const SheetData::Cell &cell : row.cells) {
                const int cFirst = std::max(cell.col, c1);
                const int cLast = std::min(c2, cell.col + cell.repeat - 1);
                for (int c = cFirst; c <= cLast; ++c)
                    block.set(r - r1 + 1, c - c1 + 1, cell.value);
            }
    }
    return block;
}

void Worksheet::setRangeValue(CellRef from, CellRef to, const CellBlock &values)
{
    logCall(*context_, "Range.Value=");
    writeSheetBlock(*context_, from, to, values);
}

Workbook::Workbook(std::shared_ptr<WorkbookContext> context)
    : context_(std::move(context)), first_(std::make_unique<Worksheet>(context_))
{
}
Workbook::~Workbook() = default;

Worksheet &Workbook::worksheet(int index)
{
    logCall(*context_, "Worksheets");
    if (index != 1)
        throw WorkbookError(QStringLiteral("Die Arbeitsmappe hat kein Tabellenblatt Nr. %1.").arg(index));
    return *first_;
}

bool Workbook::isWritable() const
{
    return context_->format == WorkbookFormat::Xlsx || context_->format == WorkbookFormat::New;
}

void Workbook::saveAs(const QString &fileName, FileCalls &files)
{
    logCall(*context_, "SaveAs");
    if (!isWritable())
        throw WorkbookError(QStringLiteral("Die Arbeitsmappe \"%1\" kann nur gelesen werden; bitte als .xlsx speichern.")
                                .arg(context_->fileName));
    saveWorkbook(*context_, fileName, files);
}

Workbooks::~Workbooks() = default;

Workbook &Workbooks::open(const QString &fileName, std::size_t maxUnpackedBytes, OpenFor purpose)
{
    logCall(callLog_, "Workbooks.Open");
    const std::size_t limit = std::min(maxUnpackedBytes, WorkbookLimits::MaxUnpackedBytes);
    auto context = reader_ ? readInChildProcess(*reader_, fileName, limit, purpose) : readWorkbook(fileName, limit, purpose);
    context->callLog = callLog_;
    open_.push_back(std::make_unique<Workbook>(std::move(context)));
    return *open_.back();
}

Workbook &Workbooks::add()
{
    logCall(callLog_, "Workbooks.Add");
    auto context = newWorkbook();
    context->callLog = callLog_;
    open_.push_back(std::make_unique<Workbook>(std::move(context)));
    return *open_.back();
}

void Workbooks::closeAll() { open_.clear(); }

SpreadsheetApplication::SpreadsheetApplication(QStringList *callLog, const ReaderProcess *reader)
    : callLog_(callLog), workbooks_(callLog, reader)
{
}
SpreadsheetApplication::~SpreadsheetApplication() = default;

void SpreadsheetApplication::setEnableEvents(bool enable)
{
    logCall(callLog_, "EnableEvents");
    enableEvents_ = enable;
}

Workbooks &SpreadsheetApplication::workbooks() { return workbooks_; }

void SpreadsheetApplication::quit() noexcept
{
    logCall(callLog_, "Quit");
    workbooks_.closeAll();
}

bool WorkbookEngine::classRegistered(const QString &progId)
{
    return progId.compare(QLatin1String(ProgId), Qt::CaseInsensitive) == 0;
}

std::unique_ptr<SpreadsheetApplication> WorkbookEngine::createObject(const QString &progId)
{
    if (!classRegistered(progId))
        throw WorkbookError(QStringLiteral("Ungültige Klassenzeichenfolge: \"%1\"").arg(progId));
    return std::make_unique<SpreadsheetApplication>(callLog, &reader);
}

} // namespace platform
