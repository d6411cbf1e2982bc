// .xlsx as the start-list import reads it: the input is the first sheet, the shared strings, the
// styles and the workbook part, separated by NUL bytes, or a whole file.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString file = fuzz::scratchFile("fuzz.xlsx");
    if (fuzz::isWholeFile(data, size))
        fuzz::writeFile(file, data, size);
    else
        fuzz::writeXlsx(file, fuzz::splitParts(data, size));
    fuzz::readAsTheDeskDoes(file);
    return 0;
}
