// One connection's deadlines and the pace of its replies.
#include "server/Deadlines.h"

#include <algorithm>

namespace server {

namespace {
qint64 millisecondsBetween(Deadlines::TimePoint from, Deadlines::TimePoint to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}
} // namespace

Deadlines::Deadlines(std::chrono::milliseconds timeout, std::chrono::milliseconds linger)
    : m_timeout(timeout)
    , m_linger(linger) {}

void Deadlines::accepted(TimePoint now) {
    m_acceptedAt = now;
}

void Deadlines::sending(TimePoint now, qint64 taken, qint64 unsent) {
    if (unsent > 0 && (!m_unsent || taken > 0))
        m_progressAt = now;
    m_unsent = unsent > 1;
}

void Deadlines::lingering(TimePoint now) {
    m_lingering = true;
    m_lingerFrom = now;
    m_lingerFor = std::min(m_timeout, m_linger);
}

void Deadlines::delivering(TimePoint now) {
    m_lingerFrom = now;
    m_lingerFor = m_timeout;
}

Deadlines::Due Deadlines::due() const {
    if (m_lingering)
        return {Kind::Linger, m_lingerFrom + m_lingerFor};
    if (m_unsent)
        return {Kind::SendProgress, m_progressAt + m_timeout};
    if (!m_requestRead)
        return {Kind::RequestLine, m_acceptedAt + m_timeout};
    return {};
}

std::optional<qint64> Deadlines::paceOf(const ReplyProgress& progress, TimePoint now) {
    const qint64 elapsed = millisecondsBetween(progress.since, now);
    if (progress.remaining <= 0 || elapsed < kPaceGrace.count())
        return std::nullopt;
    return progress.delivered * 1000 / elapsed;
}

bool Deadlines::replyIsStuck(const ReplyProgress& progress, TimePoint now) {
    if (!paceOf(progress, now))
        return false;
    const qint64 elapsed = millisecondsBetween(progress.since, now);
    const qint64 left = kReplyBound.count() - elapsed;
    // At the pace so far the rest takes remaining * elapsed / delivered: more than is left.
    return left <= 0 || progress.remaining * elapsed > progress.delivered * left;
}

} // namespace server
