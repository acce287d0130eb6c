// A clock that stands still until the test moves it, firing the timers that fall due on the way.
#pragma once

#include "runtime/Clock.h"

#include <map>
#include <utility>

class ManualClock final : public runtime::Clock {
public:
    TimePoint now() const override { return m_now; }
    /// 2026-01-05 09:41:07 local time when made (a day after its zero), moved on with now().
    QDateTime localNow() const override {
        return QDateTime(QDate(2026, 1, 4), QTime(9, 41, 7))
            .addMSecs((m_now - TimePoint{}) / std::chrono::milliseconds(1));
    }

    /// Moves the time on by `step`, firing each timer as its time comes, in the order of their
    /// times (of equal times, in the order they were set), with now() at that time.
    void advance(std::chrono::milliseconds step);

    /// Timers armed and not yet fired.
    int pending() const { return static_cast<int>(m_due.size()); }

protected:
    void arm(runtime::Timer& timer, std::chrono::milliseconds after) override;
    void disarm(runtime::Timer& timer) override;

private:
    // Well away from zero, so that "long ago" is still a valid time point.
    TimePoint m_now = TimePoint{} + std::chrono::hours(24);
    quint64 m_sequence = 0;
    std::map<std::pair<TimePoint, quint64>, runtime::Timer*> m_due;
};
