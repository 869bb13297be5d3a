#pragma once

#include "acquisition/SaveRunPlan.h"
#include "analysis/ReferenceSet.h"

#include <QString>

#include <optional>

struct SettingsIdentity;

// What the console remembers of saved references between runs: whether to
// load them at start and from which file, in the console's settings group.
//
// Thread contract: GUI thread (the settings store is opened per call).
namespace SavedReferences {

bool loadAtStart(const SettingsIdentity &identity);
void setLoadAtStart(const SettingsIdentity &identity, bool enabled);
// The file references were last saved to or loaded from; empty before any.
QString lastFile(const SettingsIdentity &identity);
void setLastFile(const SettingsIdentity &identity, const QString &path);

// What the console start brings back.
struct StartLoad
{
    std::optional<ReferenceSet> references; // loaded, for the console to apply
    QString sentence;                      // why they could not be loaded; empty otherwise
};

// With "Load at start" on, the references of the last file; nothing (and no
// sentence) with it off or before any file was saved or loaded.
StartLoad loadAtConsoleStart(const SettingsIdentity &identity);

// The warning for references taken at another range than the device runs at
// now ("These references were taken at 100 nA; the current range is 800 nA.");
// empty when the ranges agree.
QString rangeWarning(const ReferenceSet &references, double currentRangeNa);

// The references the worker holds (`held`) with the measured ones of
// `loaded` in their place; a reference never measured leaves the held one.
RunReferences applied(const RunReferences &held, const ReferenceSet &loaded);
// The loaded set holds at least one measured reference.
bool anyMeasured(const ReferenceSet &loaded);

} // namespace SavedReferences
