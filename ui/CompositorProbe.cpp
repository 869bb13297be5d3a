#include "ui/CompositorProbe.h"

#include <QGuiApplication>
#include <qguiapplication_platform.h>
#include <QString>

#ifdef TESSIVO_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace {

#ifdef TESSIVO_HAVE_XCB
// The screen of DISPLAY (":0.1" is screen 1); 0 when it names none.
int displayScreen()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    const int dot = display.lastIndexOf(QLatin1Char('.'));
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int screen = dot > colon ? display.mid(dot + 1).toInt(&ok) : 0;
    return ok ? screen : 0;
}

bool x11SelectionOwned(xcb_connection_t *connection)
{
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(displayScreen());
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()),
                              nullptr),
        &std::free);
    if (!atom)
        return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}
#endif

} // namespace

bool CompositorProbe::isRunning()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
#ifdef TESSIVO_HAVE_XCB
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 && x11->connection() && x11SelectionOwned(x11->connection());
#else
    return false; // unknown on X11: an opaque window is always drawn right
#endif
}
