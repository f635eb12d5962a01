#pragma once

// What the test process holds, as the kernel lists it: its threads
// (/proc/self/task) and its open file descriptors (/proc/self/fd). A stopped
// camera must leave both where they were before it started.
//
// A joined thread leaves the list a moment after join() returns (the kernel
// wakes the joiner before it reaps the thread): compare thread counts with
// QTRY_COMPARE.

#include <filesystem>

inline int entriesOf(const char* Directory)
{
    int Count = 0;
    for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator(Directory))
        ++Count;
    return Count;
}

inline int threadCount() { return entriesOf("/proc/self/task"); }
// Counts the descriptor that reads the list too, every time alike.
inline int descriptorCount() { return entriesOf("/proc/self/fd"); }
