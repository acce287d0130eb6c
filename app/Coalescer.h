// Turns a stream of events into a few calls: the first at once, then at most one per interval
// for as long as they keep coming, so that a flood cannot drive what reacts to it.
#pragma once

#include "runtime/Clock.h"

#include <chrono>
#include <functional>

class Coalescer {
public:
    /// Events closer together than this are one burst: about four changes a second at most.
    static constexpr std::chrono::milliseconds kInterval{250};

    /// `show(others)` is called at once for an event that ends a quiet spell (`others` 0), then
    /// at most once per `interval` while more come, the last time after the last of them;
    /// `others` counts the events of the burst that came before the latest. A burst ends once
    /// an interval has passed without an event. The intervals are kept on `clock`.
    Coalescer(std::chrono::milliseconds interval, std::function<void(int others)> show,
              runtime::Clock& clock = runtime::Clock::system());
    Q_DISABLE_COPY_MOVE(Coalescer)

    /// One more event.
    void post();

private:
    void onTimeout();

    std::function<void(int others)> m_show;
    runtime::Timer m_timer;
    /// Events since the burst began.
    int m_burst = 0;
    /// Whether events came since `show` was last called.
    bool m_pending = false;
};
