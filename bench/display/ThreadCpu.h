#pragma once

#include <QString>

#include <map>

// CPU time of this process's threads, read from /proc/self/task/<tid>/stat
// (user + system, in clock ticks). Linux only; empty elsewhere.
class ThreadCpu
{
public:
    struct Thread {
        QString name;
        long long ticks = 0;
    };
    // Every thread of the process by id.
    static std::map<long, Thread> sample();
    static long ticksPerSecond();
    static long mainThreadId();
};
