// Application-wide alert and message box, installable so lower layers stay free of widgets.
#include "runtime/Services.h"

#include <QString>

#include <cstdio>
#include <utility>

namespace runtime {

namespace {
// Only ever touched from the GUI thread, like everything else in the tool.
quint64 g_beeps = 0;
std::function<void()> g_beepHandler;
std::function<void(const QString&)> g_messageHandler;
} // namespace

void Services::beep() {
    ++g_beeps;
    if (g_beepHandler)
        g_beepHandler();
}

quint64 Services::beepCount() {
    return g_beeps;
}

void Services::messageBox(const QString& text) {
    if (g_messageHandler)
        g_messageHandler(text);
    else
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

void Services::setBeepHandler(std::function<void()> handler) {
    g_beepHandler = std::move(handler);
}

void Services::setMessageBoxHandler(std::function<void(const QString&)> handler) {
    g_messageHandler = std::move(handler);
}

} // namespace runtime
