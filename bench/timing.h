// The clock of the benchmark programs and the one line per sample that
// scripts/bench.sh reads: "<series> <seconds>".
#pragma once

#include <windows.h>

#include <cstdio>

inline double secondsNow()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Flushed at once: a program that fails later still leaves what it measured.
inline void printSample(const char *series, double seconds)
{
    std::printf("%s %.9f\n", series, seconds);
    std::fflush(stdout);
}

// The benchmark's runs alternate their order, so that neither side always
// runs second, in the caches the other has just warmed.
inline bool firstSideFirst(int run)
{
    return run % 2 == 0;
}
