#pragma once
// The sensor's bootloader: firmware information query and image download over the
// line the sensor session lends it. The port is opened at the start of each
// procedure and closed on every path after a successful open.
//
// Everything the procedures show goes to an IBootloaderSink, each text with its
// string id so that a window shows it and the command-line tool prints it, and
// each value read from the sensor also as a number, so that no caller reads it
// back out of display text.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/BaseEvent.h"
#include "device/SensorLine.h"

class CBaseBuffer;

// Bootloader commands.
enum : uint16_t {
    BOOT_CMD_READ_MODE = 0x60,
    BOOT_CMD_READ_PARTITIONS = 0x61,
    BOOT_CMD_FILE_INFO = 0x62,
    BOOT_CMD_DATA_PACKET = 0x63,
    BOOT_CMD_SOFTWARE_RESET = 0x64,
    BOOT_CMD_READ_DEVICE_ID = 0x65,
};

// ReadBootAck's result for a reply that is not 6 bytes long.
constexpr uint16_t BOOT_ACK_BAD_LENGTH = 0xA005;
constexpr int BOOT_REPLY_LENGTH = 6;
constexpr int BOOT_COMMAND_TIMEOUT_MS = 3500;
constexpr int BOOT_FILE_INFO_TIMEOUT_MS = 10000;
constexpr int BOOT_RESET_WAIT_MS = 2000;
constexpr int BOOT_PACKET_HEADER = 8;        // serial number and checksum
constexpr uint32_t BOOT_PACKET_RESERVE = 20; // data size D = M - 20
constexpr int DEFAULT_BOOT_BAUD_RATE = 256000;

// Running modes.
enum : uint32_t {
    RUNNING_MODE_BOOTLOADER = 1,
    RUNNING_MODE_APP0 = 2,
    RUNNING_MODE_APP1 = 4,
};
// "BootLoader", "App0", "App1" or "Unknown".
[[nodiscard]] const char* RunningModeName(uint32_t mode);

// Reply check: a 6-byte reply stores its value field (bytes 2..5) into the
// uint32_t whose address the context carries and returns its status (bytes 0..1);
// any other length returns BOOT_ACK_BAD_LENGTH and stores nothing.
uint16_t ReadBootAck(eRADAR_PROTOCOL_VERSION version, const uint8_t* reply, int length, uint64_t context);

// Pad count p of an image of length L: 4 - L mod 4, or 0 when L is a multiple of 4.
[[nodiscard]] uint32_t ImagePadCount(size_t length);
// Wrapping 32-bit byte sum of the image plus 0xFF for each pad byte.
[[nodiscard]] uint32_t ImageChecksum(const uint8_t* image, size_t length);
// File information payload: partition mask (1 << partition), length (unpadded), checksum.
[[nodiscard]] std::array<uint8_t, 12> BuildFileInfoPayload(int partition, uint32_t length, uint32_t checksum);
// One data packet of a download: n image bytes from offset, then p pad bytes.
struct DownloadPacket {
    uint32_t serial;
    size_t offset;
    size_t n;
    size_t p;
};
// The packets of an image of the length for the maximum packet size M (data size
// M - 20); empty when M is not greater than 20 or the image is empty. Only a final
// packet shorter than the data size carries the pad bytes.
[[nodiscard]] std::vector<DownloadPacket> PlanDownloadPackets(size_t length, uint32_t maxPacketSize);
// Sizes buffer to 8 + n + p bytes: serial number, checksum of the bytes from offset 8
// on, n source bytes, p bytes 0xFF.
void BuildDownloadPack(CBaseBuffer& buffer, uint32_t serial, const uint8_t* source, size_t n, size_t p);

// On a line that is open (the main connection after its open): enters command
// mode, asks the running mode (0x60) and leaves command mode again unless the
// bootloader answered. True with mode set when the sensor answered.
bool QueryRunningMode(SensorLine& line, uint32_t& mode, int timeoutMs = BOOT_COMMAND_TIMEOUT_MS);

// A byte count as the labels show it, digits grouped by thousands: "65,552 bytes",
// "1 byte" (in the user-interface language).
[[nodiscard]] std::string ByteCountText(uint64_t count);

// Labels of the firmware page that the procedures set.
enum class BootLabel { RunningMode, DeviceId, FileSize, FileVerifyNum, DownloadProgressText };

// One entry of the partition list: text "App%d" and the partition index as its tag.
struct PartitionItem {
    std::string text;
    int tag;
};

// Where the procedures report. Called on the thread that runs the procedure; an
// implementation must not wait for another thread that may itself wait for the
// procedure (a window's thread: see the firmware widgets' forwarding sink).
class IBootloaderSink {
public:
    virtual ~IBootloaderSink() = default;
    // A message box: caption TEXT_NOTE ("Note"), information icon, topmost.
    virtual void ShowMessage(int stringId, const std::string& text) = 0;
    // A text appended to the log box (it carries its own "\r\n" where it has one).
    virtual void AppendLog(int stringId, const std::string& text) = 0;
    virtual void SetLabel(BootLabel label, const std::string& text) = 0;
    virtual void SetProgressRange(uint32_t maximum) = 0;
    virtual void SetProgressValue(uint32_t value) = 0;
    // The busy label shown during a transfer.
    virtual void SetBusyVisible(bool visible) = 0;
    // Replaces the partition list; selected is the index of the selected item or -1.
    virtual void SetPartitionList(const std::vector<PartitionItem>& items, int selected) = 0;
    // The procedure has ended: bring the log's last line into view.
    virtual void ScrollLogToEnd() = 0;

    // The values behind the texts, each reported just before its label or log line
    // and only when the sensor answered; an implementation that shows only texts
    // can ignore them.
    // The running-mode code as read (RUNNING_MODE_*, or any other code the sensor sent).
    virtual void OnRunningMode(uint32_t /*mode*/) {}
    virtual void OnDeviceId(uint32_t /*deviceId*/) {}
    // The programmable partitions as the sensor gave them: bit n = partition n.
    virtual void OnPartitionMask(uint32_t /*mask*/) {}
    // The image a download is about to send: its length without padding, and its checksum.
    virtual void OnImageInfo(uint32_t /*length*/, uint32_t /*checksum*/) {}
};

class CBootloader {
public:
    // Works on the line it is lent (see SensorSession::ClaimLine), here or by SetLine
    // before a procedure; without one a procedure fails as a port that does not open.
    explicit CBootloader(IBootloaderSink& sink, SensorLine* line = nullptr);
    ~CBootloader();  // closes the port
    CBootloader(const CBootloader&) = delete;
    CBootloader& operator=(const CBootloader&) = delete;

    // Copied in by the main window; changed only while no procedure runs.
    int portNumber = 0;
    int baudRate = DEFAULT_BOOT_BAUD_RATE;
    // Timing, with the defaults for a real sensor; read by the procedure before each
    // step that uses it, so set on the procedure's thread or while none runs.
    // How long a download waits after the software reset before it opens the port
    // again: the time the sensor needs to restart into its bootloader.
    int resetWaitMs = BOOT_RESET_WAIT_MS;
    // How long every command but the file information waits for its acknowledgement.
    int commandTimeoutMs = BOOT_COMMAND_TIMEOUT_MS;
    // Set only by UpdateFWInfo from the running-mode reply.
    int inBootloader = 0;
    // Partition chosen for the download; -1 = none.
    int selectedPartition = -1;
    // The programmable partitions of the last successful partition query (bit n = partition n).
    uint32_t partitionMask = 0;

    // Reads running mode, device ID and partitions; fills the partition list.
    // True when the partition information was read.
    bool UpdateFWInfo();
    // Downloads the image to the partition; true when every packet was acknowledged.
    bool DownloadFW(int partition, const std::string& imagePath);

    // How the last DownloadFW ended, for the caller's report. A sensor that was
    // sent the software reset (or already ran its bootloader) and did not get the
    // whole image stays in its bootloader: it runs no application until a download
    // completes.
    [[nodiscard]] bool LeftInBootloader() const { return leftInBootloader_.load(); }
    // The last DownloadFW ended because of RequestStop.
    [[nodiscard]] bool WasInterrupted() const { return interrupted_.load(); }
    // True from the software reset (or, in the bootloader already, from the start)
    // until DownloadFW returns: a stop now leaves the sensor in its bootloader.
    // Any thread.
    [[nodiscard]] bool InBootloaderPhase() const { return bootloaderPhase_.load(); }

    // Called on the procedure's thread before each data packet goes out, with its
    // serial number. Lets a test hold a download at a known packet; set only while
    // no procedure runs.
    std::function<void(uint32_t serial)> beforePacket;

    // From any thread: cuts the wait after the software reset short and ends a
    // running download before its next packet (the procedure returns false).
    void RequestStop();
    // Clears a stop request, and the last download's outcome, before the next procedure.
    void ClearStop();

    void SetLine(SensorLine* line) { line_ = line; }
    [[nodiscard]] SensorLine* Line() const { return line_; }

private:
    bool OpenPort();
    uint16_t SendWithAck(uint16_t command, const void* payload, int length, uint32_t& result, int timeoutMs);
    bool EnterBootloader(uint32_t& result);
    void Log(int stringId, const std::string& text);

    IBootloaderSink& sink_;
    SensorLine* line_;
    std::atomic<int> stop_{0};
    std::atomic<bool> bootloaderPhase_{false};
    std::atomic<bool> leftInBootloader_{false};
    std::atomic<bool> interrupted_{false};
    CBaseEvent stopEvent_{true, false};  // manual reset: set by RequestStop, cleared by ClearStop
};
