// palo520g: every device operation of the tool from a shell, for scripts and test rigs.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "Commands.h"
#include "Output.h"
#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/DbgOutput.h"
#include "common/Version.h"

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

    CLI::App app{"palo520g: set up and watch a Palo520G radar presence sensor"};
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("palo520g ") + PaloVersionText());
    std::string language;
    bool verbose = false;
    app.add_option("--lang", language, "Language of the texts: ENG or CHS")
        ->check(CLI::IsMember({"ENG", "CHS"}, CLI::ignore_case));
    app.add_flag("-v,--verbose", verbose, "Show the debug lines of the device operations on standard error");

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
    return rc;
}
