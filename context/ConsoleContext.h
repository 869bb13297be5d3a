#pragma once

#include "context/ConsolePaths.h"
#include "context/SettingsIdentity.h"
#include "services/EventLog.h"

#include <QString>

#include <memory>

class D2xxBackend;
class SharedFrameView;
class ZK128Device;

// What the console is running with, chosen once by the entry point (or by a
// test) and handed by constructor to the window, the worker, every
// controller and the command-line tool: the device backend, the console's
// own paths, the settings identity, the shared-memory block its frames
// are published in and the event log (opened at paths.logFile when the
// context is made). Nothing in the console looks any of these up globally.
// The context outlives everything built with it (the window, the capture
// loop), so the block is never written after it is closed.
//
// Thread contract: built before any thread starts and read-only afterwards;
// the backend and the log it holds are themselves safe to call from any
// thread.
class ConsoleContext
{
public:
    // simulator: the simulated device behind the backend when the backend is
    // the built-in simulator (it gives the simulator controls their device).
    // frameView: where frames are published; when null the context opens
    // "MemoryShare" itself and owns it (tests give a private block, which
    // must outlive the context).
    ConsoleContext(std::shared_ptr<D2xxBackend> backend, ConsolePaths paths, SettingsIdentity settings = {},
                   std::shared_ptr<ZK128Device> simulator = {}, SharedFrameView *frameView = nullptr);

    D2xxBackend &backend() const { return *m_backend; }
    const std::shared_ptr<D2xxBackend> &sharedBackend() const { return m_backend; }
    const ConsolePaths &paths() const { return m_paths; }
    // Safe to write from any thread (see EventLog).
    EventLog &log() const { return m_log; }
    const SettingsIdentity &settings() const { return m_settings; }
    SharedFrameView &frameView() const { return *m_frameView; }
    // The simulated device, or null when a real D2XX library is in use.
    const std::shared_ptr<ZK128Device> &simulator() const { return m_simulator; }
    // "simulator" or "d2xx", as saved runs record it.
    QString backendKind() const { return m_simulator ? QStringLiteral("simulator") : QStringLiteral("d2xx"); }

private:
    std::shared_ptr<D2xxBackend> m_backend; // never null: an absent backend answers every call with an error
    ConsolePaths m_paths;
    mutable EventLog m_log; // its writer's mutex guards it; logging does not change the context
    SettingsIdentity m_settings;
    std::shared_ptr<ZK128Device> m_simulator;
    // Declared before m_frameView: the block the context opened itself, if any.
    std::shared_ptr<SharedFrameView> m_ownFrameView;
    SharedFrameView *m_frameView; // never null
};
