#pragma once

// Ctrl+C (SIGINT) and SIGTERM end a scripted run early but cleanly: the
// handler only notes the signal, and the run, which looks at it several
// times a second, ends the save run with the frames gathered so far and
// stops the device. The handlers are reset by the first signal, so a second
// one ends a tool that no longer responds at once.
//
// Thread contract: install() on the main thread before any other thread
// starts; received() from any thread (a lock-free atomic the handler sets).
namespace InterruptSignals {

void install();
bool received();

} // namespace InterruptSignals
