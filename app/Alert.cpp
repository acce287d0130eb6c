// The alert sound.
#include "app/Alert.h"

#include <QApplication>

// Qt 5 offers its X11 connection only through private headers, so it keeps the toolkit's beep.
#define ZORVIK_X11_BELL (ZORVIK_HAVE_XCB && QT_VERSION >= QT_VERSION_CHECK(6, 2, 0))

#if ZORVIK_X11_BELL
#include <QGuiApplication>
#include <xcb/xcb.h>
#endif

void Alert::sound() {
#if ZORVIK_X11_BELL
    if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_connection_t* connection = x11->connection();
        xcb_bell(connection, 0);
        static bool flushQueued = false;
        if (!flushQueued) {
            flushQueued = true;
            QMetaObject::invokeMethod(
                qApp,
                [connection] {
                    flushQueued = false;
                    xcb_flush(connection);
                },
                Qt::QueuedConnection);
        }
        return;
    }
#endif
    QApplication::beep();
}
