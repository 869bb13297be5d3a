#include "acquisition/FramePacer.h"

#include <QtTest>

// The pause the capture loop takes while a frame is due, once the pacer has
// learned that a frame takes `frameUs` from request to completion.
class TestFramePacer : public QObject
{
    Q_OBJECT

private slots:
    void pauseFollowsTheExpectedFrame_data();
    void pauseFollowsTheExpectedFrame();
};

void TestFramePacer::pauseFollowsTheExpectedFrame_data()
{
    QTest::addColumn<int>("frameUs");  // learned request-to-frame time; 0: none learned
    QTest::addColumn<int>("atUs");     // since the request
    QTest::addColumn<int>("pauseUs");  // -1: the poll interval

    QTest::newRow("nothing learned polls") << 0 << 0 << -1;
    // A short frame (the link's pace): sleep through 85 %, then ask at once
    // until well past the expected moment, then poll.
    QTest::newRow("short frame sleeps first") << 1300 << 100 << 1005;
    QTest::newRow("short frame due asks at once") << 1300 << 1200 << 0;
    QTest::newRow("short frame late asks at once") << 1300 << 2200 << 0;
    QTest::newRow("short frame overdue polls") << 1300 << 2400 << -1;
    // A long integration: sleeps are cut to 20 ms, and asking at once starts
    // only 600 us before the frame is due.
    QTest::newRow("long frame sleeps in pieces") << 40000 << 0 << 20000;
    QTest::newRow("long frame sleeps to the lead") << 40000 << 39000 << 400;
    QTest::newRow("long frame due asks at once") << 40000 << 39500 << 0;
    QTest::newRow("long frame overdue polls") << 40000 << 41100 << -1;
}

void TestFramePacer::pauseFollowsTheExpectedFrame()
{
    QFETCH(int, frameUs);
    QFETCH(int, atUs);
    QFETCH(int, pauseUs);
    using std::chrono::microseconds;
    const FramePacer::Clock::time_point start{};
    FramePacer pacer;
    if (frameUs > 0) {
        pacer.frameRequested(start);
        pacer.frameCompleted(start + microseconds(frameUs));
    }
    const FramePacer::Clock::time_point request = start + microseconds(frameUs);
    pacer.frameRequested(request);
    const auto pause = std::chrono::duration_cast<microseconds>(pacer.pause(request + microseconds(atUs)));
    QCOMPARE(pause.count(), pauseUs < 0 ? FramePacer::kPollInterval.count() : pauseUs);
}

QTEST_APPLESS_MAIN(TestFramePacer)
#include "tst_FramePacer.moc"
