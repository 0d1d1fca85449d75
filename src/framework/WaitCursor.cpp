#include "framework/WaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

#include <dlfcn.h>

namespace fw {

namespace {

// The cursor change has to reach the display before the caller blocks the thread (Apply
// sleeps 1100 ms), but processing events to get it there would run the pages' timers and
// handlers. On X11 the request only waits in the connection's buffer: flushing that buffer is
// enough and dispatches nothing. Other platforms apply the cursor at once.
void FlushDisplay()
{
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    using Flush = int (*)(xcb_connection_t*);
    // libxcb is already loaded by the platform plugin; it is looked up, not linked, so the
    // build needs no X11 development files.
    static const Flush flush = [] {
        void* library = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
        return library ? reinterpret_cast<Flush>(dlsym(library, "xcb_flush")) : nullptr;
    }();
    if (flush)
        flush(x11->connection());
#endif
}

} // namespace

WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    FlushDisplay();
}

WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
    FlushDisplay();
}

} // namespace fw
