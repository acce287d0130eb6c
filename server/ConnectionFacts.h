// How far one connection's request got, how long it has waited and how its reply moves: what
// admission judges it by, with no policy attached, so that a connection can tell it without
// knowing the rule.
#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

namespace server {

/// How far a client's request got.
enum class RequestStage {
    Nothing,  ///< not a byte yet
    Begun,    ///< bytes, but no GET read
    Complete, ///< a GET read
};

/// How the bytes written to a client move, from the moment its first reply's first byte went
/// with nothing else on its way: a stretch that ends once the client has received all.
struct ReplyProgress {
    std::chrono::steady_clock::time_point since;
    /// Bytes of the stretch the client has received (the system no longer holds them).
    qint64 delivered = 0;
    /// Bytes of the stretch not received yet, in Qt's buffer or in the system's.
    qint64 remaining = 0;
};

/// What admission knows of one open connection.
struct ConnectionFacts {
    using Stage = RequestStage;
    Stage stage = Stage::Nothing;
    std::chrono::steady_clock::time_point acceptedAt;
    /// When it last sent a byte; acceptedAt until it does.
    std::chrono::steady_clock::time_point lastHeardAt;
    /// A reply on its way out, waiting for its key file, or still held by the system after the
    /// connection ended its sending side: giving way would lose it.
    bool replying = false;
    /// While bytes written have not reached the client: how they move.
    std::optional<ReplyProgress> sending;
    /// Its last reply has reached the client (as far as the system can tell); it only waits for
    /// the client to close.
    bool lingering = false;
};

} // namespace server
