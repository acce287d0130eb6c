// The computer's alert sound, sounded once per burst of key requests: on Windows each sound is a
// system sound, and a flood of requests must not become a storm of them.
#pragma once

#include "app/Coalescer.h"

#include <QObject>

#include <chrono>
#include <functional>

class Alert : public QObject {
    Q_OBJECT

public:
    /// The toolkit's own alert sound.
    static void systemBell();

    /// `bell` makes the sound; requests closer together than `burstGap` (on `clock`) are one
    /// burst.
    Alert(std::function<void()> bell, std::chrono::milliseconds burstGap,
          runtime::Clock& clock = runtime::Clock::system(), QObject* parent = nullptr);

    /// Called for every request that sounds the alert: one after a quiet spell sounds at once;
    /// those that follow it within the burst sound nothing more.
    void sound();

private:
    Coalescer m_bursts;
};
