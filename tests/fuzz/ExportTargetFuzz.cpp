// An existing .xlsx as the workbook export reads and writes it: the input is the target's first
// sheet, shared strings, styles and workbook part, separated by NUL bytes, or a whole file. A
// target the export takes must give back, read as the import reads, exactly what was written.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString target = fuzz::scratchFile("target.xlsx");
    const QString saved = fuzz::scratchFile("saved.xlsx");
    if (fuzz::isWholeFile(data, size))
        fuzz::writeFile(target, data, size);
    else
        fuzz::writeXlsx(target, fuzz::splitParts(data, size));
    // A table of 5 rows with gaps, and the empty row the export adds.
    platform::CellBlock block(6, 7);
    for (int r = 1; r <= 5; ++r)
        for (int c = 1; c <= 7; ++c)
            if ((r + c) % 3 != 0)
                block.set(r, c, platform::CellValue::fromText(QStringLiteral("%1%2 ").arg(QChar(u'A' + c - 1)).arg(r)));
    try {
        // The read half, as the reader process does it, then the write in the desk's process.
        platform::readWorkbook(target, platform::WorkbookLimits::MaxUnpackedBytes, platform::OpenFor::Writing);
        platform::SpreadsheetApplication app;
        platform::Workbook &book =
            app.workbooks().open(target, platform::WorkbookLimits::MaxUnpackedBytes, platform::OpenFor::Writing);
        book.worksheet(1).setRangeValue({1, 1}, {6, 7}, block);
        book.saveAs(saved);
    } catch (const platform::WorkbookError &) {
        return 0;
    }
    try {
        platform::SpreadsheetApplication app;
        const platform::CellBlock back = app.workbooks().open(saved).worksheet(1).rangeValue({1, 1}, {6, 7});
        for (int r = 1; r <= 6; ++r)
            for (int c = 1; c <= 7; ++c)
                if (platform::cellText(back.at(r, c)) != platform::cellText(block.at(r, c)))
                    std::abort();
    } catch (const platform::WorkbookError &) {
        std::abort(); // what the export wrote, the import must read
    }
    return 0;
}
