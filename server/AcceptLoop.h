// The key server's own accepting of clients: a descriptor at a time off the listening socket,
// and a growing pause when the system runs out of descriptors, rather than a stop.
#pragma once

#include "runtime/Clock.h"
#include "runtime/SocketDescriptor.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>

class QSocketNotifier;

namespace server {

/// Accepts one waiting client on the listening descriptor without blocking: the system's own
/// accept, or a stand-in that fails as an exhausted system would (tests).
using Acceptor = std::function<runtime::SocketDescriptor::Accepted(std::intptr_t listening)>;

class AcceptLoop : public QObject {
    Q_OBJECT

public:
    /// After an accept that fails for want of descriptors, buffers or memory, accepting pauses
    /// `firstPause`, doubling at each failure in a row up to `longestPause`, on `clock`.
    AcceptLoop(Acceptor accept, std::chrono::milliseconds firstPause,
               std::chrono::milliseconds longestPause, runtime::Clock& clock,
               QObject* parent = nullptr);
    ~AcceptLoop() override;

    /// Accepts the clients that come to the listening socket `listening` from now on.
    void start(std::intptr_t listening);
    /// Accepts no more; a pause in progress ends with it.
    void stop();

signals:
    /// A client has been accepted as `descriptor`, which is the receiver's to keep or close.
    void accepted(qintptr descriptor);
    /// An accept failed for want of descriptors, buffers or memory (or for a reason unknown);
    /// accepting resumes after `pauseMs` milliseconds.
    void paused(qint64 pauseMs);

private:
    /// Accepts the clients that are waiting, a bounded number per event-loop pass.
    void acceptWaiting();
    void pauseAfterFailure();

    Acceptor m_accept;
    std::chrono::milliseconds m_firstPause;
    std::chrono::milliseconds m_longestPause;
    std::chrono::milliseconds m_nextPause;
    runtime::Timer m_pause;
    QSocketNotifier* m_notifier = nullptr;
    std::intptr_t m_listening = -1;
};

} // namespace server
