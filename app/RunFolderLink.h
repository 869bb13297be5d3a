#pragma once

#include <QLabel>

#include <functional>

// The save page's line under the outcome: where the run went ("Saved in
// /data/zk128/scan_1"), with the folder as a link that opens it in the
// desktop's file manager.
//
// Thread contract: GUI thread only.
class EventLog;

class RunFolderLink : public QLabel
{
    Q_OBJECT

public:
    // Opens a folder; true when the desktop took the request.
    using Opener = std::function<bool(const QString &folder)>;

    explicit RunFolderLink(EventLog &log, QWidget *parent = nullptr);

    void showFolder(const QString &folder);
    void clearFolder();
    const QString &folder() const { return m_folder; }
    // The folder link, as a click on it does.
    void openFolder();
    // Defaults to QDesktopServices::openUrl.
    void setOpener(Opener opener) { m_open = std::move(opener); }

private:
    EventLog &m_log; // safe from any thread
    QString m_folder;
    Opener m_open;
};
