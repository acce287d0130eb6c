// The few application-wide services that lower layers need from the GUI: the alert sound and a
// modal message box. The application installs the real ones; tests count the alerts.
#pragma once

#include <QtGlobal>

#include <functional>

class QString;

namespace runtime {

class Services {
public:
    Services() = delete;

    /// Sounds the alert once: counts it, then runs the installed sound (none by default).
    static void beep();

    /// How many times beep() has been called in this process.
    static quint64 beepCount();

    /// Shows `text` to the user and returns once it has been dismissed. Without an installed
    /// handler the text goes to standard error.
    static void messageBox(const QString& text);

    static void setBeepHandler(std::function<void()> handler);
    static void setMessageBoxHandler(std::function<void(const QString&)> handler);
};

} // namespace runtime
