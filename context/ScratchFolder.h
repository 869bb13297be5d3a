#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

// This console instance's own folder for the pictures it writes while it runs
// (the recognition picture, the template and the preprocessing trace): made
// under the user's runtime folder ($XDG_RUNTIME_DIR), else under the user's
// cache folder, else under the temporary folder, with a unique name and mode
// 0700, and removed with everything in it when the object goes. Two consoles
// therefore never read each other's pictures, and a console installed in a
// read-only folder still has somewhere to write them.
//
// Thread contract: made and destroyed on the main thread before and after
// every other thread; the path is read-only in between.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    // What the entry point logs when no folder could be made anywhere.
    static constexpr char kUnavailable[] =
        "No folder for the recognition pictures could be made; digit recognition will not work.";

    // Empty when no folder could be made anywhere.
    QString path() const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
