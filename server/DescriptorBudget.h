// How many connections the server may hold, from the descriptors the process may open: a
// connection is one descriptor, and the rest of the program must still find the descriptors it
// needs when every place is taken. A thread that cannot make its wake-up descriptor ends the
// process, and an address watch that cannot open its socket sees no network.
#pragma once

namespace server {

struct ConnectionBudget {
    /// Places for connections (ServerLimits::maxConnections).
    int maxConnections = 512;
    /// Places above them for newcomers from addresses that hold none
    /// (ServerLimits::reservedConnections).
    int reservedConnections = 64;

    bool operator==(const ConnectionBudget& other) const = default;
};

/// Descriptors kept for the program itself: about 13 open once it has started (the display, the
/// listening socket, the event loop's and the session bus's own), one wake-up descriptor for
/// each of the 5 worker threads, up to 4 key files being read, the address watch's socket and
/// the route files it reads, a newcomer accepted only to be judged, and the files the toolkit
/// opens on its own (fonts, shared images); about twice that, for what no one counted.
inline constexpr long long kOwnDescriptors = 48;

/// The most places: beyond them, memory and the time to judge a newcomer grow with no gain.
inline constexpr int kMostPlaces = 576;

/// The fewest places, whatever the limit: a server with fewer serves no one under any load.
inline constexpr int kFewestPlaces = 9;

/// The places for `descriptorLimit` open descriptors: what the limit leaves beside
/// kOwnDescriptors, at most kMostPlaces and at least kFewestPlaces, one in nine of them
/// reserved; today's 512 + 64 when the limit is unknown or none (-1).
ConnectionBudget connectionBudget(long long descriptorLimit);

/// connectionBudget() for the process's own descriptor limit now.
ConnectionBudget connectionBudget();

} // namespace server
