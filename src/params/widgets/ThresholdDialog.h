#pragma once
// The threshold generator (template 3500): a modal dialog that sends the two
// coefficients and the scan time to the sensor, follows the sensor's progress on
// the "SensingGenerate" worker and says how the run ended. Beside that it shows
// the trigger and hold tables before and after the run, with the changed gates
// marked, and can write the previous tables back (Undo).
//
// Ownership and threads: the dialog borrows the main window's sensor thread. It
// owns the worker and the event sink the worker emits through; the worker talks to
// the dialog only by the sink's queued signals. While the worker runs the dialog
// holds a claim on the session's line, so the main window's link watch does not
// read the progress frames away. The dialog's own exchanges (the tables before
// and after a run, Undo) run on the sensor thread while no worker runs; the
// dialog stays responsive meanwhile, with Start and Undo disabled.
//
// The sensor cannot be told to stop a scan it has begun. Stop therefore ends the
// run for the user (Start is offered again) but the worker goes on following the
// sensor, which finishes its scan and replaces both tables about the scan time after
// the start; the dialog says so, shows the new tables when they come and keeps the
// tables from before the stopped run as the Undo point, also for a run started
// after it. Closing while the sensor still scans asks first.
//
// The dialog ends with QDialog::Accepted when the sensor's tables may have changed
// while it was open (a run that succeeded, a stopped scan that ended, an Undo), so
// that the page reads them; else with QDialog::Rejected.
//
// Controls carry their numeric ids as object names: 3501-3503 inputs, 3504
// progress bar, 3510 Start/Stop, 3511 status, 3520 the tables, 3521 Undo.

#include <array>
#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>

#include <QDialog>

#include "params/ParamSetting.h"
#include "session/SensorSession.h"
#include "params/ThresholdGeneration.h"
#include "params/widgets/SensingEventSink.h"

class ColorLabel;
class NumericEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class SensorThread;

// Both threshold tables of the sensor, dB per gate.
struct GateTables {
    std::array<uint32_t, PARAM_GATE_COUNT> trigger{};
    std::array<uint32_t, PARAM_GATE_COUNT> hold{};
    bool operator==(const GateTables&) const = default;
};

class ThresholdDialog : public QDialog {
    Q_OBJECT

public:
    // Object names of the controls beyond the template.
    static constexpr int TABLES_ID = 3520;
    static constexpr int UNDO_ID = 3521;

    explicit ThresholdDialog(SensorThread& sensor, QWidget* parent = nullptr);
    // Stops a run that is still going.
    ~ThresholdDialog() override;

    // The inputs the edits show (the page gives 2, 1 and 120).
    void SetInputs(int triggerCoefficient, int holdCoefficient, int scanTime);

    // Start (3510) while idle, Stop while a run is going.
    void OnStart();
    // Writes the tables from before the last successful run back to the sensor.
    void OnUndo();

    // --- State, for the page and for tests ---
    [[nodiscard]] int Success() const { return success_; }
    // A run the user has not stopped is going on.
    [[nodiscard]] bool Running() const { return running_ != 0; }
    // The user stopped the run, and the sensor is still scanning (the worker follows it).
    [[nodiscard]] bool StoppedScanGoingOn() const { return stoppedScan_; }
    // When the dialog was closed while the sensor still scanned: about when the scan
    // ends and the sensor replaces both tables ("14:05:09"); empty otherwise.
    [[nodiscard]] const std::string& LeftScanEnd() const { return leftScanEnd_; }
    [[nodiscard]] const std::optional<GateTables>& TablesBefore() const { return before_; }
    [[nodiscard]] const std::optional<GateTables>& TablesAfter() const { return after_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    // The close box and the OK command: a run is stopped first; the dialog ends
    // with OK when the last run succeeded.
    void reject() override;
    void accept() override;

private:
    void BuildControls();
    void StartRun();
    void StopRun();
    void OnProgress(int progress);
    void OnFinished(int success);
    void SetInputsEnabled(bool enabled);
    void CloseDialog();
    // The end of a run the sensor finished: both tables read and shown.
    void ShowScanResult(bool stoppedByUser);
    [[nodiscard]] std::string ScanEndText() const;
    // Reads both tables on the sensor thread, then hands them (none when a read
    // failed) to then on this one.
    void RequestTables(std::function<void(std::optional<GateTables>)> then);
    void ShowTables();
    void ShowStatus(const std::string& text);

    SensorThread& sensor_;
    SensingEventSink sink_;  // declared before the worker: the worker emits through it until joined
    std::unique_ptr<CSensingGenerateWorker> worker_;
    SensorSession::LineClaim claim_;  // held while the worker reads the line

    int32_t triggerCoefficient_ = DEFAULT_TRIGGER_COEFFICIENT;
    int32_t holdCoefficient_ = DEFAULT_HOLD_COEFFICIENT;
    int32_t scanTime_ = DEFAULT_SCAN_TIME;
    int32_t success_ = 0;
    int32_t running_ = 0;
    bool stoppedScan_ = false;   // see StoppedScanGoingOn
    std::string leftScanEnd_;  // see LeftScanEnd
    // Finished signals still to come from worker runs given up for a newer run.
    int finishesToSkip_ = 0;
    // The Undo point stays what it was before a stopped run: the next run does not take
    // the tables that run left behind as its "before".
    bool keepBefore_ = false;
    bool tablesChanged_ = false;  // the sensor's tables may differ from when the dialog opened
    std::chrono::system_clock::time_point runStart_;  // when the last worker run began
    std::optional<GateTables> before_;  // what the sensor held when the dialog opened or the last run started
    std::optional<GateTables> after_;   // what it holds after the last run the sensor finished (or Undo)

    NumericEdit* triggerEdit_ = nullptr;  // 3501
    NumericEdit* holdEdit_ = nullptr;     // 3502
    NumericEdit* scanEdit_ = nullptr;     // 3503
    QProgressBar* progress_ = nullptr;     // 3504
    QPushButton* startButton_ = nullptr;   // 3510
    ColorLabel* status_ = nullptr;       // 3511
    QTableWidget* tables_ = nullptr;       // 3520
    QPushButton* undoButton_ = nullptr;    // 3521
};
