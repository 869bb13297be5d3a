#pragma once

// What tessivo128-capture tells the script that ran it.
namespace ExitCode {

constexpr int kSuccess = 0;
constexpr int kBadArguments = 2;
// No device, or the device refused: no handshake, parameter command not
// acknowledged, device lost during the run.
constexpr int kDevice = 3;
// The save could not start, failed or ended partial.
constexpr int kSave = 4;
// Ctrl+C (SIGINT), SIGTERM or SIGHUP: the run ended partial, the frames so
// far on disk (also a later signal that ends the tool at once).
constexpr int kInterrupted = 130;

} // namespace ExitCode
