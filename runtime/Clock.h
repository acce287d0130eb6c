// Where time-driven code reads the time and sets its deadlines: the steady clock and Qt's timers in
// the product, a clock moved by hand in tests, so that no unit test waits for real time to pass.
#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>

class QTimer;

namespace runtime {

class Timer;

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    /// The steady clock, with deadlines kept by Qt's precise timers on the event loop of the
    /// thread that starts them.
    static Clock& system();

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    /// The local date and time, as the user reads it on the computer's clock: only for showing,
    /// never for deadlines, since it jumps when the clock is set.
    virtual QDateTime localNow() const = 0;

protected:
    friend class Timer;
    /// Sets `timer` to fire once, `after` from now, replacing its deadline if it had one.
    virtual void arm(Timer& timer, std::chrono::milliseconds after) = 0;
    /// Clears `timer`'s deadline; nothing happens if it had none.
    virtual void disarm(Timer& timer) = 0;
    /// Fires `timer`: it is no longer active when its call starts, and may be started again
    /// from it.
    static void fire(Timer& timer);
    /// The Qt timer that the system clock keeps for `timer`, made on first use.
    static QTimer& nativeOf(Timer& timer);
};

/// A single-shot timer on a Clock, shaped like QTimer: starting an active timer restarts it.
/// The call never comes after stop() or destruction.
class Timer {
public:
    Timer(Clock& clock, std::function<void()> fire);
    ~Timer();
    Q_DISABLE_COPY_MOVE(Timer)

    /// Fires once, `after` from now; the interval is kept for start() without one.
    void start(std::chrono::milliseconds after);
    void start() { start(m_interval); }
    void stop();
    bool isActive() const { return m_active; }
    std::chrono::milliseconds interval() const { return m_interval; }
    void setInterval(std::chrono::milliseconds interval) { m_interval = interval; }

    Clock& clock() const { return *m_clock; }

private:
    friend class Clock;

    Clock* m_clock;
    std::function<void()> m_fire;
    std::chrono::milliseconds m_interval{0};
    bool m_active = false;
    std::unique_ptr<QTimer> m_native;
};

} // namespace runtime
