// How many descriptors (Linux) or kernel handles (Windows) the test process holds, to show that
// what the server refuses or loses is closed.
#pragma once

/// The process's open descriptors (Linux) or kernel handles (Windows); -1 where unknown.
int openHandles();
