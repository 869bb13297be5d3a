#include "analysis/ReferencePanel.h"

#include "analysis/LiveAnalysisSource.h"
#include "analysis/ReferenceFile.h"
#include "analysis/SavedReferences.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

ReferencePanel::ReferencePanel(LiveAnalysisSource &source, const SettingsIdentity &settings,
                               LiveAnalysisDialogs dialogs, QWidget *parent)
    : QGroupBox(QStringLiteral("Saved references"), parent)
    , m_source(source)
    , m_settings(settings)
    , m_dialogs(std::move(dialogs))
{
    auto *save = new QPushButton(QStringLiteral("Save references…"));
    save->setObjectName(QStringLiteral("saveReferences"));
    auto *load = new QPushButton(QStringLiteral("Load references…"));
    load->setObjectName(QStringLiteral("loadReferences"));
    m_loadAtStart = new QCheckBox(QStringLiteral("Load at start"));
    m_loadAtStart->setObjectName(QStringLiteral("loadReferencesAtStart"));
    m_loadAtStart->setChecked(SavedReferences::loadAtStart(m_settings));
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("referenceStatus"));
    m_status->setWordWrap(true);

    connect(save, &QPushButton::clicked, this, &ReferencePanel::saveReferences);
    connect(load, &QPushButton::clicked, this, &ReferencePanel::loadReferences);
    connect(m_loadAtStart, &QCheckBox::toggled, this,
            [this](bool on) { SavedReferences::setLoadAtStart(m_settings, on); });

    auto *layout = new QGridLayout(this);
    layout->addWidget(save, 0, 0);
    layout->addWidget(load, 0, 1);
    layout->addWidget(m_loadAtStart, 1, 0, 1, 2);
    layout->addWidget(m_status, 2, 0, 1, 2);
    layout->setRowStretch(3, 1);
}

QString ReferencePanel::startFolder() const
{
    const QString last = SavedReferences::lastFile(m_settings);
    return last.isEmpty() ? QDir::homePath() : QFileInfo(last).absolutePath();
}

void ReferencePanel::saveReferences()
{
    const QString path = m_dialogs.chooseSaveFile(this, startFolder());
    if (path.isEmpty())
        return;
    QString error;
    if (!ReferenceFile::save(path, m_source.references(), &error)) {
        m_status->setText(error);
        m_dialogs.warn(this, error);
        return;
    }
    SavedReferences::setLastFile(m_settings, path);
    m_status->setText(QStringLiteral("References saved to %1.").arg(QDir::toNativeSeparators(path)));
}

void ReferencePanel::loadReferences()
{
    const QString path = m_dialogs.chooseOpenFile(this, startFolder());
    if (path.isEmpty())
        return;
    QString error;
    const std::optional<ReferenceSet> references = ReferenceFile::load(path, &error);
    if (!references) {
        m_status->setText(error);
        m_dialogs.warn(this, error);
        return;
    }
    m_source.applyReferences(*references);
    SavedReferences::setLastFile(m_settings, path);
    m_status->setText(QStringLiteral("References loaded from %1.").arg(QDir::toNativeSeparators(path)));
    const QString warning = SavedReferences::rangeWarning(*references, m_source.currentRangeNa());
    if (!warning.isEmpty())
        m_dialogs.warn(this, warning);
}
