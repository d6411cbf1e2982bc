// The answer of a reader process as the desk checks it: whatever a child that was taken over
// writes, the desk takes a valid sheet or refuses; a sheet it takes is handed on unchanged.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    try {
        const platform::ReaderAnswer answer = platform::decodeReaderAnswer(bytes, QStringLiteral("x.xlsx"));
        const QByteArray again = platform::encodeReaderAnswer(answer.format, answer.sheet);
        if (!fuzz::sameSheet(platform::decodeReaderAnswer(again, QStringLiteral("x.xlsx")).sheet, answer.sheet))
            std::abort();
    } catch (const platform::WorkbookError &) {
    }
    return 0;
}
