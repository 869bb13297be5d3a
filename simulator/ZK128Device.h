#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The simulated ZK128 instrument: a 128 x 128 photodetector matrix behind an
// FTDI bridge. It speaks the device's byte protocol, models the frame timing
// and the USB transfer rate, pixel non-uniformity, noise and a scene, and can
// inject faults. SimulatorBackend puts it behind the D2XX calls.
//
// Thread contract: every public member may be called from any thread; one
// internal mutex guards all state. Blocking reads wait without holding it.
class ZK128Device
{
public:
    enum class Scene {
        CyclingDigits, // a handwritten digit shadow, the next one every few seconds (default)
        FixedDigit,    // the digit chosen with setFixedDigit
        Uniform,       // the whole matrix lit evenly
    };

    explicit ZK128Device(std::uint32_t seed = 128);
    ~ZK128Device();
    ZK128Device(const ZK128Device &) = delete;
    ZK128Device &operator=(const ZK128Device &) = delete;

    // ---- Scene and physics ---------------------------------------------------
    void setLampOn(bool on);
    bool lampOn() const;
    void setScene(Scene scene);
    Scene scene() const;
    void setFixedDigit(int digit);          // 0..9
    void setDigitPeriod(std::chrono::milliseconds period);
    // Illumination in nA of photocurrent per pixel of average gain with the lamp on.
    void setLampCurrentNa(double na);
    void setNoiseNa(double sigmaNa);          // temporal noise (standard deviation)
    void setBatteryReading(std::uint16_t reading);

    // ---- Enumeration and hot plug --------------------------------------------
    void unplug();
    void replug();
    bool isPlugged() const;
    // The serial number reads as empty for this long after each plug-in.
    void setSerialUnreadableFor(std::chrono::milliseconds duration);
    std::string serialNumber() const;       // "ZK128", or "" while unreadable
    // Called (from the thread that plugs or unplugs) with true on arrival, false on removal.
    void setHotplugCallback(std::function<void(bool arrived)> callback);

    // ---- Timing ---------------------------------------------------------------
    void setUsbBytesPerSecond(double rate);  // default 40e6
    void setChunkBytes(std::size_t bytes);    // default 16384: bytes become visible in chunks

    // ---- Faults ---------------------------------------------------------------
    void failNextReads(int count);            // FT_Read answers FT_IO_ERROR this many times
    void setStrayBytesBeforeNextFrame(std::vector<std::uint8_t> bytes);
    void cutNextFrame(std::size_t bytesDropped);  // next frame loses its last bytes
    void setAnswering(bool answering);        // false: frame requests are ignored
    void setHandshakeAnswered(bool answered);
    void setCorruptAcknowledgements(bool corrupt); // acknowledgements carry a wrong checksum
    void setBatteryAnswerLength(std::size_t bytes); // 1..5, default 5

    // ---- What the host did (for tests) ----------------------------------------
    std::vector<std::vector<std::uint8_t>> receivedCommands() const;
    void clearReceivedCommands();
    std::uint8_t rangeByte() const;           // from the last valid parameter command
    std::uint32_t integrationCount() const;   // idem
    double framePeriodSeconds() const;        // from the integration count
    std::uint64_t framesSent() const;
    // The expected (noise-free) current in nA of a pixel for the present scene.
    double expectedCurrentNa(int pixelIndex) const;

    // ---- Host side, used by SimulatorBackend ----------------------------------
    void reset();
    void purge(bool rx, bool tx);
    void hostWrite(const std::uint8_t *data, std::size_t length);
    std::size_t bytesAvailable() const;
    enum class ReadResult { Ok, Failed };
    // Waits up to timeout for length bytes; returns what arrived by then.
    ReadResult hostRead(std::uint8_t *buffer, std::size_t length, std::size_t *returned,
                        std::chrono::milliseconds timeout);

private:
    struct State;
    std::unique_ptr<State> d;
};
