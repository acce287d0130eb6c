// The computer's alert sound, cheap enough to sound on every key request.
#pragma once

class Alert {
public:
    Alert() = delete;

    /// Sounds the alert once. On X11 the bell request is queued at once and the connection
    /// flushed once per pass of the event loop, so a burst of requests costs one write to the X
    /// server instead of one each; elsewhere the toolkit's beep is used as it is.
    static void sound();
};
