// --trace FILE, and info on a sensor left in its bootloader.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimFixture.h"
#include "firmware/SensorInBootloader.h"

#ifndef PALO_SOURCE_DIR
#error "PALO_SOURCE_DIR must name the source folder"
#endif

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One exchange of a trace without what changes from run to run (the time, the
// port's name and how long it took).
struct TraceLine {
    std::string word;
    std::string name;
    std::string sent;
    std::string received;
    std::string result;

    bool operator==(const TraceLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TraceLine& line) {
    return out << line.word << " " << line.name << " > " << line.sent << " < " << line.received << " = "
               << line.result;
}

// Splits "TIME PORT WORD NAME > SENT < RECEIVED = RESULT"; lines starting with
// '#' and event lines ("----" without bytes) are left out.
std::vector<TraceLine> ParseTrace(const std::string& text, bool* wellFormed) {
    std::vector<TraceLine> lines;
    *wellFormed = true;
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        if (raw.empty() || raw[0] == '#') continue;
        const size_t sent = raw.find(" > ");
        const size_t received = raw.find(" < ", sent == std::string::npos ? 0 : sent);
        const size_t result = raw.find(" = ", received == std::string::npos ? 0 : received);
        std::istringstream head(raw.substr(0, sent));
        std::string time, port;
        TraceLine line;
        if (sent == std::string::npos || received == std::string::npos || result == std::string::npos ||
            !(head >> time >> port >> line.word >> line.name)) {
            *wellFormed = false;
            continue;
        }
        line.sent = raw.substr(sent + 3, received - sent - 3);
        line.received = raw.substr(received + 3, result - received - 3);
        line.result = raw.substr(result + 3);
        // The acknowledgement alone: report bytes before it (the stream until command
        // mode is entered) and after it (the stream that leaving restarts) vary by run.
        const size_t ack = line.received.find("FD FC FB FA");
        const size_t tail = line.received.find(" 04 03 02 01", ack);
        if (ack != std::string::npos && tail != std::string::npos)
            line.received = line.received.substr(ack, tail + 12 - ack);
        // "ok 3 ms": the time it took varies.
        line.result = line.result.substr(0, line.result.find(' '));
        if (line.word == "----" && line.sent == "-" && line.received == "-") continue;
        lines.push_back(line);
    }
    return lines;
}

// The example trace of docs/protocol.md: the fenced block of its section "Reading a
// wire trace" that holds a whole trace (it starts with the trace's heading line).
std::string DocumentedTrace() {
    const std::string doc = ReadText(std::string(PALO_SOURCE_DIR) + "/docs/protocol.md");
    const size_t section = doc.find("## Reading a wire trace");
    if (section == std::string::npos) return {};
    const size_t open = doc.find("```\n# palo520g wire trace", section);
    if (open == std::string::npos) return {};
    const size_t close = doc.find("\n```", open + 4);
    return doc.substr(open + 4, close - open - 4);
}

class CliWireTraceTest : public CliSimTest {};

TEST_F(CliWireTraceTest, ParamsReadTraceMatchesTheBytesTheProtocolDocumentGives) {
    // The document's example is of a sensor with its factory settings.
    VirtualSensorOptions options = FastOptions();
    ASSERT_TRUE(StartSim(options));
    const std::string trace = dir_.File("read.trace");
    const CliResult result = RunOnSim({"params", "read", "--trace", trace});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    bool traceWellFormed = false;
    const std::vector<TraceLine> traced = ParseTrace(ReadText(trace), &traceWellFormed);
    EXPECT_TRUE(traceWellFormed) << ReadText(trace);
    bool docWellFormed = false;
    const std::vector<TraceLine> documented = ParseTrace(DocumentedTrace(), &docWellFormed);
    EXPECT_TRUE(docWellFormed);
    ASSERT_GE(documented.size(), 4u) << "docs/protocol.md has no example trace";
    EXPECT_EQ(traced, documented);
    // It starts by entering command mode and ends by leaving it.
    EXPECT_EQ(traced.front().name, "enter-command-mode");
    EXPECT_EQ(traced.back().name, "leave-command-mode");
}

TEST_F(CliWireTraceTest, TraceOfAWriteFitsOnOneScreenAndShowsEveryExchange) {
    ASSERT_TRUE(StartSim());
    const std::string trace = dir_.File("write.trace");
    const CliResult write = RunOnSim({"params", "write", "--min", "1.4", "--trace", trace});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    const std::string text = ReadText(trace);
    bool wellFormed = false;
    const std::vector<TraceLine> lines = ParseTrace(text, &wellFormed);
    EXPECT_TRUE(wellFormed) << text;
    EXPECT_LE(NonEmptyLines(text).size(), 40u) << text;
    const auto has = [&](const std::string& name) {
        for (const TraceLine& line : lines)
            if (line.name == name && line.result == "ok") return true;
        return false;
    };
    for (const char* name : {"enter-command-mode", "write-detection", "write-trigger-table", "write-hold-table",
                             "read-detection", "leave-command-mode"})
        EXPECT_TRUE(has(name)) << name << " missing in:\n" << text;
}

TEST_F(CliWireTraceTest, AnUnwritableTraceFileIsSaidAndNothingIsSentWithoutOne) {
    ASSERT_TRUE(StartSim());
    const uint64_t commandsBefore = sim_->Counters().commandsReceived;
    const CliResult result = RunOnSim({"info", "--trace", dir_.File("no-such-folder/x.trace")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(Contains(result.err, "Cannot write the wire trace"));
    EXPECT_EQ(sim_->Counters().commandsReceived, commandsBefore);

    // A trace that fills the disk: the command's result stands, the gap is said.
    const CliResult full = RunOnSim({"info", "--trace", "/dev/full"});
    EXPECT_EQ(full.exitCode, 0) << full.err;
    EXPECT_TRUE(Contains(full.err, "Cannot write the wire trace /dev/full: No space left on device"));
}

TEST_F(CliWireTraceTest, InfoOnASensorInItsBootloaderNamesTheStateAndTheRecovery) {
    ASSERT_TRUE(StartSim());
    ASSERT_TRUE(ResetIntoBootloader(sim_));
    const CliResult text = RunOnSim({"info"});
    EXPECT_EQ(text.exitCode, 4) << text.err;
    EXPECT_TRUE(Contains(text.err, "is in its bootloader"));
    EXPECT_TRUE(Contains(text.err, "palo520g fw flash --port " + Port()));

    const CliResult json = RunOnSim({"info", "--json"});
    EXPECT_EQ(json.exitCode, 4);
    Json object;
    ASSERT_TRUE(ParseJson(json.out, object)) << json.out;
    EXPECT_EQ(object.at("running_mode").get<std::string>(), "bootloader");

    // A sensor that answers nothing at all is still "no answer", with its own code.
    VirtualSensorOptions silent = FastOptions();
    silent.silent = true;
    ASSERT_TRUE(StartSim(silent));
    const CliResult none = RunOnSim({"info"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_FALSE(Contains(none.err, "bootloader"));
}

}  // namespace
