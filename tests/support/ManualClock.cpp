// The test clock.
#include "support/ManualClock.h"

#include <iterator>

void ManualClock::advance(std::chrono::milliseconds step) {
    const TimePoint until = m_now + step;
    while (!m_due.empty() && m_due.begin()->first.first <= until) {
        const auto first = m_due.begin();
        runtime::Timer& timer = *first->second;
        m_now = first->first.first;
        m_due.erase(first);
        fire(timer);
    }
    m_now = until;
}

void ManualClock::arm(runtime::Timer& timer, std::chrono::milliseconds after) {
    disarm(timer);
    m_due.emplace(std::make_pair(m_now + after, m_sequence++), &timer);
}

void ManualClock::disarm(runtime::Timer& timer) {
    for (auto entry = m_due.begin(); entry != m_due.end(); ++entry) {
        if (entry->second == &timer) {
            m_due.erase(entry);
            return;
        }
    }
}
