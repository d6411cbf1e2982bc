#pragma once
// The process's peak resident memory (VmHWM) and its resident memory now (VmRSS) in kB, for the
// benchmarks' memory figures.

#include <fstream>
#include <string>

inline long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string name = std::string(field) + ':';
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0)
            return std::stol(line.substr(name.size()));
    return 0;
}

inline long peakKb()
{
    return statusKb("VmHWM");
}

inline long residentKb()
{
    return statusKb("VmRSS");
}
