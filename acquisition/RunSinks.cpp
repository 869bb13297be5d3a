#include "acquisition/RunSinks.h"

#include "acquisition/CsvRunSink.h"
#include "acquisition/Hdf5RunSink.h"
#include "acquisition/PictureRunSink.h"
#include "acquisition/VideoRunSink.h"

std::vector<std::unique_ptr<RunSink>> makeRunSinks(const SaveRunPlan &plan)
{
    std::vector<std::unique_ptr<RunSink>> sinks;
    if (plan.data)
        sinks.push_back(std::make_unique<CsvRunSink>());
    if (plan.pictures)
        sinks.push_back(std::make_unique<PictureRunSink>());
    if (plan.video)
        sinks.push_back(std::make_unique<VideoRunSink>());
    if (plan.hdf5)
        sinks.push_back(std::make_unique<Hdf5RunSink>());
    return sinks;
}
