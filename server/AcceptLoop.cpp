// Accepting clients off the key server's listening socket.
#include "server/AcceptLoop.h"

#include <QSocketNotifier>

#include <algorithm>
#include <utility>

namespace server {

namespace {
// Clients accepted in one pass of the event loop. Bounded, so that a flood of newcomers cannot
// starve the open connections; a newcomer with no room costs little, so many fit in a pass.
constexpr int kAcceptsPerPass = 64;
} // namespace

AcceptLoop::AcceptLoop(Acceptor accept, std::chrono::milliseconds firstPause,
                       std::chrono::milliseconds longestPause, runtime::Clock& clock,
                       QObject* parent)
    : QObject(parent)
    , m_accept(std::move(accept))
    , m_firstPause(firstPause)
    , m_longestPause(longestPause)
    , m_nextPause(firstPause)
    , m_pause(clock, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
    }) {}

AcceptLoop::~AcceptLoop() = default;

void AcceptLoop::start(std::intptr_t listening) {
    stop();
    m_listening = listening;
    m_notifier = new QSocketNotifier(static_cast<qintptr>(listening), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AcceptLoop::acceptWaiting);
}

void AcceptLoop::stop() {
    m_pause.stop();
    delete m_notifier;
    m_notifier = nullptr;
}

void AcceptLoop::acceptWaiting() {
    using Failure = runtime::SocketDescriptor::AcceptFailure;
    for (int attempt = 0; attempt < kAcceptsPerPass && m_notifier; ++attempt) {
        const runtime::SocketDescriptor::Accepted result = m_accept(m_listening);
        if (result.descriptor >= 0) {
            m_nextPause = m_firstPause;
            emit accepted(static_cast<qintptr>(result.descriptor));
            continue;
        }
        if (result.failure == Failure::NoneWaiting)
            return;
        if (result.failure != Failure::Transient) {
            pauseAfterFailure();
            return;
        }
    }
}

void AcceptLoop::pauseAfterFailure() {
    m_notifier->setEnabled(false);
    const std::chrono::milliseconds pause = m_nextPause;
    m_nextPause = std::min(2 * pause, m_longestPause);
    m_pause.start(pause);
    emit paused(pause.count());
}

} // namespace server
