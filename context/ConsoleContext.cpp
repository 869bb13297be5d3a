#include "context/ConsoleContext.h"

#include "device/AbsentBackend.h"
#include "services/SharedFrameView.h"

ConsoleContext::ConsoleContext(std::shared_ptr<D2xxBackend> backend, ConsolePaths paths, SettingsIdentity settings,
                               std::shared_ptr<ZK128Device> simulator, SharedFrameView *frameView)
    : m_backend(backend ? std::move(backend) : std::make_shared<AbsentBackend>())
    , m_paths(std::move(paths))
    , m_log(m_paths.logFile)
    , m_settings(std::move(settings))
    , m_simulator(std::move(simulator))
    , m_ownFrameView(frameView ? nullptr : std::make_shared<SharedFrameView>(SharedFrameView::Name))
    , m_frameView(frameView ? frameView : m_ownFrameView.get())
{
}
