// .ods as the start-list import reads it: the input is content.xml, or a whole file.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString file = fuzz::scratchFile("fuzz.ods");
    if (fuzz::isWholeFile(data, size))
        fuzz::writeFile(file, data, size);
    else
        fuzz::writeZip(file, {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                              {"content.xml", std::string(reinterpret_cast<const char *>(data), size)}});
    fuzz::readAsTheDeskDoes(file);
    return 0;
}
