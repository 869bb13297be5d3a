#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The simulated ZK128 instrument: a 128 x 128 photodetector matrix behind an
// FTDI bridge. It speaks the device's byte protocol, models the frame timing
// and the USB transfer rate, pixel non-uniformity, noise and a scene, and can
// inject faults. SimulatorBackend puts it behind the D2XX calls.
//
// Protocol (host -> device command frames AE AA code [payload] checksum 0A):
//   00 handshake        -> AE CC 00 7A 0A
//   01 parameter (18 B) -> AE CC 01 7B 0A; ignored when malformed
//   02 start, 03 stop   -> AE CC 02 7C 0A, AE CC 03 7D 0A (the host skips them)
//   04 battery query    -> AE CC 04 hi lo checksum 0A (7 bytes)
//   05 frame request    -> one 49157-byte frame:
//        AE CC 05, 16384 pixels x 3 bytes big-endian (index x + 128 y),
//        frame counter (low 8 bits, the first frame after plug-in is 00),
//        checksum (low 8 bits of the sum of the 49156 bytes before it).
//   Other codes are ignored. A pixel's raw value is current / range x 1e6.
//
// Timing: a frame requested at t is integrated until t + framePeriodSeconds()
// (integration count x 12.5 ns x 128 rows; requests queue behind the frame
// being integrated). Its content is computed when the request arrives, for
// the scene as it will be when the integration ends. The frame then crosses
// the link at the USB rate and becomes visible in whole chunks. Other answers
// are ready about 1 ms (setReplyDelay) after their command.
//
// Power-on state (also after each replug): range 800 nA (range byte 0x20),
// integration count 7180 (11.5 ms per frame), frame counter 0.
//
// Thread contract: every public member may be called from any thread; one
// internal mutex guards all state. Blocking reads wait on a condition
// variable, which releases the mutex; the hot-plug callback is called without
// the mutex held.
class ZK128Device
{
public:
    static constexpr int Side = 128;
    static constexpr int PixelCount = Side * Side;
    static constexpr std::size_t FrameBytes = 49157;
    static constexpr const char *SerialNumber = "ZK128";
    static constexpr const char *Description = "ZK128 USB";

    enum class Scene {
        CyclingDigits, // a handwritten digit shadow, the next one every few seconds (default)
        FixedDigit,    // the digit chosen with setFixedDigit
        Uniform,       // the whole matrix lit evenly
    };

    // The seed fixes the pixels' offsets and gains (the "device"); the noise
    // seed fixes the temporal noise, which is otherwise fresh for every device.
    explicit ZK128Device(std::uint32_t seed = 128, std::optional<std::uint32_t> noiseSeed = std::nullopt);
    ~ZK128Device();
    ZK128Device(const ZK128Device &) = delete;
    ZK128Device &operator=(const ZK128Device &) = delete;

    // ---- Scene and physics ---------------------------------------------------
    void setLampOn(bool on);                 // default on
    bool lampOn() const;
    void setScene(Scene scene);              // restarts the digit cycle
    Scene scene() const;
    // Sample 0..4 of the stored handwriting of that digit (0..9); values are clamped.
    void setFixedDigit(int digit, int sample = 0);
    void setDigitPeriod(std::chrono::milliseconds period); // CyclingDigits, default 3 s
    // The digit in view now (-1 for the uniform scene). The cycle shows 0, 1, .. 9
    // with sample 0, then again with sample 1, and so on.
    int digitShown() const;
    // Lamp light as photocurrent of a pixel of gain 1. By default it follows the
    // range: 60 % of it, so full-on frames sit inside every range.
    void setLampCurrentNa(double na);        // fixed value in nA instead
    void setLampFractionOfRange(double fraction); // back to following the range
    double lampCurrentNa() const;            // in effect now (0 when the lamp is off)
    // Temporal noise (standard deviation). By default 0.2 % of the range.
    void setNoiseNa(double sigmaNa);         // fixed value in nA instead
    void setNoiseFractionOfRange(double fraction);
    double noiseNa() const;                  // in effect now
    void setBatteryReading(std::uint16_t reading); // default 2400

    // ---- Enumeration and hot plug --------------------------------------------
    void unplug();
    void replug();                           // a fresh power-up: see the power-on state above
    bool isPlugged() const;
    // Counts unplug events; a handle opened before the last unplug is dead.
    std::uint64_t plugGeneration() const;
    // The serial number reads as empty for this long after each plug-in
    // (construction counts as a plug-in).
    void setSerialUnreadableFor(std::chrono::milliseconds duration);
    std::string serialNumber() const;       // "ZK128", or "" while unreadable or unplugged
    // Called (from the thread that plugs or unplugs) with true on arrival, false on removal.
    void setHotplugCallback(std::function<void(bool arrived)> callback);

    // ---- Timing ---------------------------------------------------------------
    void setUsbBytesPerSecond(double rate);  // default 40e6; <= 0: instantaneous
    void setChunkBytes(std::size_t bytes);    // default 16384: bytes become visible in chunks
    void setReplyDelay(std::chrono::microseconds delay); // default 1 ms
    // The device integrates with this count whatever the parameter command
    // says (the range is still decoded with the commanded count); nothing:
    // as commanded (default). The host never commands a count below 6400, so
    // this is the only way to run at count 0 (the USB link alone sets the
    // pace). Kept across replugs: it is a property of the bench, not a register.
    void setIntegrationCountOverride(std::optional<std::uint32_t> count);

    // ---- Faults ---------------------------------------------------------------
    void failNextReads(int count);            // FT_Read answers FT_IO_ERROR this many times
    // Sent in front of the next frame (for example a late AE CC 01 7B 0A).
    void setStrayBytesBeforeNextFrame(std::vector<std::uint8_t> bytes);
    void cutNextFrame(std::size_t bytesDropped);  // next frame loses its last bytes
    void setAnswering(bool answering);        // false: frame requests are ignored
    void setHandshakeAnswered(bool answered);
    // Acknowledgements (codes 00..03) carry checksum + 1.
    void setCorruptAcknowledgements(bool corrupt);
    // The battery answer is cut to its first bytes: 1..7, default 7 (the whole answer).
    void setBatteryAnswerLength(std::size_t bytes);

    // ---- What the host did (for tests) ----------------------------------------
    // The complete, valid command frames received, in order: the last
    // kCommandHistory of them (about 90 s of frame requests at the link's top rate).
    static constexpr std::size_t kCommandHistory = 65536;
    std::vector<std::vector<std::uint8_t>> receivedCommands() const;
    void clearReceivedCommands();
    std::uint64_t malformedCommands() const;  // frames or byte runs thrown away
    std::uint8_t rangeByte() const;           // from the last valid parameter command
    double rangeNa() const;                   // the range the byte was taken to mean
    std::uint32_t integrationCount() const;   // idem, or the override when one is set
    double framePeriodSeconds() const;        // from the integration count in effect
    std::uint64_t framesSent() const;         // frames queued for the host since construction
    // The expected (noise-free) current in nA of a pixel for the present scene,
    // lamp and range; 0 for an index outside 0..16383.
    double expectedCurrentNa(int pixelIndex) const;
    double pixelGain(int pixelIndex) const;           // the pixel's gain (1 on average)
    double pixelOffsetNa(int pixelIndex) const;       // the pixel's dark current at the present range

    // ---- Host side, used by SimulatorBackend ----------------------------------
    // The bridge's reset: drops what is queued both ways; the device keeps its settings.
    void reset();
    // rx: drops everything queued for the host, including a frame still integrating.
    // tx: drops a partly received command.
    void purge(bool rx, bool tx);
    // Ignored while unplugged.
    void hostWrite(const std::uint8_t *data, std::size_t length);
    std::size_t bytesAvailable() const;
    enum class ReadResult { Ok, Failed };
    // Waits up to timeout for length bytes; returns what arrived by then (Ok),
    // or Failed (nothing read) while unplugged, when unplugged during the wait,
    // or for an injected read failure. A negative timeout waits without limit.
    ReadResult hostRead(std::uint8_t *buffer, std::size_t length, std::size_t *returned,
                        std::chrono::milliseconds timeout);

private:
    struct State;
    std::unique_ptr<State> d;
};
