#pragma once

#include "acquisition/RunSink.h"
#include "acquisition/SaveRunPlan.h"

#include <memory>
#include <vector>

// The sinks a save run writes to, one per kind the plan asks for, in the
// order data, pictures, video, HDF5 file.
std::vector<std::unique_ptr<RunSink>> makeRunSinks(const SaveRunPlan &plan);
