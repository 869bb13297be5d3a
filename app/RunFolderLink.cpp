#include "app/RunFolderLink.h"

#include "services/EventLog.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

RunFolderLink::RunFolderLink(EventLog &log, QWidget *parent)
    : QLabel(parent)
    , m_log(log)
    , m_open([](const QString &folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); })
{
    setObjectName(QStringLiteral("label_runfolder"));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard | Qt::TextSelectableByMouse);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setToolTip(QStringLiteral("Open the run folder"));
    // Hidden while there is no folder to show, so an empty link never takes
    // the keyboard focus.
    hide();
    connect(this, &QLabel::linkActivated, this, [this] { openFolder(); });
}

void RunFolderLink::showFolder(const QString &folder)
{
    m_folder = folder;
    const QString shown = QDir::toNativeSeparators(folder).toHtmlEscaped();
    setText(QStringLiteral("Saved in <a href=\"%1\" style=\"color:#4169E1;\">%2</a>")
                .arg(QUrl::fromLocalFile(folder).toString().toHtmlEscaped(), shown));
    show();
}

void RunFolderLink::clearFolder()
{
    m_folder.clear();
    clear();
    hide();
}

void RunFolderLink::openFolder()
{
    if (m_folder.isEmpty())
        return;
    if (!m_open(m_folder))
        m_log.line(QStringLiteral("The run folder %1 could not be opened.").arg(m_folder).toUtf8());
}
