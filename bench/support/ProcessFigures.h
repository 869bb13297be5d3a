#pragma once

#include <fstream>
#include <string>

#include <sys/resource.h>

// Figures of this process the benchmarks print (Linux).
namespace ProcessFigures {

// Peak resident memory (VmHWM), KiB; -1 when it cannot be read.
inline long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// CPU time of the whole process (every thread, user and system), seconds.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace ProcessFigures
