#include "ui/FramelessHelper.h"
#include "ui/FramelessTarget.h"

#include <QMouseEvent>
#include <QRubberBand>
#include <QtTest>

#include <memory>

namespace {

const QRect StartGeometry(100, 100, 400, 300);

void send(QWidget *w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void press(QWidget *w, QPoint local)
{
    send(w, QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::LeftButton);
}

// Local coordinates are taken against the geometry at press time, so a drag
// is expressed as global targets.
void dragTo(QWidget *w, QPoint global)
{
    const QPoint local = global - w->geometry().topLeft();
    QMouseEvent event(QEvent::MouseMove, QPointF(local), QPointF(global), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void release(QWidget *w, QPoint local)
{
    send(w, QEvent::MouseButtonRelease, local, Qt::LeftButton, Qt::NoButton);
}

void hoverAt(QWidget *w, QPoint local)
{
    send(w, QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton);
}

void doubleClick(QWidget *w, QPoint local)
{
    send(w, QEvent::MouseButtonDblClick, local, Qt::LeftButton, Qt::LeftButton);
}

} // namespace

class TestFramelessHelper : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void edgeTest_data();
    void edgeTest();
    void dragBand_data();
    void dragBand();
    void resizeFromEdges_data();
    void resizeFromEdges();
    void hoverCursor_data();
    void hoverCursor();
    void maximisedWindowShowsNoResizeCursorButStillResizes();
    void doubleClickTogglesMaximised_data();
    void doubleClickTogglesMaximised();
    void zeroKeepsBandAndGrip();
    void rubberBandFollowsOptions();
    void moveRubberBandMovesOutlineUntilRelease();
    void otherButtonsAndForeignEventsPassThrough();
    void destructionGivesTheWidgetBack();
    void widgetDestroyedBeforeHelper();

private:
    std::unique_ptr<QWidget> window;
    FramelessHelper *helper = nullptr;
};

void TestFramelessHelper::init()
{
    window = std::make_unique<QWidget>();
    window->setWindowFlags(window->windowFlags() | Qt::FramelessWindowHint);
    window->setMinimumSize(300, 200);
    window->setGeometry(StartGeometry);
    helper = new FramelessHelper(window.get());
    helper->attach(window.get());
    helper->setDragBandHeight(40);
    helper->setEdgeGripWidth(3);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE(window->frameGeometry(), StartGeometry);
}

void TestFramelessHelper::cleanup()
{
    window.reset();
    helper = nullptr;
}

void TestFramelessHelper::edgeTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QString>("hits"); // letters: l r t b, corners as pairs

    // Frame (100, 100) 400 x 300, grip 3: left band x 100..103, right 497..500,
    // top y 100..103, bottom 397..400, all inclusive.
    QTest::newRow("outer top-left pixel") << QPoint(100, 100) << "l t tl";
    QTest::newRow("inner end of the top-left grip") << QPoint(103, 103) << "l t tl";
    QTest::newRow("one past the grip") << QPoint(104, 104) << "";
    QTest::newRow("left edge middle") << QPoint(101, 250) << "l";
    QTest::newRow("right edge inner end") << QPoint(497, 250) << "r";
    QTest::newRow("right edge at fx+fw") << QPoint(500, 250) << "r";
    QTest::newRow("inside right of the grip") << QPoint(496, 250) << "";
    QTest::newRow("bottom edge") << QPoint(300, 399) << "b";
    QTest::newRow("bottom-right corner") << QPoint(499, 399) << "r b br";
    QTest::newRow("top-right corner") << QPoint(498, 101) << "r t tr";
    QTest::newRow("bottom-left corner") << QPoint(102, 398) << "l b bl";
    QTest::newRow("left of the frame") << QPoint(99, 250) << "";
}

void TestFramelessHelper::edgeTest()
{
    QFETCH(QPoint, point);
    QFETCH(QString, hits);
    const QStringList expected = hits.split(' ', Qt::SkipEmptyParts);
    const EdgeHits e = EdgeHits::test(point, StartGeometry, 3);
    QCOMPARE(e.left, expected.contains("l"));
    QCOMPARE(e.right, expected.contains("r"));
    QCOMPARE(e.top, expected.contains("t"));
    QCOMPARE(e.bottom, expected.contains("b"));
    QCOMPARE(e.topLeft, expected.contains("tl"));
    QCOMPARE(e.topRight, expected.contains("tr"));
    QCOMPARE(e.bottomLeft, expected.contains("bl"));
    QCOMPARE(e.bottomRight, expected.contains("br"));
    QCOMPARE(e.any, !expected.isEmpty());
}

void TestFramelessHelper::dragBand_data()
{
    QTest::addColumn<int>("pressY");
    QTest::addColumn<bool>("moves");
    QTest::newRow("y 39 inside the 40 px band") << 39 << true;
    QTest::newRow("y 20 inside the band") << 20 << true;
    QTest::newRow("y 40 below the band") << 40 << false;
    QTest::newRow("y 150 in the body") << 150 << false;
}

void TestFramelessHelper::dragBand()
{
    QFETCH(int, pressY);
    QFETCH(bool, moves);
    const QPoint local(200, pressY);
    const QPoint global = window->mapToGlobal(local);
    press(window.get(), local);
    dragTo(window.get(), global + QPoint(30, 20));
    release(window.get(), local);
    const QPoint expected = moves ? StartGeometry.topLeft() + QPoint(30, 20) : StartGeometry.topLeft();
    QTRY_COMPARE(window->frameGeometry().topLeft(), expected);
    QCOMPARE(window->size(), StartGeometry.size());
}

void TestFramelessHelper::resizeFromEdges_data()
{
    QTest::addColumn<QPoint>("pressLocal");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QRect>("expected");

    QTest::newRow("right edge outwards") << QPoint(399, 150) << QPoint(50, 0) << QRect(100, 100, 450, 300);
    QTest::newRow("bottom edge outwards") << QPoint(200, 299) << QPoint(0, 40) << QRect(100, 100, 400, 340);
    // The moved edges go to the mouse itself, not by the mouse's travel: a
    // press 1 px inside the left edge dragged 30 px left puts the edge at 71.
    QTest::newRow("left edge outwards") << QPoint(1, 150) << QPoint(-30, 0) << QRect(71, 100, 429, 300);
    QTest::newRow("corner beats single edge: top-left") << QPoint(2, 2) << QPoint(-20, -10)
                                                          << QRect(82, 92, 418, 308);
    QTest::newRow("bottom-right corner") << QPoint(398, 298) << QPoint(10, 20) << QRect(100, 100, 409, 319);
    // Past the minimum width the moved left edge goes back: the window does
    // not walk right with the mouse.
    QTest::newRow("left edge past the minimum width") << QPoint(1, 150) << QPoint(150, 0) << StartGeometry;
    QTest::newRow("right edge past the minimum width") << QPoint(399, 150) << QPoint(-150, 0) << StartGeometry;
    QTest::newRow("top edge past the minimum height") << QPoint(200, 1) << QPoint(0, 150) << StartGeometry;
    QTest::newRow("left edge to just the minimum") << QPoint(1, 150) << QPoint(99, 0) << QRect(200, 100, 300, 300);
    QTest::newRow("left edge one past the minimum") << QPoint(1, 150) << QPoint(100, 0) << StartGeometry;
    QTest::newRow("left edge across the right edge") << QPoint(1, 150) << QPoint(500, 0) << StartGeometry;
}

void TestFramelessHelper::resizeFromEdges()
{
    QFETCH(QPoint, pressLocal);
    QFETCH(QPoint, delta);
    QFETCH(QRect, expected);
    const QPoint global = window->mapToGlobal(pressLocal);
    press(window.get(), pressLocal);
    dragTo(window.get(), global + delta);
    release(window.get(), pressLocal);
    QTRY_COMPARE(window->frameGeometry(), expected);
}

void TestFramelessHelper::hoverCursor_data()
{
    QTest::addColumn<QPoint>("local");
    QTest::addColumn<int>("shape"); // -1: no cursor of the helper's own

    QTest::newRow("top-left corner: diagonal") << QPoint(1, 2) << int(Qt::SizeFDiagCursor);
    QTest::newRow("bottom-right corner: diagonal") << QPoint(399, 298) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top-right corner: other diagonal") << QPoint(398, 0) << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-left corner: other diagonal") << QPoint(0, 299) << int(Qt::SizeBDiagCursor);
    QTest::newRow("left edge: horizontal") << QPoint(2, 150) << int(Qt::SizeHorCursor);
    QTest::newRow("bottom edge: vertical") << QPoint(200, 298) << int(Qt::SizeVerCursor);
    QTest::newRow("body: none") << QPoint(200, 150) << -1;
}

void TestFramelessHelper::hoverCursor()
{
    QFETCH(QPoint, local);
    QFETCH(int, shape);
    // Start from a resize cursor so that "none" proves the cursor is unset again.
    hoverAt(window.get(), QPoint(2, 150));
    QCOMPARE(window->cursor().shape(), Qt::SizeHorCursor);
    hoverAt(window.get(), local);
    // An unset cursor on a top-level window falls back to the arrow.
    QCOMPARE(int(window->cursor().shape()), shape < 0 ? int(Qt::ArrowCursor) : shape);
}

void TestFramelessHelper::maximisedWindowShowsNoResizeCursorButStillResizes()
{
    window->showMaximized();
    QTRY_VERIFY(window->isMaximized());
    QTRY_VERIFY(window->frameGeometry() != StartGeometry);
    const QRect maximised = window->frameGeometry();

    hoverAt(window.get(), QPoint(1, maximised.height() / 2));
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);

    const QPoint edge(1, maximised.height() / 2);
    press(window.get(), edge);
    dragTo(window.get(), window->mapToGlobal(edge) + QPoint(40, 0));
    release(window.get(), edge);
    QTRY_COMPARE(window->frameGeometry().left(), maximised.left() + 41);
}

void TestFramelessHelper::doubleClickTogglesMaximised_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("toggles");
    QTest::newRow("inside the band") << 10 << true;
    QTest::newRow("last band row") << 39 << true;
    QTest::newRow("below the band") << 40 << false;
}

void TestFramelessHelper::doubleClickTogglesMaximised()
{
    QFETCH(int, y);
    QFETCH(bool, toggles);
    doubleClick(window.get(), QPoint(200, y));
    QTRY_COMPARE(window->isMaximized(), toggles);
    doubleClick(window.get(), QPoint(200, y));
    QTRY_VERIFY(!window->isMaximized());
    QTRY_COMPARE(window->frameGeometry(), StartGeometry);
}

void TestFramelessHelper::zeroKeepsBandAndGrip()
{
    helper->setDragBandHeight(0);
    helper->setEdgeGripWidth(0);
    QCOMPARE(FramelessHelper::dragBandHeight(), 40);
    QCOMPARE(FramelessHelper::edgeGripWidth(), 3);
    // The values are shared: a second helper sees and changes the same ones.
    FramelessHelper other;
    other.setEdgeGripWidth(6);
    QCOMPARE(FramelessHelper::edgeGripWidth(), 6);
    hoverAt(window.get(), QPoint(5, 150));
    QCOMPARE(window->cursor().shape(), Qt::SizeHorCursor);
}

void TestFramelessHelper::rubberBandFollowsOptions()
{
    QVERIFY(helper->rubberBandOf(window.get()) == nullptr);
    helper->setMoveRubberBand(true);
    QRubberBand *band = helper->rubberBandOf(window.get());
    QVERIFY(band != nullptr);
    helper->setResizeRubberBand(true);
    QCOMPARE(helper->rubberBandOf(window.get()), band); // one band per widget
    helper->setMoveRubberBand(false);
    QVERIFY(helper->rubberBandOf(window.get()) != nullptr);
    helper->setResizeRubberBand(false);
    QVERIFY(helper->rubberBandOf(window.get()) == nullptr);
}

void TestFramelessHelper::moveRubberBandMovesOutlineUntilRelease()
{
    helper->setMoveRubberBand(true);
    const QPoint local(200, 20);
    const QPoint global = window->mapToGlobal(local);
    press(window.get(), local);
    QRubberBand *band = helper->rubberBandOf(window.get());
    QVERIFY(band->isVisible());
    QCOMPARE(band->geometry(), StartGeometry);
    dragTo(window.get(), global + QPoint(25, 15));
    QCOMPARE(window->frameGeometry(), StartGeometry);
    QCOMPARE(band->geometry().topLeft(), StartGeometry.topLeft() + QPoint(25, 15));
    release(window.get(), local);
    QVERIFY(!band->isVisible());
    QTRY_COMPARE(window->frameGeometry(), StartGeometry.translated(25, 15));
}

void TestFramelessHelper::otherButtonsAndForeignEventsPassThrough()
{
    const QPoint local(200, 20);
    send(window.get(), QEvent::MouseButtonPress, local, Qt::RightButton, Qt::RightButton);
    dragTo(window.get(), window->mapToGlobal(local) + QPoint(30, 30));
    QCOMPARE(window->frameGeometry(), StartGeometry);

    // A widget that was never attached keeps its own mouse handling.
    QWidget stranger;
    QVERIFY(!helper->isAttached(&stranger));
    QVERIFY(!stranger.testAttribute(Qt::WA_MouseTracking));
    helper->attach(window.get()); // again: no second record, no change
    QVERIFY(helper->isAttached(window.get()));
}

void TestFramelessHelper::destructionGivesTheWidgetBack()
{
    QWidget plain;
    const Qt::WindowFlags before = plain.windowFlags();
    auto owner = std::make_unique<FramelessHelper>();
    owner->setResizeRubberBand(true);
    owner->attach(&plain);
    QVERIFY(plain.testAttribute(Qt::WA_MouseTracking));
    QVERIFY(plain.testAttribute(Qt::WA_Hover));
    QPointer<QRubberBand> band = owner->rubberBandOf(&plain);
    QVERIFY(band);
    plain.setWindowFlags(before | Qt::FramelessWindowHint);
    owner.reset();
    QVERIFY(!plain.testAttribute(Qt::WA_MouseTracking));
    QVERIFY(!plain.testAttribute(Qt::WA_Hover));
    QCOMPARE(plain.windowFlags(), before);
    QVERIFY(band.isNull());
}

void TestFramelessHelper::widgetDestroyedBeforeHelper()
{
    FramelessHelper survivor;
    auto *doomed = new QWidget;
    survivor.attach(doomed);
    QVERIFY(survivor.isAttached(doomed));
    delete doomed;
    QVERIFY(!survivor.isAttached(doomed));
    // Leaving the scope destroys the helper, which must not touch the dead
    // widget (the address sanitizer build reports it if it does).
}

QTEST_MAIN(TestFramelessHelper)
#include "tst_ui_framelesshelper.moc"
