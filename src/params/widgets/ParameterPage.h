#pragma once
// The parameter page: shows the main window's parameter record in numeric edits,
// combo boxes and radio buttons, reads it from and writes it to the sensor,
// resets the sensor to factory values and keeps the record in the ParamSetting
// section of the configuration.
//
// The page borrows the sensor thread and the record; it owns neither. Read,
// Write, Reset and the read after a threshold generation run on the sensor
// thread; their boxes show when the sensor has answered or timed out. Controls
// carry their numeric ids as object names ("2010", "2020", ...).
//
// Beside the record the page keeps what each control showed after the last
// successful Read, Write or Reset (or connection), and marks every control whose
// value differs from that: a coloured frame around it and a coloured label. The
// window's title gets a "*" while any control is marked.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "app/widgets/IToolPage.h"
#include "session/SensorResult.h"
#include "params/ParamEditSession.h"
#include "params/ParamSetting.h"

class BalloonTip;
class NumericEdit;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class SensorThread;
struct StoredDifference;

class ParameterPage : public QWidget, public IToolPage, private IRangeEditView {
    Q_OBJECT

public:
    // Builds the page (template 2000) and initialises it: loads the ParamSetting
    // section into the record and shows it.
    ParameterPage(ToolPageContext& context, QWidget* parent = nullptr);
    // Saves the record into the ParamSetting section and the file.
    ~ParameterPage() override;

    // Record to controls (no rule runs: the edits do not report these changes).
    void UpdateControls();
    // Controls to record, as Write uses it.
    void ReadControls();

    void OnRead();
    void OnWrite();
    void OnReset();
    void OnGenThreshold();
    void OnSaveConfig();
    void OnStateReportFreqSelected();
    void OnRangeReportFreqSelected();
    void OnRangeMinChanged();
    void OnRangeMaxChanged();

    // True while a control shows a value that was not written to the sensor nor
    // read from it; the control's frame and label are marked.
    [[nodiscard]] bool IsUnwritten(const QWidget* control) const;
    [[nodiscard]] bool HasUnwrittenChanges() const;

    // --- IToolPage ---
    QWidget* PageWidget() override { return this; }
    // Shows the record as the window read it.
    void OnConnected() override;
    void OnSensorBusy(bool busy) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void ShowRangeText(const RangeNotice& notice, const std::string& text) override;
    void ShowRangeNotice(const RangeNotice& notice) override;
    void ShowResult(const SensorResult& result, int successId, int failureId);
    // A successful write or reset whose read-back failed: the note that the page may
    // not show what the sensor holds, and why.
    void ShowReadBackFailure(int noteId, const SensorResult& readBack);
    // A write or reset has ended: the controls show what the sensor stores when it
    // could be read back, the marks go, and the box says how it went. True when the
    // controls show what the sensor stores.
    bool ShowWriteOutcome(const SensorResult& result, const SensorResult& readBack, const ParamSetting& stored,
                          int readBackNote);
    [[nodiscard]] NumericEdit* EditOf(RangeField field) const;
    // Opens a stored-value balloon under the control of a field.
    void ShowStoredBalloon(const StoredDifference& difference);

    // --- unwritten-change marks ---
    struct MarkedControl {
        std::vector<QWidget*> framed;        // what gets the frame
        QWidget* label;                      // what gets the colour
        std::function<QString()> value;      // the value shown, as compared
        QString baseline;                    // the value after the last Read, Write or Reset
        bool marked = false;
    };
    void AddMarkedControl(std::vector<QWidget*> framed, QWidget* label, std::function<QString()> value);
    // What the controls show now is what the sensor holds: no marks.
    void TakeBaseline();
    // The same for the two threshold tables alone (after a threshold generation).
    void TakeTableBaseline();
    void RefreshMarks();

    SensorThread& sensor_;
    ParamSetting* setting_;

    NumericEdit* rangeMinEdit_ = nullptr;    // 2010
    NumericEdit* rangeMaxEdit_ = nullptr;    // 2011
    QComboBox* stateFreqCombo_ = nullptr;     // 2012
    QComboBox* rangeFreqCombo_ = nullptr;     // 2013
    QRadioButton* normalRadio_ = nullptr;     // 2014
    QRadioButton* fastRadio_ = nullptr;       // 2015
    NumericEdit* disappearEdit_ = nullptr;   // 2016
    std::array<NumericEdit*, PARAM_GATE_COUNT> triggerEdits_{};  // 2020-2035
    std::array<NumericEdit*, PARAM_GATE_COUNT> holdEdits_{};     // 2040-2055

    std::vector<MarkedControl> marks_;
    size_t firstTableMark_ = 0;  // marks_ from here on are the 32 gate edits
    bool anyMarked_ = false;
    QPointer<BalloonTip> storedBalloon_;  // stored-value messages of controls without a balloon of their own
};
