// Turns a stream of events into a few calls: the first at once, then at most one per interval
// for as long as they keep coming, so that a flood cannot drive what reacts to it.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class Coalescer : public QObject {
    Q_OBJECT

public:
    /// Events closer together than this are one burst: about four changes a second at most.
    static constexpr std::chrono::milliseconds kInterval{250};

    /// `show(others)` is called at once for an event that ends a quiet spell (`others` 0), then
    /// at most once per `interval` while more come, the last time after the last of them;
    /// `others` counts the events of the burst that came before the latest. A burst ends once
    /// an interval has passed without an event.
    Coalescer(std::chrono::milliseconds interval, std::function<void(int others)> show,
              QObject* parent = nullptr);

    /// One more event.
    void post();

private:
    void onTimeout();

    std::function<void(int others)> m_show;
    QTimer m_timer;
    /// Events since the burst began.
    int m_burst = 0;
    /// Whether events came since `show` was last called.
    bool m_pending = false;
};
