#pragma once

#include "recognition/DetectionResult.h"

#include <string>

// One recognition attempt with a fresh engine, kept behind a header without
// LibTorch so that the window's Qt sources never meet its headers. Whatever
// the engine throws (LibTorch, OpenCV, file system or standard errors) is
// caught here and answered as a failure: an attempt never ends the program.
//
// Thread contract: none of its own; called on the GUI thread.
class RecognitionEngine
{
public:
    struct Answer
    {
        bool ok = false;
        DetectionResult result;
        std::string error; // what the engine threw, when !ok
    };

    // How a caller is handed the engine: the window's library does not link
    // LibTorch, the programs that recognise give their window `&detect`.
    using Detect = Answer (*)(const std::string &modelPath, const std::string &picturePath, bool subtractTemplate,
                              const std::string &scratchFolder, const std::string &resultFolder);

    static Answer detect(const std::string &modelPath, const std::string &picturePath, bool subtractTemplate,
                         const std::string &scratchFolder, const std::string &resultFolder);
};
