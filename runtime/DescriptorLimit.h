// How many descriptors (files, sockets, pipes) the process may hold open at once. Free of Qt, one
// source file per platform.
#pragma once

namespace runtime {

/// The process's own limit on open descriptors as it stands now (the soft limit on POSIX); -1
/// where there is none, or none the system tells (Windows counts sockets as handles, with no
/// such limit).
long long openDescriptorLimit();

} // namespace runtime
