#pragma once
// The process's peak resident memory (VmHWM) in kB, for the benchmarks' memory figures.

#include <fstream>
#include <string>

inline long peakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}
