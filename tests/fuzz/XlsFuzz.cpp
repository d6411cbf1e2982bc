// Legacy .xls as the desk reads it: through the reader program, in a child process. FreeXL has
// memory errors on crafted files that the desk cannot mend (the child ends, the desk shows an
// error); what is fuzzed here is that nothing the child does, crash or answer, harms the desk.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const platform::ReaderProcess reader{QStringLiteral(ZK_WORKBOOK_READER), 10000, std::size_t{512} << 20};
    const QString file = fuzz::scratchFile("fuzz.xls");
    fuzz::writeFile(file, data, size);
    try {
        const auto context = platform::readInChildProcess(reader, file, std::size_t{4} << 20, platform::OpenFor::Reading);
        platform::Worksheet sheet(context);
        const int rows = std::min(sheet.leadingFilledRows(1), 2000);
        const platform::CellBlock block = sheet.rangeValue({1, 1}, {std::max(rows, 1), 7});
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= 7; ++c)
                platform::cellText(block.at(r, c));
    } catch (const platform::WorkbookError &) {
    }
    return 0;
}
