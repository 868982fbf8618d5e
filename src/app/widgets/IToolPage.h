#pragma once
// A page of the main window. The window holds a list of them, shows one at a time
// and tells each what happens to the connection; a page plugs in by being listed
// in ToolPages.cpp and never by an edit of the window.
//
// Every call arrives on the user-interface thread. The language is chosen once
// for the process before any page is built, so a page loads its texts when it
// builds its controls.

#include <functional>
#include <string>

class SensorThread;
class QWidget;
struct ParamSetting;

// What the main window lends its pages for their whole life; they own neither.
struct ToolPageContext {
    // Runs every exchange with the sensor off the user-interface thread; its
    // session lends the line to a page's streaming worker by a claim.
    SensorThread& sensor;
    ParamSetting& params;
    // Shows a notice in the window's status bar and writes it to the log; may be empty.
    std::function<void(const std::string& text)> notify;
    // The page's long work, for which it answered LeaveAnswer::LEAVE_WHEN_DONE,
    // has ended: a close waiting for it goes ahead.
    std::function<void()> workEnded;
};

// Why a page is about to lose the screen.
enum class PageLeave { SWITCH_PAGE, CLOSE_WINDOW };

// What a page answers before it loses the screen.
enum class LeaveAnswer {
    LEAVE,            // nothing is at stake, or the user let it go
    STAY,             // the user chose to stay: the switch or close does not happen
    LEAVE_WHEN_DONE,  // close once the page's work ends (the page calls workEnded)
};

// The design size of the page area every page fills.
constexpr int PAGE_DESIGN_WIDTH = 680;
constexpr int PAGE_DESIGN_HEIGHT = 424;

class IToolPage {
public:
    virtual ~IToolPage() = default;

    // The page's widget, a child of the window placed on the page area.
    [[nodiscard]] virtual QWidget* PageWidget() = 0;

    // The page was shown / is about to be hidden (a page that reads the line stops
    // reading here).
    virtual void OnPageShown() {}
    virtual void OnPageHidden() {}
    // Asked before the page is hidden for another one (only the shown page) and
    // before the window closes (every page, shown or not). A page whose work would
    // be lost or left half-done asks the user here.
    [[nodiscard]] virtual LeaveAnswer ConfirmLeave(PageLeave /*why*/) { return LeaveAnswer::LEAVE; }
    // The main connection opened and the record holds what was read from the sensor.
    virtual void OnConnected() {}
    // The main connection is about to close: end everything that uses the line.
    virtual void OnDisconnecting() {}
    // The main connection closed by itself (a hang-up, an unplugged adapter).
    virtual void OnConnectionLost() {}

    // An exchange with the sensor was queued (busy) or the last one ended: the page
    // disables what would talk to the sensor meanwhile.
    virtual void OnSensorBusy(bool /*busy*/) {}
    // True for a page that opens the port on its own: showing it closes the main
    // connection and disables Connect.
    [[nodiscard]] virtual bool TakesPortOver() const { return false; }

    // The port and baud rate selected in the connection panel (copies, for a page
    // that opens the port on its own).
    virtual void SetPortSelection(int /*portNumber*/, int /*baudRate*/) {}
    // The window's layout scale after a resize.
    virtual void SetLayoutScale(double /*scale*/) {}

    // What the page's run is doing, for the window's status bar (asked about once a
    // second while the page is shown); empty when nothing runs.
    [[nodiscard]] virtual std::string RunStatusText() { return {}; }
};
