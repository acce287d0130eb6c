// The heap's freed memory, given back where the C library offers a way (glibc); elsewhere the
// allocator (Windows' heap, other C libraries) returns freed pages on its own.
#include "runtime/FreedMemory.h"

#include <algorithm>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace runtime {

std::size_t heapFreeBytes() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    // Summed over every arena, those of the worker threads included.
    return mallinfo2().fordblks;
#else
    return 0;
#endif
}

void releaseFreeHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

FreedMemory::FreedMemory(Clock& clock, QObject* parent, std::function<std::size_t()> freeBytes,
                         std::function<void()> release, std::chrono::milliseconds interval)
    : QObject(parent)
    , m_freeBytes(std::move(freeBytes))
    , m_release(std::move(release))
    , m_timer(clock, [this] {
        check();
        m_timer.start();
    }) {
    m_timer.setInterval(interval);
    m_floor = m_freeBytes();
    m_timer.start();
}

void FreedMemory::check() {
    const std::size_t held = m_freeBytes();
    if (held < m_floor + kWorthReleasing) {
        m_floor = std::min(m_floor, held);
        return;
    }
    m_release();
    m_floor = m_freeBytes();
}

} // namespace runtime
