# Owned by the worker work: list each source and header here as it is created.
set(TESSIVO_WORKER_SOURCES
    PixelSeriesSampler.h
    PixelSeriesSampler.cpp
    ReceiverThread.h
    ReceiverThread.cpp
)
