#pragma once
// The application object: start-up (configuration, language, network library,
// main window) and shut-down.

#include <memory>
#include <string>
#include <vector>

#include "app/widgets/MainWindow.h"
#include "common/UserPlaces.h"
#include "common/Version.h"

class QTranslator;

struct AppOptions {
    std::string dataDir;  // --data-dir; empty = automatic choice
    MainWindowOptions window;
    // Connects to the selected port, saves a picture of the main window there and
    // ends, instead of running the window for the user (documentation pictures).
    std::string screenshotPath;
    // Milliseconds after connecting before the picture (0: at once).
    int screenshotDelayMs = 0;
    // The name of the page shown at start (ToolPageSpecs); empty = the first page.
    std::string startPage;
    // A record file replayed on the target page at start.
    std::string replayFile;
};

class ToolApplication {
public:
    ToolApplication();
    ~ToolApplication();

    // Runs the start-up sequence and the main window until it closes, then shuts
    // down. Returns the process exit code: 0 normally, 1 when start-up failed.
    int InitInstance(const AppOptions& options);

    // What start-up does before the main window, separately for tests: reads (or
    // creates) appConfig.xml and applies the configured language, including
    // Qt's own translations. Returns the locale name applied (empty = none).
    std::string LoadConfigurationAndLanguage(const AppOptions& options);

private:
    // Shows, once the window is up, what moving an older data folder did.
    void ReportPlacesMove(MainWindow& window) const;

    std::vector<std::unique_ptr<QTranslator>> translators_;
    PlacesMove placesMove_;  // what this start moved from an older data folder
};
