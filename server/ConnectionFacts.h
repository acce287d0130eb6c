// How far one connection's request got and how long it has waited: what admission judges it by,
// with no policy attached, so that a connection can tell it without knowing the rule.
#pragma once

#include <chrono>
#include <optional>

namespace server {

/// How far a client's request got.
enum class RequestStage {
    Nothing,  ///< not a byte yet
    Begun,    ///< bytes, but no complete request line
    Complete, ///< a request line handled, nothing left to send for it
};

/// What admission knows of one open connection.
struct ConnectionFacts {
    using Stage = RequestStage;
    Stage stage = Stage::Nothing;
    std::chrono::steady_clock::time_point acceptedAt;
    /// When it last sent a byte; acceptedAt until it does.
    std::chrono::steady_clock::time_point lastHeardAt;
    /// A reply on its way out or waiting for its key file: giving way would lose it.
    bool replying = false;
    /// While a reply has bytes the system has not taken: when it last took some.
    std::optional<std::chrono::steady_clock::time_point> replyMovedAt;
    /// Its last reply has left; it only waits for the client to close.
    bool lingering = false;
};

} // namespace server
