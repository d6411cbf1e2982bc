// Legacy .xls as the start-list import reads it, directly. FreeXL leaks on some damaged files
// (the desk reads them in a child process, whose end frees everything): leaks are not findings.

#include "FuzzSupport.h"

extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString file = fuzz::scratchFile("fuzz.xls");
    fuzz::writeFile(file, data, size);
    fuzz::readAsTheDeskDoes(file);
    return 0;
}
