#pragma once

#include "analysis/LiveAnalysisDialogs.h"
#include "context/SettingsIdentity.h"

#include <QGroupBox>

class LiveAnalysisSource;
class QCheckBox;
class QLabel;

// Saved references: "Save references..." writes the console's full-off and
// full-on references to an HDF5 file (ReferenceFile), "Load references..."
// reads a pair back and applies it, warning when it was taken at another
// current range. "Load at start" and the last file are kept in the settings
// (SavedReferences) for the console's next start.
//
// Thread contract: GUI thread only.
class ReferencePanel : public QGroupBox
{
    Q_OBJECT

public:
    ReferencePanel(LiveAnalysisSource &source, const SettingsIdentity &settings, LiveAnalysisDialogs dialogs,
                   QWidget *parent = nullptr);

    void saveReferences();
    void loadReferences();

private:
    QString startFolder() const;

    // GUI thread only.
    LiveAnalysisSource &m_source;
    SettingsIdentity m_settings;
    LiveAnalysisDialogs m_dialogs;
    QCheckBox *m_loadAtStart = nullptr;
    QLabel *m_status = nullptr; // what the last save or load did
};
