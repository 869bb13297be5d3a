#include "RunFolderLink.h"

#include "Log.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

RunFolderLink::RunFolderLink(QWidget *parent)
    : QLabel(parent)
    , m_open([](const QString &folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); })
{
    setObjectName(QStringLiteral("label_runfolder"));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard | Qt::TextSelectableByMouse);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setToolTip(QStringLiteral("Open the run folder"));
    connect(this, &QLabel::linkActivated, this, [this] { openFolder(); });
}

void RunFolderLink::showFolder(const QString &folder)
{
    m_folder = folder;
    const QString shown = QDir::toNativeSeparators(folder).toHtmlEscaped();
    setText(QStringLiteral("Saved in <a href=\"%1\" style=\"color:#4169E1;\">%2</a>")
                .arg(QUrl::fromLocalFile(folder).toString().toHtmlEscaped(), shown));
}

void RunFolderLink::clearFolder()
{
    m_folder.clear();
    clear();
}

void RunFolderLink::openFolder()
{
    if (m_folder.isEmpty())
        return;
    if (!m_open(m_folder))
        logLine(QStringLiteral("The run folder %1 could not be opened.").arg(m_folder).toUtf8());
}
