// A small process the services tests start as a second console instance: it
// logs, or writes and reads a shared frame, and reports through its exit code.
#include "services/EventLog.h"
#include "services/Log.h"
#include "services/ProcessSignals.h"
#include "services/SharedFrameView.h"
#include "tests/services/SharedFrameReader.h"

#include <QByteArray>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int Pixels = 16384;

double patternValue(int seed, int i)
{
    return seed * 1000.0 + i * 0.25;
}

int logLines(const char *tag, int count)
{
    // Long lines make a torn or interleaved write easy to see.
    const QByteArray filler(200, 'x');
    EventLog log(workingDirectoryLogFilePath());
    for (int i = 0; i < count; ++i)
        log.line(QByteArray(tag) + ' ' + QByteArray::number(i) + ' ' + filler + " end");
    return 0;
}

int writeFrame(const char *name, int seed)
{
    SharedFrameView view(name);
    std::vector<double> values(Pixels);
    for (int i = 0; i < Pixels; ++i)
        values[std::size_t(i)] = patternValue(seed, i);
    return view.publish(values.data(), values.size()) ? 0 : 2;
}

int readFrame(const char *name, int seed)
{
    const std::vector<double> frame = SharedFrameReader::read(name);
    if (frame.size() < std::size_t(Pixels))
        return 2;
    for (int i = 0; i < Pixels; ++i) {
        if (frame[std::size_t(i)] != patternValue(seed, i))
            return 1;
    }
    return 0;
}

// How the process treats a closed standard output: as every entry point does,
// or with the default disposition a test uses to prove its rig would notice.
void setBrokenPipe(const char *disposition)
{
    if (std::strcmp(disposition, "ignore-sigpipe") == 0)
        ProcessSignals::ignoreBrokenPipe();
    else
        std::signal(SIGPIPE, SIG_DFL);
}

} // namespace

int main(int argc, char *argv[])
{
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "log-lines") == 0) {
        if (argc == 5)
            setBrokenPipe(argv[4]);
        return logLines(argv[2], std::atoi(argv[3]));
    }
    if (argc == 2 && std::strcmp(argv[1], "log-once") == 0) {
        EventLog log(workingDirectoryLogFilePath());
        log.line("Device connection successful.");
        const unsigned char reply[] = {0xAE, 0xCC, 0x00, 0x7A, 0x0A};
        log.hexBytes(reply, 5);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "shm-write") == 0)
        return writeFrame(argv[2], std::atoi(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "shm-read") == 0)
        return readFrame(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr, "usage: log-lines TAG N [ignore-sigpipe|default-sigpipe] | log-once | "
                         "shm-write NAME SEED | shm-read NAME SEED\n");
    return 64;
}
