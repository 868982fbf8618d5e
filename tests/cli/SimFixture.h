#pragma once
// A virtual sensor on a pseudo-terminal for the command-line tests, and small helpers.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CliRunner.h"
#include "JsonOutput.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

class CliSimTest : public ::testing::Test {
protected:
    // Fast clocks so that streams and threshold generation take a fraction of a second.
    static VirtualSensorOptions FastOptions() {
        VirtualSensorOptions options;
        options.timeScale = 200.0;
        options.streamTimeScale = 5.0;
        options.resetDelayMs = 50;
        return options;
    }

    // Starts the sensor, or a fresh one in place of the running one.
    [[nodiscard]] ::testing::AssertionResult StartSim(const VirtualSensorOptions& options = FastOptions()) {
        return sim_.Start(options);
    }
    [[nodiscard]] std::string Port() const { return sim_->PortPath(); }

    // Runs the tool with "--port <sim>" after the command words.
    CliResult RunOnSim(std::vector<std::string> args, int timeoutMs = 30000) {
        args.push_back("--port");
        args.push_back(Port());
        return RunCli(args, timeoutMs);
    }

    SimulatedSensor sim_;
    TempDir dir_;
};

// True when the text contains the part; a readable assertion message otherwise.
inline ::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not found in:\n" << text;
}
