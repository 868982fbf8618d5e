// palo520g-sim: a virtual Palo520G sensor on a pseudo-terminal. Prints the path
// to open and runs until interrupted (SIGINT, SIGTERM) or hung up.

#include <CLI/CLI.hpp>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "common/Version.h"
#include "sim/VirtualSensor.h"

namespace {

// "\xHH" gives the byte HH and "\\" a backslash, so that a faulty sensor's texts
// (bytes that are not UTF-8, terminal escapes) can be typed.
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Shown on the simulator's own terminal without its control bytes.
std::string Shown(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

// "COMMAND:COUNT" of --garble-replies, the command in decimal or 0x hex.
bool ParseGarble(const std::string& text, VirtualSensorOptions& options)
{
    int command = -1;
    int count = -1;
    char end = 0;
    if (std::sscanf(text.c_str(), "%i:%d%c", &command, &count, &end) != 2 || command < 0 || command > 0xFFFF ||
        count < 0) {
        return false;
    }
    options.garbleReplyCommand = static_cast<uint16_t>(command);
    options.garbleReplyCount = count;
    return true;
}

// The counters line, flushed: at the end, and on SIGUSR1 while running.
void PrintCounters(const char* when, const VirtualSensorCounters& c)
{
    std::printf("%s: received %llu bytes (%llu commands), sent %llu bytes (%llu replies, %llu reports)\n", when,
                static_cast<unsigned long long>(c.bytesReceived), static_cast<unsigned long long>(c.commandsReceived),
                static_cast<unsigned long long>(c.bytesSent), static_cast<unsigned long long>(c.acksSent),
                static_cast<unsigned long long>(c.reportFramesSent));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    VirtualSensorOptions options;
    bool noPacing = false;
    bool outputOff = false;
    bool anyCommand = false;
    bool quiet = false;

    CLI::App app{"Virtual Palo520G radar sensor on a pseudo-terminal"};
    app.set_version_flag("--version", std::string("palo520g-sim ") + PaloVersionText());
    app.add_option("--link", options.linkPath, "Make a symbolic link with this name to the terminal");
    app.add_option("--replay", options.replayFile, "Stream the target reports of this record file, in a loop")
        ->check(CLI::ExistingFile);
    app.add_flag("--no-pacing", noPacing, "Send as fast as possible instead of at the line's baud rate");
    app.add_flag("--pace-receive", options.paceReceive,
                 "Take the tool's bytes at the baud rate too, as a real line brings them");
    app.add_option("--baud", options.baudRate, "Pace output at this rate (default: the rate the tool sets)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--time-scale", options.timeScale, "Run threshold generation this many times faster")
        ->check(CLI::PositiveNumber);
    app.add_option("--stream-time-scale", options.streamTimeScale,
                   "Run the report stream and the scene this many times faster")
        ->check(CLI::PositiveNumber);
    app.add_option("--seed", options.seed, "Seed of the scene's and the faults' random numbers");
    app.add_option("--corrupt-rate", options.corruptByteRate, "Probability that a byte sent is corrupted")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--lost-ack-rate", options.lostAckRate, "Probability that a reply is not sent")
        ->check(CLI::Range(0.0, 1.0));
    app.add_flag("--silent", options.silent, "Never send anything");
    app.add_option("--hang-up-after", options.hangUpAfterMs,
                   "Close the line this many milliseconds after the tool opened it");
    app.add_option("--noise-bytes", options.noiseBytesBetweenFrames, "Random bytes sent after every frame")
        ->check(CLI::NonNegativeNumber);
    std::string garble;
    app.add_option("--garble-replies", garble,
                   "COMMAND:COUNT: flip the top bit of the last byte of the first COUNT replies to COMMAND")
        ->check([&options](const std::string& text) {
            return ParseGarble(text, options) ? std::string() : std::string("expected COMMAND:COUNT, e.g. 0x0073:2");
        });
    app.add_flag("--output-off", outputOff, "Start with the report output switched off");
    app.add_flag("--any-command", anyCommand, "Answer commands outside command mode too");
    app.add_option("--fw-version", options.version, "Version text of the application in flash (\\xHH for any byte)");
    app.add_option("--serial-number", options.serialNumber, "Serial number text (\\xHH for any byte)");
    app.add_option("--device-id", options.deviceId, "Device id the bootloader reports");
    app.add_option("--partition-mask", options.partitionMask, "Partitions that can be programmed (bit mask)");
    app.add_option("--buffer-size", options.bufferSize, "Buffer size of the command-mode reply");
    app.add_option("--max-packet-size", options.maxPacketSize, "Maximum packet size of the bootloader (> 20)")
        ->check(CLI::Range(21, 65533));
    app.add_option("--reset-delay", options.resetDelayMs, "Milliseconds a software reset takes")
        ->check(CLI::NonNegativeNumber);
    app.add_flag("-q,--quiet", quiet, "Print only the terminal path");
    CLI11_PARSE(app, argc, argv);

    options.version = DecodeEscapes(options.version);
    options.serialNumber = DecodeEscapes(options.serialNumber);
    options.pacing = !noPacing;
    options.reportOutputOn = !outputOff;
    options.requireCmdMode = !anyCommand;

    // Block the stop signals before the sensor's thread starts, so that only this
    // thread receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    VirtualSensor sensor(options);
    std::string error;
    if (!sensor.Start(&error)) {
        std::fprintf(stderr, "palo520g-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sensor.PortPath().c_str());
    if (!quiet) {
        if (!options.linkPath.empty()) {
            std::printf("linked as %s\n", options.linkPath.c_str());
        }
        std::printf("firmware %s, serial number %s; stop with Ctrl+C\n", Shown(sensor.Version()).c_str(),
                    Shown(options.serialNumber).c_str());
    }
    std::fflush(stdout);

    const timespec tick{0, 200 * 1000 * 1000};
    int signal = 0;
    while (sensor.IsRunning()) {
        signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        if (signal == SIGUSR1) {
            PrintCounters("running", sensor.Counters());
        }
    }
    const bool hungUp = !sensor.IsRunning();
    sensor.Stop();
    if (!quiet) {
        PrintCounters(hungUp ? "hung up" : "stopped", sensor.Counters());
    }
    return 0;
}
