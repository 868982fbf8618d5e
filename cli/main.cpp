// palo520g: every device operation of the tool from a shell, for scripts and test rigs.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "Output.h"
#include "PortWait.h"
#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/Version.h"
#include "device/WireTrace.h"

namespace {

// -v: the library's debug lines (operation results, scanner complaints) on standard error.
void DebugToStderr(void* /*context*/, uint64_t /*reserved*/, const char* text, size_t length) {
    std::string line(text, length);
    PrintError(CleanText(line));
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32  // Windows has neither signal: a write to a closed pipe just fails.
    // A reader that goes away (monitor | head) ends a run through a failed write,
    // so that the run still stops cleanly and switches the sensor's output off.
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) would otherwise kill a recording run at once; ignored,
    // the write fails with EFBIG and the run says so and ends its description.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Without --lang the environment chooses (LC_ALL, LC_MESSAGES, LANG, then
    // LANGUAGE, as GNU gettext reads them), as it does for the windows.
    ApplyConfiguredLanguage(XMLNode());

    // Named, so that help and manual pages say "palo520g" whatever path started it.
    CLI::App app{"palo520g: set up and watch a Palo520G radar presence sensor", "palo520g"};
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("palo520g ") + PaloVersionText());
    // Every command's help with that of all its subcommands: its manual page is made from it.
    app.set_help_all_flag("--help-all", "Print the help of this command and of all its subcommands");
    std::string language;
    bool verbose = false;
    app.add_option("--lang", language, "Language of the texts: ENG or CHS")
        ->check(CLI::IsMember({"ENG", "CHS"}, CLI::ignore_case));
    app.add_flag("-v,--verbose", verbose, "Show the debug lines of the device operations on standard error");
    std::string tracePath;
    app.add_option("--trace", tracePath, "Write every byte sent to and received from the sensor to this file");
    int waitForPortSeconds = 0;
    app.add_option("--wait-for-port", waitForPortSeconds, "Wait up to this many seconds for the port to appear")
        ->check(CLI::Range(0, 86400));

    CommandList commands;
    AddDeviceCommands(app, commands);
    AddParamsCommands(app, commands);
    AddMonitorCommands(app, commands);
    AddStatsCommand(app, commands);
    AddThresholdCommand(app, commands);
    AddFirmwareCommands(app, commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version end with 0; every other parse error is a usage error.
        return app.exit(error) == 0 ? EXIT_OK : EXIT_USAGE;
    }

    if (!language.empty()) {
        const bool chinese = language.size() == 3 && (language[0] == 'C' || language[0] == 'c');
        SetUiLanguage(chinese ? UiLanguage::SimplifiedChinese : UiLanguage::English);
    }
    if (verbose) {
        DbgOutputSetTimeType(1);
        DbgOutputAddCallback(DebugToStderr, nullptr);
    }

    SetPortWaitSeconds(waitForPortSeconds);
    if (!tracePath.empty()) {
        std::string why;
        std::shared_ptr<WireTrace> trace = WireTrace::Create(tracePath, &why);
        if (!trace) {
            PrintError(Text(TEXT_TRACE_OPEN_FAILED, VisibleText(tracePath).c_str(), why.c_str()));
            return EXIT_USAGE;
        }
        SetWireTrace(std::move(trace));
    }

    int rc = EXIT_USAGE;
    try {
        for (const CommandEntry& entry : commands) {
            if (entry.command->parsed()) {
                rc = entry.run();
                break;
            }
        }
    } catch (const std::exception& error) {
        PrintError(error.what());
        rc = EXIT_FAILED;
    }
    if (verbose) DbgOutputDelCallback(DebugToStderr);
    // The command's result stands; the trace's gap is said, so that nobody reads it as whole.
    if (const std::shared_ptr<WireTrace> trace = CurrentWireTrace(); trace && trace->WriteError() != 0)
        PrintError(Text(TEXT_TRACE_OPEN_FAILED, VisibleText(trace->Path()).c_str(), std::strerror(trace->WriteError())));
    return rc;
}
