#pragma once

#include "D2xxBackend.h"

#include <memory>

// The process-wide D2XX backend. The entry point installs the one chosen by
// BackendSelector before the main window exists; tests install their own
// simulator explicitly instead of changing the environment.
namespace D2xx {

// The installed backend. Before anything is installed this is a backend whose
// every call answers FT_DEVICE_NOT_FOUND, so early calls (the acquisition
// loop's time-out call on a null handle) are harmless.
D2xxBackend &backend();

// Installs a backend and returns the previous one. Call only while no device
// call is in flight (start-up, or between test cases).
std::shared_ptr<D2xxBackend> install(std::shared_ptr<D2xxBackend> backend);

std::shared_ptr<D2xxBackend> current();

} // namespace D2xx
