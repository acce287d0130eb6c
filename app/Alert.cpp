// The alert sound.
#include "app/Alert.h"

#include <QApplication>

#if ZORVIK_HAVE_XCB
#include <QGuiApplication>
#include <xcb/xcb.h>
#endif

void Alert::sound() {
#if ZORVIK_HAVE_XCB
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
