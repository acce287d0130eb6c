// Bursts of events coalesced into a few calls.
#include "app/Coalescer.h"

#include <utility>

Coalescer::Coalescer(std::chrono::milliseconds interval, std::function<void(int others)> show,
                     runtime::Clock& clock)
    : m_show(std::move(show))
    , m_timer(clock, [this] { onTimeout(); }) {
    m_timer.setInterval(interval);
}

void Coalescer::post() {
    ++m_burst;
    if (m_timer.isActive()) {
        m_pending = true;
        return;
    }
    m_timer.start();
    m_show(m_burst - 1);
}

void Coalescer::onTimeout() {
    if (!m_pending) {
        m_burst = 0;
        return;
    }
    m_pending = false;
    m_timer.start();
    m_show(m_burst - 1);
}
