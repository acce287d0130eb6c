// The product's clock: the steady clock and Qt's timers.
#include "runtime/Clock.h"

#include <QObject>
#include <QTimer>

#include <utility>

namespace runtime {

namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    QDateTime localNow() const override { return QDateTime::currentDateTime(); }

protected:
    void arm(Timer& timer, std::chrono::milliseconds after) override {
        nativeOf(timer).start(after);
    }
    void disarm(Timer& timer) override { nativeOf(timer).stop(); }
};

} // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

void Clock::fire(Timer& timer) {
    timer.m_active = false;
    timer.m_fire();
}

QTimer& Clock::nativeOf(Timer& timer) {
    if (!timer.m_native) {
        timer.m_native = std::make_unique<QTimer>();
        timer.m_native->setSingleShot(true);
        // A coarse timer may fire up to 5 % early: a ten-second timeout must not be 9.5.
        timer.m_native->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.m_native.get(), &QTimer::timeout, [&timer] { fire(timer); });
    }
    return *timer.m_native;
}

Timer::Timer(Clock& clock, std::function<void()> fire)
    : m_clock(&clock)
    , m_fire(std::move(fire)) {}

Timer::~Timer() {
    stop();
}

void Timer::start(std::chrono::milliseconds after) {
    m_interval = after;
    m_active = true;
    m_clock->arm(*this, after);
}

void Timer::stop() {
    if (!m_active)
        return;
    m_active = false;
    m_clock->disarm(*this);
}

} // namespace runtime
