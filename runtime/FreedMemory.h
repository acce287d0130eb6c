// Gives the memory freed after a burst of connections back to the system. The C library keeps
// what the program frees for its next requests, and it gives back only the free top of its heap:
// after a flood, a few objects still in use above the freed ones keep tens of megabytes resident
// for good.
#pragma once

#include "runtime/Clock.h"

#include <QObject>

#include <chrono>
#include <cstddef>
#include <functional>

namespace runtime {

/// Bytes the C library's heap holds free, not given back to the system; 0 where it cannot tell.
std::size_t heapFreeBytes();

/// Gives every whole free page of the C library's heap back to the system, where it can.
void releaseFreeHeap();

class FreedMemory : public QObject {
    Q_OBJECT

public:
    /// How often the heap is looked at: often enough that a flood's memory is back within
    /// seconds of its end, seldom enough to cost nothing (a look is a walk of the free lists).
    static constexpr std::chrono::milliseconds kInterval{5000};
    /// Free bytes worth giving back: a flood frees tens of megabytes, ordinary work a few
    /// kilobytes at a time; what stays free below this is not worth a release.
    static constexpr std::size_t kWorthReleasing = std::size_t{1} << 20;

    /// Looks every `interval` on `clock`; gives the free heap back (`release`) once `freeBytes`
    /// has grown by kWorthReleasing since the last release or the least seen after it, so that
    /// free memory the heap cannot give back (bits between pages in use) starts no release again.
    explicit FreedMemory(Clock& clock = Clock::system(), QObject* parent = nullptr,
                         std::function<std::size_t()> freeBytes = &heapFreeBytes,
                         std::function<void()> release = &releaseFreeHeap,
                         std::chrono::milliseconds interval = kInterval);

private:
    void check();

    std::function<std::size_t()> m_freeBytes;
    std::function<void()> m_release;
    Timer m_timer;
    /// The free bytes the heap is expected to hold without any release being due.
    std::size_t m_floor = 0;
};

} // namespace runtime
