// The main window on a plain X11 server without a compositor (Xvfb, started
// by CTest through xvfb-run): the compositor probe follows the owner of the
// _NET_WM_CM_S<screen> selection, and without an owner the window is opaque,
// with no black band under the title bar and no black corners on screen.
#include "app/MainWindow.h"
#include "app/WindowChrome.h"
#include "tests/support/TestContext.h"
#include "ui/CompositorProbe.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

bool nearlyBlack(QRgb pixel)
{
    return qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40;
}

// Makes this client the owner of the compositing manager's selection, as a
// compositor does when it starts, or gives it up again.
void ownCompositorSelection(bool own)
{
    xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const QByteArray name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    QVERIFY(atom);
    const xcb_window_t owner = own ? xcb_generate_id(connection) : XCB_NONE;
    if (own) {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    xcb_set_selection_owner(connection, owner, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    // A round trip: the server has handled the requests before the probe asks.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

} // namespace

class TestAppPlainX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (CTest runs this under xvfb-run)");
    }

    void probeFollowsTheSelectionOwner()
    {
        QVERIFY(!CompositorProbe::isRunning());
        ownCompositorSelection(true);
        QVERIFY(CompositorProbe::isRunning());
        ownCompositorSelection(false);
        QVERIFY(!CompositorProbe::isRunning());
    }

    void opaqueWindowWithoutCompositor()
    {
        TestContext test;
        auto window = std::make_unique<MainWindow>(test.context);
        WindowChrome::install(*qApp, *window);
        QVERIFY(!window->testAttribute(Qt::WA_TranslucentBackground));
        window->move(40, 40);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTest::qWait(300); // the first paint reaches the server

        const QRect frame = window->frameGeometry();
        const QImage shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                                .toImage();
        QCOMPARE(shot.size(), frame.size());
        const int w = shot.width(), h = shot.height();
        const QPoint corners[] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {1, 1}, {w - 2, h - 2}};
        for (const QPoint &at : corners)
            QVERIFY2(!nearlyBlack(shot.pixel(at)),
                     qPrintable(QStringLiteral("black corner at %1,%2").arg(at.x()).arg(at.y())));
        // The band between the title bar (40 px) and the pages, across the width.
        for (int y = 38; y < 50; ++y) {
            for (int x = 0; x < w; x += 7)
                QVERIFY2(!nearlyBlack(shot.pixel(x, y)), qPrintable(QStringLiteral("black at %1,%2").arg(x).arg(y)));
        }
    }
};

QTEST_MAIN(TestAppPlainX11)
#include "tst_app_plainx11.moc"
