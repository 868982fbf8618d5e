// The virtual sensor's terminal and thread: a pseudo-terminal whose master side
// this thread serves, paced output, injected faults, and the model behind it.

#include "sim/VirtualSensor.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "sim/ReportScenario.h"
#include "sim/SensorModel.h"

namespace {

using Clock = std::chrono::steady_clock;

// Rate used for pacing when the line's own rate cannot be read.
constexpr int FALLBACK_BAUD = 115200;
// Longest sleep of the thread between looks at its clock.
constexpr double MAX_WAIT_MS = 200.0;
constexpr size_t NO_ACK = static_cast<size_t>(-1);
constexpr double NEVER_MS = 1e300;

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Raw mode on the line from the start, so nothing is echoed or translated
// before the tool sets the line up itself.
void MakeRaw(int fd)
{
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return;
    }
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::ioctl(fd, TCSETS2, &tio);
}

}  // namespace

struct VirtualSensor::Impl {
    VirtualSensorOptions options;

    mutable std::mutex mutex;  //!< Protects model (with its counters), portPath, sending and sendingAckEnd.
    std::unique_ptr<SensorModel> model;
    std::string portPath;
    std::vector<uint8_t> sending;  //!< Taken from the model, corrupted, not yet written.
    size_t sendingAckEnd = NO_ACK;  //!< Index in sending just past the latest acknowledgement, if one ends there.

    // Owned by the sensor's thread while it runs; by Start/Stop otherwise.
    int masterFd = -1;   //!< In packet mode: each read starts with a status byte.
    int slaveFd = -1;    //!< Kept open so the master never sees a hang-up while no tool has the port.
    int wakeFd = -1;
    double lineOpenedMs = -1;  //!< When a tool first flushed the line or sent a byte; -1 before.
    double nextSendMs = 0;
    // Paced receiving: the tool's writes with the time each has come through the line.
    struct Arriving {
        double atMs;
        std::vector<uint8_t> bytes;
    };
    std::deque<Arriving> arriving;
    double receiveLineFreeMs = 0;  //!< When the line has carried every byte the tool wrote so far.
    std::mt19937 faultRandom;
    Clock::time_point origin;

    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> hangUpRequested{false};
    mutable std::atomic<int> lineBaud{0};

    [[nodiscard]] double NowMs() const
    {
        return std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
    }

    void Wake() const
    {
        const uint64_t one = 1;
        if (wakeFd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof(one));
        }
    }

    void ReadLineBaud() const
    {
        struct termios2 tio {};
        if (masterFd >= 0 && ::ioctl(masterFd, TCGETS2, &tio) == 0) {
            lineBaud.store(static_cast<int>(tio.c_ospeed));
        }
    }

    void CloseLine()
    {
        CloseFd(masterFd);
        CloseFd(slaveFd);
        if (!options.linkPath.empty()) {
            struct stat st {};
            if (::lstat(options.linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                ::unlink(options.linkPath.c_str());
            }
        }
    }

    // Moves the next chunk from the model into `sending`, applying corruption.
    // Caller holds mutex.
    void TakeChunk(size_t count)
    {
        const size_t first = sending.size();
        const size_t ackEnd = model->TakeOutput(count, sending);
        if (ackEnd > 0) {
            sendingAckEnd = first + ackEnd;
        }
        if (options.corruptByteRate <= 0.0) {
            return;
        }
        VirtualSensorCounters& counters = model->MutableCounters();
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        std::uniform_int_distribution<int> flip(1, 255);
        for (size_t i = first; i < sending.size(); ++i) {
            if (chance(faultRandom) < options.corruptByteRate) {
                sending[i] = static_cast<uint8_t>(sending[i] ^ flip(faultRandom));
                ++counters.bytesCorrupted;
            }
        }
    }

    // Removes the first n bytes of `sending`, which went out. Caller holds mutex.
    void NoteWritten(size_t n)
    {
        VirtualSensorCounters& counters = model->MutableCounters();
        counters.bytesSent += n;
        if (sendingAckEnd != NO_ACK && sendingAckEnd <= n) {
            counters.bytesSentSinceAck = n - sendingAckEnd;
            sendingAckEnd = NO_ACK;
        } else {
            counters.bytesSentSinceAck += n;
            if (sendingAckEnd != NO_ACK) {
                sendingAckEnd -= n;
            }
        }
        sending.erase(sending.begin(), sending.begin() + static_cast<std::ptrdiff_t>(n));
    }

    // Writes what pacing allows; returns the time of the next write (ms), or a
    // large value when nothing is waiting.
    double Send(double nowMs)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (sending.empty() && model->Output().empty()) {
            return NEVER_MS;
        }
        if (!options.pacing) {
            TakeChunk(model->Output().size());
        } else {
            if (sending.empty()) {
                if (nowMs < nextSendMs) {
                    return nextSendMs;
                }
                // About 2 ms of the line at a time: a chunk goes on the line when the
                // last one is through and reaches the tool when its own last byte is.
                const double bytesPerMs = LineBytesPerMs();
                TakeChunk(static_cast<size_t>(std::max(1.0, std::floor(bytesPerMs * 2.0))));
                // A chunk that follows the last one closely (a late wake-up) starts where
                // that one ended; after an idle line, it starts now.
                const double start = nowMs - nextSendMs > 1.0 ? nowMs : nextSendMs;
                nextSendMs = start + sending.size() / bytesPerMs;
            }
            if (nowMs < nextSendMs) {
                return nextSendMs;
            }
        }
        while (!sending.empty()) {
            const ssize_t n = ::write(masterFd, sending.data(), sending.size());
            if (n > 0) {
                NoteWritten(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            // Nobody reads the line and its queue is full: like a UART with no
            // listener, the bytes go nowhere.
            sending.clear();
            sendingAckEnd = NO_ACK;
            model->DropOutput();
            break;
        }
        return options.pacing ? nextSendMs : (model->Output().empty() ? NEVER_MS : nowMs);
    }

    // One read from the master in packet mode: a status byte, then the tool's bytes
    // when the status is TIOCPKT_DATA.
    void TakePacket(const uint8_t* packet, size_t length)
    {
        const double now = NowMs();
        if (packet[0] != TIOCPKT_DATA) {
            // The tool flushed its side of the line, as the device library does
            // when it opens the port.
            if ((packet[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0 && lineOpenedMs < 0) {
                lineOpenedMs = now;
            }
            return;
        }
        if (length < 2) {
            return;
        }
        if (lineOpenedMs < 0) {
            lineOpenedMs = now;
        }
        if (options.paceReceive) {
            receiveLineFreeMs = std::max(receiveLineFreeMs, now) + static_cast<double>(length - 1) / LineBytesPerMs();
            arriving.push_back({receiveLineFreeMs, std::vector<uint8_t>(packet + 1, packet + length)});
            return;
        }
        std::lock_guard<std::mutex> lock(mutex);
        model->Receive(packet + 1, length - 1, now);
    }

    // The hang-up counts from the tool's opening of the line, so that the tool
    // meets it however long it took to get there.
    [[nodiscard]] double HangUpAtMs() const
    {
        if (options.hangUpAfterMs < 0 || lineOpenedMs < 0) {
            return NEVER_MS;
        }
        return lineOpenedMs + options.hangUpAfterMs;
    }

    [[nodiscard]] double LineBytesPerMs() const
    {
        const int baud = options.baudRate > 0 ? options.baudRate : (lineBaud.load() > 0 ? lineBaud.load() : FALLBACK_BAUD);
        return baud / 10000.0;  // 10 bits per byte: start, 8 data, stop
    }

    // Hands the sensor the tool's bytes that have come through the line by now;
    // returns when the next ones will have.
    double Deliver(double nowMs)
    {
        while (!arriving.empty() && arriving.front().atMs <= nowMs) {
            std::lock_guard<std::mutex> lock(mutex);
            model->Receive(arriving.front().bytes.data(), arriving.front().bytes.size(), arriving.front().atMs);
            arriving.pop_front();
        }
        return arriving.empty() ? NEVER_MS : arriving.front().atMs;
    }

    void Run()
    {
        uint8_t buffer[4096 + 1];
        while (!stopRequested.load()) {
            double now = NowMs();
            const double hangUpAt = HangUpAtMs();
            if (hangUpRequested.load() || now >= hangUpAt) {
                break;
            }
            ReadLineBaud();
            double next = Deliver(now);
            {
                std::lock_guard<std::mutex> lock(mutex);
                model->Tick(now);
                next = std::min(next, model->NextEventMs());
            }
            next = std::min({next, Send(now), hangUpAt});
            now = NowMs();
            const double waitMs = std::clamp(next - now, 0.0, MAX_WAIT_MS);
            const timespec timeout{static_cast<time_t>(waitMs / 1000.0),
                                   static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6)};
            pollfd pfds[2] = {{masterFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int ready = ::ppoll(pfds, 2, &timeout, nullptr);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            if (pfds[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof(count));
            }
            if (pfds[0].revents & POLLIN) {
                const ssize_t n = ::read(masterFd, buffer, sizeof(buffer));
                if (n > 0) {
                    TakePacket(buffer, static_cast<size_t>(n));
                }
            } else if (pfds[0].revents & (POLLERR | POLLNVAL)) {
                break;
            }
        }
        // Stopped before the line closes: whoever sees the hang-up finds the sensor stopped.
        running.store(false);
        {
            std::lock_guard<std::mutex> lock(mutex);
            CloseLine();
        }
    }
};

VirtualSensor::VirtualSensor(VirtualSensorOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
    impl_->model = std::make_unique<SensorModel>(impl_->options, nullptr);
}

VirtualSensor::~VirtualSensor()
{
    Stop();
}

bool VirtualSensor::Start(std::string* error)
{
    auto fail = [&](const std::string& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        impl_->CloseLine();
        CloseFd(impl_->wakeFd);
        return false;
    };
    if (impl_->thread.joinable()) {
        return fail("already started");
    }
    Impl& d = *impl_;
    std::unique_ptr<ReportScenario> scenario;
    if (!d.options.replayFile.empty()) {
        auto recording = std::make_unique<RecordedScenario>();
        std::string reason;
        if (!recording->Load(d.options.replayFile, reason)) {
            return fail(reason);
        }
        scenario = std::move(recording);
    }

    d.masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.masterFd < 0 || ::grantpt(d.masterFd) != 0 || ::unlockpt(d.masterFd) != 0) {
        return fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    }
    // Packet mode tells the sensor when the tool flushes the line, which is how it
    // knows that the tool has opened it.
    int packetMode = 1;
    if (::ioctl(d.masterFd, TIOCPKT, &packetMode) != 0) {
        return fail(std::string("cannot put the pseudo-terminal into packet mode: ") + std::strerror(errno));
    }
    char name[256] = {};
    if (::ptsname_r(d.masterFd, name, sizeof(name)) != 0) {
        return fail("cannot name the pseudo-terminal");
    }
    d.slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.slaveFd < 0) {
        return fail(std::string("cannot open ") + name + ": " + std::strerror(errno));
    }
    MakeRaw(d.slaveFd);
    d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0) {
        return fail("cannot create an event descriptor");
    }
    if (!d.options.linkPath.empty()) {
        struct stat st {};
        if (::lstat(d.options.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                return fail(d.options.linkPath + " exists and is not a symbolic link");
            }
            ::unlink(d.options.linkPath.c_str());
        }
        if (::symlink(name, d.options.linkPath.c_str()) != 0) {
            const std::string reason = std::strerror(errno);
            d.options.linkPath.clear();  // not ours to remove
            return fail("cannot make the link: " + reason);
        }
    }

    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.model = std::make_unique<SensorModel>(d.options, std::move(scenario));
        d.portPath = name;
    }
    d.faultRandom.seed(d.options.seed);
    d.origin = Clock::now();
    d.nextSendMs = 0;
    d.lineOpenedMs = -1;
    d.sending.clear();
    d.sendingAckEnd = NO_ACK;
    d.stopRequested.store(false);
    d.hangUpRequested.store(false);
    d.running.store(true);
    d.thread = std::thread([&d] { d.Run(); });
    return true;
}

void VirtualSensor::Stop()
{
    Impl& d = *impl_;
    d.stopRequested.store(true);
    d.Wake();
    if (d.thread.joinable()) {
        d.thread.join();
    }
    d.CloseLine();
    CloseFd(d.wakeFd);
}

bool VirtualSensor::IsRunning() const
{
    return impl_->running.load();
}

std::string VirtualSensor::PortPath() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->portPath;
}

void VirtualSensor::HangUp()
{
    impl_->hangUpRequested.store(true);
    impl_->Wake();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

void VirtualSensor::SetSilent(bool silent)
{
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->model->SetSilent(silent);
    }
    impl_->Wake();
}

void VirtualSensor::InjectBytes(const std::vector<uint8_t>& bytes)
{
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->model->Inject(bytes);
    }
    impl_->Wake();
}

std::optional<uint32_t> VirtualSensor::ConfigValue(uint16_t key) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto& config = impl_->model->Config();
    const auto found = config.find(key);
    if (found == config.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::array<uint32_t, 16> VirtualSensor::GateTable(uint16_t writeId) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->TableByWriteId(writeId);
}

bool VirtualSensor::ReportOutputOn() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->ReportOutputOn();
}

bool VirtualSensor::InCommandMode() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->InCommandMode();
}

uint32_t VirtualSensor::RunningMode() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->RunningMode();
}

std::string VirtualSensor::Version() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->Version();
}

bool VirtualSensor::Generating() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->Generating();
}

std::optional<SimGenerateRequest> VirtualSensor::LastGenerateRequest() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->LastGenerateRequest();
}

bool VirtualSensor::Restarting() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->Restarting(impl_->NowMs());
}

std::vector<uint8_t> VirtualSensor::FlashPartition(int partition) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->model->FlashPartition(partition);
}

int VirtualSensor::LineBaudRate() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->ReadLineBaud();
    return impl_->lineBaud.load();
}

VirtualSensorCounters VirtualSensor::Counters() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    VirtualSensorCounters counters = impl_->model->Counters();
    counters.bytesWaiting = impl_->model->Output().size() + impl_->sending.size();
    return counters;
}
