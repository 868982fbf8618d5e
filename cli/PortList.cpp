#include "PortList.h"

#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <CLI/CLI.hpp>

#include "app/StringIds.h"
#include "Output.h"
#include "common/FileUtils.h"

namespace {

// A list of ports is a few lines; a larger file is not one.
constexpr size_t MAX_PORT_LIST_SIZE = 1 << 20;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The ports of --port and --ports-from in order. False after printing why the
// list cannot be used: an unreadable or empty file, or one adapter named twice
// (also under two names, such as its by-id link and its device path), which
// would fail to open the second time.
bool CollectPorts(const PortListOptions& options, std::vector<std::string>& ports) {
    ports = options.ports;
    if (!options.portsFrom.empty()) {
        // Only a regular file of a sensible size: a FIFO would wait for a writer for ever.
        std::string text;
        std::string why;
        if (!ReadRegularFile(options.portsFrom, MAX_PORT_LIST_SIZE, text, &why)) {
            PrintError(Text(TEXT_PORT_LIST_UNREADABLE_WHY, VisibleText(options.portsFrom).c_str(), why.c_str()));
            return false;
        }
        std::istringstream file(text);
        std::string line;
        while (std::getline(file, line)) {
            line = Trimmed(line.substr(0, line.find('#')));
            if (!line.empty()) ports.push_back(line);
        }
    }
    if (ports.empty()) {
        PrintError(Text(TEXT_PORT_LIST_EMPTY, options.portsFrom.c_str()));
        return false;
    }
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        std::error_code error;
        std::string key = std::filesystem::weakly_canonical(port, error).string();
        if (error) key = port;
        if (!seen.insert(key).second) {
            PrintError(Text(TEXT_PORT_TWICE, port.c_str()));
            return false;
        }
    }
    return true;
}

Json PortResult(const std::string& port, int rc, const std::vector<std::string>& output,
                                  const std::vector<std::string>& errors) {
    Json object;
    object["port"] = port;
    object["ok"] = rc == EXIT_OK;
    object["exit_code"] = rc;
    // A command with --json prints its result as one JSON line; anything else
    // is kept as its lines.
    Json result = nullptr;
    if (output.size() == 1) result = Json::parse(output.front(), nullptr, false);
    if (result.is_discarded() || (result.is_null() && !output.empty())) result = output;
    object["result"] = result;
    object["errors"] = errors;
    return object;
}

}  // namespace

void AddPortListOptions(CLI::App* command, PortListOptions& options) {
    command->add_option(
        "-p,--port", options.ports,
#ifdef _WIN32
        "Serial port (COM3); repeat for many sensors")
#else
        "Serial device path (/dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal); repeat for many sensors")
#endif
        ->allow_extra_args(false);  // "--port A IMAGE": IMAGE is not a second port
    command->add_option("--ports-from", options.portsFrom,
                                            "File with one serial device path a line (# starts a comment)")
        ->check(CLI::ExistingFile);
    command->add_option("-b,--baud", options.baud, "Baud rate")
        ->capture_default_str()
        ->check(CLI::Range(1, 4000000));
}

int RunOnEveryPort(const PortListOptions& options, bool json, const std::function<int(const PortOptions&)>& run) {
    if (options.ports.empty() && options.portsFrom.empty()) {
        PrintError("--port or --ports-from is required");
        return EXIT_USAGE;
    }
    if (options.ports.size() == 1 && options.portsFrom.empty()) return run(PortOptions{options.ports.front(), options.baud});
    std::vector<std::string> ports;
    if (!CollectPorts(options, ports)) return EXIT_USAGE;

    std::mutex resultMutex;  //!< Protects succeeded.
    int succeeded = 0;
    std::vector<std::thread> threads;
    threads.reserve(ports.size());
    for (const std::string& port : ports) {
        threads.emplace_back([&, port] {
            std::vector<std::string> output;
            std::vector<std::string> errors;
            int rc = EXIT_FAILED;
            {
                const std::string prefix = port + ": ";
                PortOutputScope scope(prefix, json ? &output : nullptr, json ? &errors : nullptr);
                // Nothing may leave the thread: a port's exception is its failure.
                try {
                    rc = run(PortOptions{port, options.baud});
                } catch (const std::exception& error) {
                    PrintError(error.what());
                } catch (...) {
                    PrintError("unknown error");
                }
            }
            if (json) {
                PrintLine(JsonText(PortResult(port, rc, output, errors)));
            }
            std::lock_guard<std::mutex> lock(resultMutex);
            if (rc == EXIT_OK) ++succeeded;
        });
    }
    for (std::thread& thread : threads) thread.join();

    const int total = static_cast<int>(ports.size());
    const std::string summary = Text(TEXT_PORTS_SUMMARY, total, succeeded, total - succeeded);
    // Standard output stays JSON only.
    if (json) {
        PrintError(summary);
    } else {
        PrintLine(summary);
    }
    return succeeded == total ? EXIT_OK : EXIT_FAILED;
}
