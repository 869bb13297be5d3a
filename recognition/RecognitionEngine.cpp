// LibTorch first: Qt's keyword macros must not reach its headers.
#include "recognition/DigitRecognizer.h"

#include "recognition/RecognitionEngine.h"

#include <exception>
#include <iostream>

RecognitionEngine::Answer RecognitionEngine::detect(const std::string &modelPath, const std::string &picturePath,
                                                    bool subtractTemplate, const std::string &scratchFolder,
                                                    const std::string &resultFolder)
{
    Answer answer;
    try {
        // The model is read again for every attempt, so a replaced model file
        // takes effect at the next one.
        DigitRecognizer engine(modelPath, scratchFolder, resultFolder);
        answer.result = engine.detect(picturePath, true, subtractTemplate);
        answer.ok = true;
    } catch (const std::exception &e) {
        answer.error = e.what();
    } catch (...) {
        // The engine prints what it knows; this one it could not name.
        answer.error = "unknown error";
        std::cerr << "Error: " << answer.error << std::endl;
    }
    return answer;
}
