# Owned by the frame-pieces work: list each source and header here as it is created.
set(TESSIVO_FRAME_SOURCES
    PixelDecoder.h
    FrameAssembler.h
    FrameAssembler.cpp
    ReferenceCalibrator.h
    ReferenceCalibrator.cpp
    FrameRenderer.h
    FrameRenderer.cpp
    CsvWriter.h
    CsvWriter.cpp
    FrameSaver.h
    FrameSaver.cpp
)
