#pragma once

#include <QString>

// Where the event log (EventLog) is kept; the entry point chooses one of these
// before the console context opens the log.

// "log.txt" in the working directory, as an absolute path.
QString workingDirectoryLogFilePath();

// "log.txt" in the user's state folder: $XDG_STATE_HOME/tessivo128, by default
// ~/.local/state/tessivo128. Where the console logs when started from its
// desktop entry, whose working directory is wherever the launcher runs.
QString stateLogFilePath();
