#pragma once
// A virtual Palo520G sensor on a pseudo-terminal: the tests, the GUI's demo mode
// and palo520g-sim open PortPath() with the ordinary device library as if it were
// a serial adapter. It speaks the command protocol of docs/protocol.md, streams
// target reports from a scenario or a record file, runs threshold generation with
// progress frames, and has a bootloader with a flash store per partition.
// Usage and options: docs/simulator.md.
//
// Threads: Start() runs the sensor on its own thread. Every public call is safe
// from any thread; the accessors return copies taken under the sensor's lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct VirtualSensorOptions {
    // --- identity ---
    std::string version = "v1.0.2";            // version of the application in flash partition 0
    std::string serialNumber = "P520G-SIM-0001";
    uint32_t deviceId = 0x520C0001;
    uint32_t partitionMask = 0x3;               // App0 and App1 can be programmed
    uint16_t bufferSize = 256;                  // reported by the command-mode reply
    uint16_t maxPacketSize = 256;               // reported by the file-information reply (0x62)

    // --- timing ---
    bool pacing = true;        // send at most baud/10 bytes per second
    // Take the tool's bytes no faster than the line would bring them: each write of
    // the tool reaches the sensor when its last byte would have arrived at baud/10
    // bytes per second after the bytes before it. Off, a pseudo-terminal hands the
    // sensor a whole command at the moment it is written.
    bool paceReceive = false;
    int baudRate = 0;          // pacing rate; 0 follows the rate the tool set on the line
    double timeScale = 1.0;    // threshold generation runs this many times faster than real time
    double streamTimeScale = 1.0;  // report period and scenario clock run this many times faster
    int resetDelayMs = 200;    // a software reset keeps the sensor quiet this long

    // --- behaviour ---
    bool reportOutputOn = true;    // state of the report output switch (0x7A) at power-on
    bool requireCmdMode = true;    // the application answers only 0x00FF/0x00FE outside command mode
    std::string replayFile;        // empty: built-in scenario; else the report frames of this record file
    int noiseBytesBetweenFrames = 0;  // random bytes sent after every streamed frame

    // --- faults (seeded, reproducible) ---
    uint32_t seed = 1;
    double corruptByteRate = 0.0;  // each byte sent is replaced by a random one with this probability
    double lostAckRate = 0.0;      // each acknowledgement is dropped with this probability
    bool silent = false;           // reads commands, never sends anything
    int hangUpAfterMs = -1;        // closes the line this long after a tool opened it; negative = never
    // The first garbleReplyCount replies to the command garbleReplyCommand have the
    // top bit of their last byte flipped (a parameter read's last value grows by 2^31,
    // a text gets a byte that is not ASCII), with the envelope intact.
    uint16_t garbleReplyCommand = 0;
    int garbleReplyCount = 0;

    // --- where ---
    std::string linkPath;          // symbolic link made to the pseudo-terminal; empty = none
};

struct VirtualSensorCounters {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    // Bytes sent after the last acknowledgement went out: all that a tool reads
    // once its last command has its reply.
    uint64_t bytesSentSinceAck = 0;
    uint64_t bytesWaiting = 0;       // queued and not written yet (a level, not a count)
    uint64_t commandsReceived = 0;   // well-formed command frames
    uint64_t softwareResets = 0;     // 0x64 taken, by the application or the bootloader
    uint64_t acksSent = 0;
    uint64_t acksDropped = 0;        // lost on purpose (lostAckRate)
    uint64_t reportFramesSent = 0;   // target reports (type 1)
    uint64_t progressFramesSent = 0; // threshold generation progress (type 3)
    uint64_t noiseBytesSent = 0;
    uint64_t bytesCorrupted = 0;
    uint64_t repliesGarbled = 0;     // garbleReplyCount at work
};

// The inputs of the last threshold generation command (9) the sensor accepted.
struct SimGenerateRequest {
    int triggerCoefficient = 0;  // dB
    int holdCoefficient = 0;     // dB
    int scanTimeS = 0;
    bool operator==(const SimGenerateRequest&) const = default;
};

// Running modes as the bootloader's 0x60 reply gives them.
enum : uint32_t {
    SIM_MODE_BOOTLOADER = 1,
    SIM_MODE_APP0 = 2,
    SIM_MODE_APP1 = 4,
};


class VirtualSensor {
public:
    explicit VirtualSensor(VirtualSensorOptions options = {});
    ~VirtualSensor();  // stops
    VirtualSensor(const VirtualSensor&) = delete;
    VirtualSensor& operator=(const VirtualSensor&) = delete;

    // Opens a fresh pseudo-terminal and starts the sensor's thread. False with a
    // reason in *error (when given) if the terminal or the replay file cannot be used.
    bool Start(std::string* error = nullptr);
    // Stops the thread, closes the terminal and removes the link. Safe to repeat.
    void Stop();
    [[nodiscard]] bool IsRunning() const;
    // The slave side to open ("/dev/pts/7"); empty before Start.
    [[nodiscard]] std::string PortPath() const;

    // Closes the line now, as an unplugged adapter would; the thread ends.
    void HangUp();
    // Switches "no answers at all" on or off while running.
    void SetSilent(bool silent);
    // Sends these bytes as they are (between whole frames), e.g. line noise.
    void InjectBytes(const std::vector<uint8_t>& bytes);

    // --- what the sensor holds ---
    // Configuration value of a key of ids 112/113 (detection and private keys 1..13).
    [[nodiscard]] std::optional<uint32_t> ConfigValue(uint16_t key) const;
    // A gate table by the id that writes it: 114 trigger, 116 appear, 118 hold.
    [[nodiscard]] std::array<uint32_t, 16> GateTable(uint16_t writeId) const;
    [[nodiscard]] bool ReportOutputOn() const;
    [[nodiscard]] bool InCommandMode() const;
    [[nodiscard]] uint32_t RunningMode() const;   // SIM_MODE_*
    [[nodiscard]] std::string Version() const;    // what 0x0000 answers now
    [[nodiscard]] bool Generating() const;        // threshold generation in progress
    [[nodiscard]] std::optional<SimGenerateRequest> LastGenerateRequest() const;
    [[nodiscard]] bool Restarting() const;        // a software reset keeps the sensor deaf and quiet
    // Bytes stored in a flash partition (the image last written to it).
    [[nodiscard]] std::vector<uint8_t> FlashPartition(int partition) const;
    // The baud rate set on the line now: what the tool chose, or the terminal's default.
    [[nodiscard]] int LineBaudRate() const;
    [[nodiscard]] VirtualSensorCounters Counters() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// --- the simulator's firmware image format (docs/simulator.md) ---
// Header: "P520GSIM" (8 bytes), u16 little-endian version text length, the
// version text, then any body bytes. An image without this header is flashed
// but not started.

// An image with the version text and bodySize bytes of deterministic filler.
[[nodiscard]] std::vector<uint8_t> BuildSimFirmwareImage(const std::string& version, size_t bodySize = 1024);
// Writes such an image to a file; true on success.
bool WriteSimFirmwareImage(const std::string& path, const std::string& version, size_t bodySize = 1024);
// The version text of an image; empty when the header is missing or damaged.
[[nodiscard]] std::optional<std::string> SimFirmwareImageVersion(const std::vector<uint8_t>& image);
