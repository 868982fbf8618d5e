#pragma once
// The virtual sensor's behaviour without any I/O: it takes the bytes the tool
// sent and the time, and produces the bytes the sensor sends back. The I/O
// thread of VirtualSensor drives it; tests may drive it directly.
//
// Not thread-safe: the owner serialises every call.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/ReportScenario.h"
#include "sim/VirtualSensor.h"

// Status values of the sensor's replies (first field of every reply).
enum : uint16_t {
    SIM_STATUS_OK = 0,
    SIM_STATUS_UNKNOWN_COMMAND = 1,
    SIM_STATUS_BAD_PAYLOAD = 2,
    SIM_STATUS_BAD_KEY = 3,
    SIM_STATUS_WRONG_MODE = 4,
    SIM_STATUS_CHECKSUM = 5,
    SIM_STATUS_BAD_PARTITION = 6,
    SIM_STATUS_SEQUENCE = 7,
};

class SensorModel {
public:
    SensorModel(const VirtualSensorOptions& options, std::unique_ptr<ReportScenario> scenario);

    // Bytes from the tool, at time nowMs (milliseconds on any steady clock).
    void Receive(const uint8_t* data, size_t length, double nowMs);
    // Runs whatever is due at nowMs: reports, progress, the end of a reset.
    void Tick(double nowMs);
    // When Tick has something to do next (absolute ms); a large value when idle.
    [[nodiscard]] double NextEventMs() const;
    // Bytes waiting to be sent, oldest first.
    [[nodiscard]] const std::deque<uint8_t>& Output() const { return output_; }
    // Moves up to count bytes from the front of the output to the end of out. When
    // the latest acknowledgement queued ends among them, returns how many of the
    // moved bytes it takes to reach its end; 0 otherwise.
    size_t TakeOutput(size_t count, std::vector<uint8_t>& out);
    // Forgets everything waiting to be sent.
    void DropOutput();

    // --- state, for VirtualSensor's accessors ---
    [[nodiscard]] const std::map<uint16_t, uint32_t>& Config() const { return config_; }
    [[nodiscard]] GateTable TableByWriteId(uint16_t writeId) const;
    [[nodiscard]] bool ReportOutputOn() const { return outputOn_; }
    [[nodiscard]] bool InCommandMode() const { return commandMode_; }
    [[nodiscard]] uint32_t RunningMode() const;
    [[nodiscard]] std::string Version() const;
    [[nodiscard]] bool Generating() const { return generation_.active; }
    [[nodiscard]] const std::optional<SimGenerateRequest>& LastGenerateRequest() const { return lastGenerate_; }
    // True while a software reset keeps the sensor deaf and quiet.
    [[nodiscard]] bool Restarting(double nowMs) const { return resetUntilMs_ >= 0 && nowMs < resetUntilMs_; }
    [[nodiscard]] std::vector<uint8_t> FlashPartition(int partition) const;
    [[nodiscard]] const VirtualSensorCounters& Counters() const { return counters_; }
    VirtualSensorCounters& MutableCounters() { return counters_; }
    void SetSilent(bool silent) { silent_ = silent; }
    // Raw bytes to send between frames.
    void Inject(const std::vector<uint8_t>& bytes);

    // The thresholds a generation with these coefficients settles on.
    static GateTable GeneratedTrigger(int coefficient);
    static GateTable GeneratedHold(int coefficient);

private:
    struct Generation {
        bool active = false;
        bool finishPending = false;  // reached 100 %, the last frame not sent yet
        int triggerCoefficient = 0;
        int holdCoefficient = 0;
        double startMs = 0;
        double scanMs = 0;           // in sensor time
        double nextFrameMs = 0;      // real time of the next progress frame
    };
    struct Download {
        bool active = false;
        int partition = 0;
        uint32_t length = 0;
        uint32_t checksum = 0;
        uint32_t nextSerial = 0;
        std::vector<uint8_t> data;
    };

    // The longest command body taken: the larger of the application's limit and a
    // bootloader packet of the configured size.
    [[nodiscard]] size_t MaxCommandBody() const;
    // Start of the first complete command at or after `from` in the input; SIZE_MAX when none.
    [[nodiscard]] size_t FindCompleteCommand(size_t from, size_t maxBody) const;
    void HandleFrame(uint16_t word, const uint8_t* payload, size_t length, double nowMs);
    void HandleApplication(uint16_t word, const uint8_t* payload, size_t length, double nowMs);
    void HandleBootloader(uint16_t word, const uint8_t* payload, size_t length, double nowMs);
    bool HandleParameter(uint16_t word, const uint8_t* payload, size_t length);
    void HandleFileInfo(const uint8_t* payload, size_t length);
    void HandlePacket(const uint8_t* payload, size_t length, double nowMs);
    void StartApplication(int partition, double nowMs);

    void Ack(uint16_t word, const std::vector<uint8_t>& payload);
    void AckStatus(uint16_t word, uint16_t status);
    void AckBoot(uint16_t word, uint16_t status, uint32_t value);
    void SendFrame(const uint8_t* payload, size_t length);
    void SendNoise(size_t count);
    void StreamReport(double nowMs);
    void TickGeneration(double nowMs);
    [[nodiscard]] bool Streaming() const;
    [[nodiscard]] double ReportPeriodMs() const;
    [[nodiscard]] double RangePeriodMs() const;
    [[nodiscard]] SceneSettings Scene() const;

    VirtualSensorOptions options_;
    std::unique_ptr<ReportScenario> scenario_;
    std::mt19937 random_;
    std::deque<uint8_t> output_;
    size_t ackEndInOutput_ = 0;      //!< Bytes from the front of output_ to the end of the latest acknowledgement; 0: none queued.
    std::vector<uint8_t> input_;
    double inputStallSinceMs_ = -1;  //!< When an incomplete frame started holding the input.
    VirtualSensorCounters counters_;

    // Kept across resets, as the sensor's flash would.
    std::map<uint16_t, uint32_t> config_;  //!< Keys of ids 112/113.
    GateTable trigger_{};                  //!< Ids 114/115.
    GateTable appear_{};                   //!< Ids 116/117.
    GateTable hold_{};                     //!< Ids 118/119.
    std::map<int, std::vector<uint8_t>> flash_;
    int runningPartition_ = 0;             //!< -1 while the bootloader runs.

    // Lost at a reset.
    bool commandMode_ = false;
    bool outputOn_ = true;
    bool silent_ = false;
    double resetUntilMs_ = -1;             //!< Quiet until then after 0x64.
    double startAppAtMs_ = -1;             //!< A verified image starts then.
    int startAppPartition_ = -1;
    Generation generation_;
    std::optional<SimGenerateRequest> lastGenerate_;
    Download download_;
    double nextReportMs_ = -1;
    double nextRangeMs_ = -1;
    uint16_t heldDistanceCm_ = 0;
    double sceneOriginMs_ = -1;
};
