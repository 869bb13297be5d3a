#pragma once

#include "context/ConsoleContext.h"
#include "services/SharedFrameView.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <memory>
#include <string>

#ifndef Q_OS_WIN
#include <sys/mman.h>
#include <unistd.h>
#endif

class D2xxBackend;
class ZK128Device;

// The shared-memory block of this test process: a private name, so that tests
// running side by side (and a console running beside them) never see each
// other's frames. Removed when the process ends.
struct TestFrameView
{
    std::string name = "tessivo-test-" + std::to_string(::getpid());
    SharedFrameView view{name.c_str()};
    ~TestFrameView()
    {
#ifndef Q_OS_WIN
        shm_unlink(("/" + name).c_str());
#endif
    }
    static TestFrameView &instance()
    {
        static TestFrameView frameView;
        return frameView;
    }
};

// A console context for tests: the given backend (one that answers every call
// with an error when null), the console's own folders inside a temporary
// folder, so no test writes beside the test executable, and the process's own
// shared-memory block.
struct TestContext
{
    explicit TestContext(std::shared_ptr<D2xxBackend> backend = {}, std::shared_ptr<ZK128Device> simulator = {})
        : context(std::move(backend),
                  ConsolePaths{dir.path() + QStringLiteral("/share"), dir.path() + QStringLiteral("/scratch"),
                               dir.path() + QStringLiteral("/result"), dir.path() + QStringLiteral("/log.txt")},
                  SettingsIdentity(), std::move(simulator), &TestFrameView::instance().view)
    {
        QDir().mkpath(scratchFolder()); // as the console's own scratch folder exists from the start
    }

    QString scratchFolder() const { return context.paths().scratchFolder; }
    static const std::string &frameViewName() { return TestFrameView::instance().name; }

    QTemporaryDir dir;
    ConsoleContext context;
};
