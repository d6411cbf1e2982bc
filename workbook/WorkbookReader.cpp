// Reading a workbook in a child process: the answer's framed form on both sides, and the desk's
// side of the child (start under limits, wait without blocking the event loop, check the answer).
//
// The answer, all numbers little-endian:
//   "ZKWB1\n"
//   'F' u8 format (1 .xlsx, 2 .ods, 3 .xls)
//   'R' i32 row, i32 repeat, u32 cells, then per cell: i32 column, i32 repeat, u8 type, and
//       f64 number (number, truth value, date-time) or u32 length + UTF-8 (text, error code)
//   ... one 'R' per row, ascending
//   'Z' u32 number of rows
// or "ZKWB1\n" 'E' u32 length + UTF-8 error text. Nothing may follow the last record.

#include "WorkbookParts.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

#include <sys/resource.h>

#include <cstring>

namespace platform {

namespace {

const QByteArray Magic = QByteArrayLiteral("ZKWB1\n");

void putU32(QByteArray &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
}

void putBytes(QByteArray &out, const QByteArray &bytes)
{
    putU32(out, static_cast<std::uint32_t>(bytes.size()));
    out += bytes;
}

// Reads the answer front to back; every read checks that the bytes are there.
class AnswerReader {
public:
    explicit AnswerReader(QByteArrayView bytes) : bytes_(bytes) {}
    bool atEnd() const { return pos_ == bytes_.size(); }
    qsizetype left() const { return bytes_.size() - pos_; }
    std::uint8_t u8()
    {
        need(1);
        return static_cast<std::uint8_t>(bytes_[pos_++]);
    }
    std::uint32_t u32()
    {
        need(4);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{static_cast<std::uint8_t>(bytes_[pos_ + i])} << (8 * i);
        pos_ += 4;
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    double f64()
    {
        need(8);
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t{static_cast<std::uint8_t>(bytes_[pos_ + i])} << (8 * i);
        pos_ += 8;
        double d;
        std::memcpy(&d, &v, sizeof d);
        return d;
    }
    QByteArrayView bytes(std::uint32_t n)
    {
        need(n);
        const QByteArrayView out = bytes_.sliced(pos_, n);
        pos_ += n;
        return out;
    }
private:
    void need(qsizetype n)
    {
        if (n > left())
            throw std::out_of_range("answer");
    }
    QByteArrayView bytes_;
    qsizetype pos_ = 0;
};

// why is a sentence; suspect adds that the fault lies with the file.
[[noreturn]] void notRead(const QString &file, const QString &why, bool suspect = true)
{
    throw WorkbookError(QStringLiteral("Die Datei \"%1\" konnte nicht gelesen werden: %2").arg(file, why)
                        + (suspect ? QStringLiteral(" Sie ist vermutlich beschädigt oder keine gültige Arbeitsmappe.")
                                   : QString()));
}

QString text(QByteArrayView utf8, bool *ok)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString out = decoder.decode(utf8);
    *ok = !decoder.hasError();
    return out;
}

} // namespace

QByteArray encodeReaderAnswer(WorkbookFormat format, const SheetData &sheet)
{
    QByteArray out = Magic;
    out += 'F';
    out += static_cast<char>(format);
    for (const SheetData::Row &row : sheet.rows) {
        out += 'R';
        putU32(out, static_cast<std::uint32_t>(row.row));
        putU32(out, static_cast<std::uint32_t>(row.repeat));
        putU32(out, static_cast<std::uint32_t>(row.cells.size()));
        for (const SheetData::Cell &cell : row.cells) {
            putU32(out, static_cast<std::uint32_t>(cell.col));
            putU32(out, static_cast<std::uint32_t>(cell.repeat));
            out += static_cast<char>(cell.value.type);
            if (cell.value.type == CellValue::Type::Text || cell.value.type == CellValue::Type::Error) {
                putBytes(out, cell.value.text.toUtf8());
            } else {
                std::uint64_t v;
                std::memcpy(&v, &cell.value.number, sizeof v);
                putU32(out, static_cast<std::uint32_t>(v));
                putU32(out, static_cast<std::uint32_t>(v >> 32));
            }
        }
    }
    out += 'Z';
    putU32(out, static_cast<std::uint32_t>(sheet.rows.size()));
    return out;
}

QByteArray encodeReaderError(const QString &message)
{
    QByteArray out = Magic;
    out += 'E';
    putBytes(out, message.toUtf8());
    return out;
}

ReaderAnswer decodeReaderAnswer(QByteArrayView bytes, const QString &fileName)
{
    const QString invalid = QStringLiteral("die Antwort des Leseprogramms ist ungültig.");
    if (!bytes.startsWith(Magic))
        notRead(fileName, invalid);
    AnswerReader in(bytes.sliced(Magic.size()));
    ReaderAnswer answer;
    try {
        const char tag = static_cast<char>(in.u8());
        if (tag == 'E') {
            bool ok = false;
            const QString message = text(in.bytes(in.u32()), &ok);
            if (!ok || !in.atEnd() || message.isEmpty() || message.size() > 4096)
                notRead(fileName, invalid);
            throw WorkbookError(message);
        }
        const std::uint8_t format = in.u8();
        if (tag != 'F' || format < static_cast<std::uint8_t>(WorkbookFormat::Xlsx)
            || format > static_cast<std::uint8_t>(WorkbookFormat::Xls))
            notRead(fileName, invalid);
        answer.format = static_cast<WorkbookFormat>(format);
        std::uint32_t rows = 0;
        long long nextRow = 1;
        unsigned long long chars = 0;
        for (char next = static_cast<char>(in.u8()); next != 'Z'; next = static_cast<char>(in.u8())) {
            if (next != 'R')
                notRead(fileName, invalid);
            SheetData::Row row{in.i32(), in.i32(), {}};
            const std::uint32_t cells = in.u32();
            // Rows ascend, each once, inside the sheet; a row holds at least one cell, and never
            // more than the answer has bytes for.
            if (row.row < nextRow || row.repeat < 1 || row.repeat > MaxSheetRows - row.row + 1 || cells < 1
                || cells > static_cast<std::uint64_t>(in.left()) / 13)
                notRead(fileName, invalid);
            nextRow = static_cast<long long>(row.row) + row.repeat;
            row.cells.reserve(cells);
            for (std::uint32_t i = 0; i < cells; ++i) {
                SheetData::Cell cell{in.i32(), in.i32(), {}};
                if (cell.col < 1 || cell.col > MaxSheetCols || cell.repeat < 1 || cell.repeat > MaxSheetCols - cell.col + 1)
                    notRead(fileName, invalid);
                const std::uint8_t type = in.u8();
                switch (static_cast<CellValue::Type>(type)) {
                case CellValue::Type::Text:
                case CellValue::Type::Error: {
                    const std::uint32_t n = in.u32();
                    if (n > 3u * WorkbookLimits::MaxCellChars)
                        notRead(fileName, invalid);
                    bool ok = false;
                    cell.value.type = static_cast<CellValue::Type>(type);
                    cell.value.text = text(in.bytes(n), &ok);
                    if (!ok || cell.value.isEmpty() || cell.value.text.size() > WorkbookLimits::MaxCellChars)
                        notRead(fileName, invalid);
                    break;
                }
                case CellValue::Type::Number:
                case CellValue::Type::Boolean:
                case CellValue::Type::DateTime:
                    cell.value.type = static_cast<CellValue::Type>(type);
                    cell.value.number = in.f64();
                    break;
                default:
                    notRead(fileName, invalid);
                }
                chars += static_cast<unsigned long long>(std::max<qsizetype>(cell.value.text.size(), 1))
                         * static_cast<unsigned long long>(row.repeat) * static_cast<unsigned long long>(cell.repeat);
                if (chars > WorkbookLimits::MaxSheetChars)
                    notRead(fileName, invalid);
                row.cells.push_back(std::move(cell));
            }
            answer.sheet.rows.push_back(std::move(row));
            ++rows;
        }
        if (in.u32() != rows || !in.atEnd())
            notRead(fileName, invalid);
    } catch (const std::out_of_range &) {
        notRead(fileName, invalid);
    }
    return answer;
}

QString defaultReaderProgram()
{
    return readerProgramFor(QCoreApplication::applicationDirPath());
}

QString readerProgramFor(const QString &programFolder)
{
    const QDir dir(programFolder);
    for (const QString &candidate : {dir.filePath(QStringLiteral("zielkron-workbook-reader")),
                                     dir.filePath(QStringLiteral("../libexec/zielkron/zielkron-workbook-reader"))}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.canonicalFilePath();
    }
    return {};
}

namespace {

// Whether this build runs under AddressSanitizer, whose shadow memory a limit of the address
// space would not leave room for.
constexpr bool UnderAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// One read at a time: a second open while the event loop runs during a read is refused.
bool reading = false;

} // namespace

std::shared_ptr<WorkbookContext> readInChildProcess(const ReaderProcess &reader, const QString &fileName,
                                                    std::size_t maxUnpacked, OpenFor purpose)
{
    if (reader.program.isEmpty())
        notRead(fileName,
                QStringLiteral("das Leseprogramm für Arbeitsmappen (zielkron-workbook-reader) fehlt neben dem Programm."),
                false);
    // A file that is not there is told as the reader tells it, without a child.
    if (!QFileInfo(fileName).isFile())
        return readWorkbook(fileName, maxUnpacked, purpose);
    if (reading)
        throw WorkbookError(QStringLiteral("Die Datei \"%1\" wird nicht geöffnet: es wird gerade eine andere Arbeitsmappe "
                                           "gelesen.")
                                .arg(fileName));
    reading = true;
    struct Done {
        ~Done() { reading = false; }
    } done;

    QProcess child;
    child.setProgram(reader.program);
    child.setArguments({purpose == OpenFor::Writing ? QStringLiteral("write") : QStringLiteral("read"),
                        QString::number(maxUnpacked), fileName});
    child.setStandardInputFile(QProcess::nullDevice());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Between fork and exec: only system calls. Processor time ends the child with SIGXCPU (and
    // SIGKILL a second later); no core file, no file written, no memory beyond the bound.
    const rlim_t seconds = static_cast<rlim_t>((reader.timeoutMs + 999) / 1000);
    const rlim_t memory = reader.memoryBytes;
    child.setChildProcessModifier([seconds, memory] {
        const rlimit cpu{seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &cpu);
        const rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
        setrlimit(RLIMIT_FSIZE, &none);
        if (!UnderAddressSanitizer) {
            const rlimit address{memory, memory};
            setrlimit(RLIMIT_AS, &address);
        }
    });

    QByteArray answer;
    bool flooded = false;
    bool timedOut = false;
    QObject::connect(&child, &QProcess::readyReadStandardOutput, &child, [&] {
        answer += child.readAllStandardOutput();
        if (answer.size() > MaxReaderAnswerBytes && !flooded) {
            flooded = true;
            child.kill();
        }
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &child, [&] {
        timedOut = true;
        child.kill();
    });
    child.start();
    if (!child.waitForStarted(5000))
        notRead(fileName,
                QStringLiteral("das Leseprogramm \"%1\" kann nicht gestartet werden (%2).").arg(reader.program, child.errorString()),
                false);
    if (QCoreApplication::instance()) {
        // Signals of the child arrive only through the event loop: none is missed before it runs.
        QEventLoop loop;
        QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        timer.start(reader.timeoutMs);
        loop.exec();
    } else if (!child.waitForFinished(reader.timeoutMs)) {
        timedOut = true;
    }
    if (child.state() != QProcess::NotRunning) {
        // The desk is closing (its event loop ended this one), or the child outlived its time.
        child.kill();
        child.waitForFinished(1000);
        if (!timedOut)
            notRead(fileName, QStringLiteral("das Lesen wurde abgebrochen."), false);
    }
    answer += child.readAllStandardOutput();
    if (timedOut)
        notRead(fileName, QStringLiteral("das Lesen dauerte länger als %1 Sekunden und wurde abgebrochen.")
                              .arg(QLocale().toString(reader.timeoutMs / 1000.0)));
    if (flooded || answer.size() > MaxReaderAnswerBytes)
        notRead(fileName, QStringLiteral("das Leseprogramm lieferte mehr Daten, als eine Arbeitsmappe haben kann."));
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        notRead(fileName, QStringLiteral("das Leseprogramm ist dabei abgestürzt oder hat die Grenze von %1 MB "
                                         "Arbeitsspeicher oder %2 Sekunden Rechenzeit überschritten.")
                              .arg(reader.memoryBytes >> 20)
                              .arg(seconds));

    ReaderAnswer read = decodeReaderAnswer(answer, fileName);
    auto context = std::make_shared<WorkbookContext>();
    context->fileName = fileName;
    context->format = read.format;
    context->data = std::move(read.sheet);
    context->maxUnpacked = maxUnpacked;
    context->packagePending = read.format == WorkbookFormat::Xlsx;
    return context;
}

} // namespace platform
