#pragma once

#include "acquisition/SaveRunPlan.h"

#include <QDir>
#include <QString>

// A save-run plan for <path>/<name> with the given kinds; the folder is made,
// as the save-run preparation makes it before a run is armed.
inline SaveRunPlan makeSavePlan(const QString &path, const QString &name, int frames, bool data, bool pictures,
                                bool video)
{
    SaveRunPlan plan;
    plan.folder = path + "/" + name;
    plan.name = name;
    plan.frames = frames;
    plan.data = data;
    plan.pictures = pictures;
    plan.video = video;
    QDir().mkpath(plan.folder);
    return plan;
}
