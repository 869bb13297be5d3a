#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Test main for window tests: the settings store is redirected into a
// throw-away folder before anything (the worker's constructor included) opens
// it, so no test reads or writes the operator's own settings.
#define TESSIVO_WINDOW_TEST_MAIN(TestObject)                                                    \
    int main(int argc, char *argv[])                                                            \
    {                                                                                           \
        QTemporaryDir store;                                                                    \
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());        \
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store.path());           \
        QApplication app(argc, argv);                                                           \
        app.setQuitOnLastWindowClosed(false);                                                   \
        TestObject test;                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                              \
        return QTest::qExec(&test, argc, argv);                                                 \
    }

// Waits (bounded) for the next modal widget of type W, lets `inspect` look
// at it, then lets `finish` close it. Polls from the event loop that the modal
// widget's exec() runs, so the caller may then block in exec().
template <typename W>
void handleNextModal(std::function<void(W *)> inspect, std::function<void(W *)> finish, bool *seen)
{
    *seen = false;
    auto *poll = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(5000);
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto *modal = qobject_cast<W *>(QApplication::activeModalWidget());
        if (!modal && !deadline->hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        if (!modal)
            return;
        *seen = true;
        inspect(modal);
        finish(modal);
    });
    poll->start(10);
}
