#pragma once

// Signal dispositions every entry point (the console, command-line tools, test
// helpers) sets first thing, before it logs or starts a thread.
namespace ProcessSignals {

// Ignores SIGPIPE, so a reader of standard output that goes away (a pipe into
// `head -1`, a closed terminal) makes the next write fail with EPIPE, which the
// log skips, instead of killing the process with any recording still armed.
// Does nothing on Windows, which has no SIGPIPE.
void ignoreBrokenPipe();

} // namespace ProcessSignals
