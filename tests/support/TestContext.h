#pragma once

#include "ConsoleContext.h"

#include <QTemporaryDir>

#include <memory>

class D2xxBackend;
class ZK128Device;

// A console context for tests: the given backend (one that answers every call
// with an error when null) and the console's own folders inside a temporary
// folder, so no test writes beside the test executable.
struct TestContext
{
    explicit TestContext(std::shared_ptr<D2xxBackend> backend = {}, std::shared_ptr<ZK128Device> simulator = {})
        : context(std::move(backend),
                  ConsolePaths{dir.path() + QStringLiteral("/detect"), dir.path() + QStringLiteral("/result"),
                               dir.path() + QStringLiteral("/log.txt")},
                  SettingsIdentity(), std::move(simulator))
    {
    }

    QString detectFolder() const { return context.paths().detectFolder; }

    QTemporaryDir dir;
    ConsoleContext context;
};
