#pragma once
// The parameter page: shows the main window's parameter record in numeric edits,
// combo boxes and radio buttons, reads it from and writes it to the sensor,
// resets the sensor to factory values and saves what it shows into the
// ParamSetting section of the configuration (Save Config.; nothing else writes it).
//
// The page borrows the sensor thread and the record; it owns neither. Read,
// Write, Reset and the read after a threshold generation run on the sensor
// thread; their boxes show when the sensor has answered or timed out. Controls
// carry their numeric ids as object names ("2010", "2020", ...).
//
// Beside the record the page keeps what each control would show for what the
// sensor holds (after the last Read, Write, Reset or connection; before the first
// one, what the page started with), and marks every control whose value differs
// from that: a coloured frame around it and a coloured label. The window's title
// gets a "*" while any control is marked. Marked values stay across page switches
// and connections; closing the window with any asks first.
//
// Profiles (the Profile button's menu): Save Profile writes what the page shows to
// a profile file; Load Profile takes a profile's values into the controls under the
// rules of typed values, marked as unwritten until Write; Compare with Profile marks,
// in another colour, the controls whose value differs from the profile's and writes
// nothing. The folder last used is offered again (LastProfileFolder in the configuration).

#include <array>
#include <functional>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "app/widgets/IToolPage.h"
#include "session/SensorResult.h"
#include "params/ParamEditSession.h"
#include "params/ParamProfile.h"
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
    ~ParameterPage() override;

    // Record to controls (no rule runs: the edits do not report these changes).
    void UpdateControls();
    // Controls to record, as Write uses it.
    void ReadControls();
    // What the controls show, as a record (the record itself unchanged).
    [[nodiscard]] ParamSetting ControlsRecord() const;

    void OnRead();
    void OnWrite();
    void OnReset();
    void OnGenThreshold();
    void OnSaveConfig();
    void OnSaveProfile();
    void OnLoadProfile();
    void OnCompareProfile();

    // Chooses the file of a profile dialog: the title, true to save; an empty
    // result cancels. Tests put a hook in place of the file dialog; returns the
    // previous hook.
    using ProfileFileHook = std::function<QString(const QString& title, bool save)>;
    static ProfileFileHook SetProfileFileHook(ProfileFileHook hook);
    void OnStateReportFreqSelected();
    void OnRangeReportFreqSelected();
    void OnRangeMinChanged();
    void OnRangeMaxChanged();

    // True while a control shows a value that was not written to the sensor nor
    // read from it; the control's frame and label are marked.
    [[nodiscard]] bool IsUnwritten(const QWidget* control) const;
    [[nodiscard]] bool HasUnwrittenChanges() const;
    // True while a control is marked as differing from the profile last compared
    // (until its value changes or another comparison runs).
    [[nodiscard]] bool IsMarkedByComparison(const QWidget* control) const;

    // --- IToolPage ---
    QWidget* PageWidget() override { return this; }
    // Shows the record as the window read it.
    void OnConnected() override;
    void OnSensorBusy(bool busy) override;
    // Closing the window with unwritten values asks whether to discard them.
    [[nodiscard]] LeaveAnswer ConfirmLeave(PageLeave why) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    // The Profile button (2006) and its menu: Save, Load, Compare.
    void BuildProfileButton(QRect geometry);
    // The configuration's ParamSetting section into the record, under the rules.
    void LoadConfigSection();
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
                          int readBackNote, int successId);
    // The sensor holds this record: the controls show it, unmarked.
    void ShowHeld(const ParamSetting& held);
    // The same, but controls that show a value not written stay as they are (and marked).
    void ShowHeldKeepingUnwritten(const ParamSetting& held);
    [[nodiscard]] NumericEdit* EditOf(RangeField field) const;
    // The control of a record field ("GateHoldThreshold" with its gate); null for none.
    [[nodiscard]] QWidget* ControlOf(const std::string& field, int gate) const;
    // Opens a balloon under a control: the edit's own, or the page's for the others.
    void ShowBalloonAt(QWidget* control, const std::string& title, const std::string& text, int key);
    // Opens a stored-value balloon under the control of a field.
    void ShowStoredBalloon(const StoredDifference& difference);

    // --- unwritten-change marks ---
    struct MarkedControl {
        std::vector<QWidget*> framed;        // what gets the frame
        QWidget* label;                      // what gets the colour
        std::function<QString()> value;      // the value shown, as compared
        QString baseline;                    // the value after the last Read, Write or Reset
        bool marked = false;
        bool compared = false;               // differs from the profile last compared
        QString comparedValue;               // the value shown when it was compared
        QString comparedTip;                 // the profile's value, as a tool tip
    };
    // The frame and colour of a mark as it stands: unwritten first, then compared.
    void StyleMark(MarkedControl& mark);
    [[nodiscard]] MarkedControl* MarkOf(const QWidget* control);
    // The profile file a dialog chose; empty when cancelled.
    [[nodiscard]] QString ChooseProfileFile(int titleId, bool save);
    // Asks for a profile and reads it; a refused file is said in a box. False when
    // nothing was chosen or the file was refused.
    bool ChooseAndReadProfile(int titleId, std::string& file, ParamProfile& profile);
    void AddMarkedControl(std::vector<QWidget*> framed, QWidget* label, std::function<QString()> value);
    // What the controls show now is what the sensor holds: no marks.
    void TakeBaseline();
    // The same for the two threshold tables alone (after a threshold generation).
    void TakeTableBaseline();
    void RefreshMarks();

    SensorThread& sensor_;
    ParamSetting* setting_;
    std::function<void(const std::string&)> notify_;  // the window's status bar; may be empty

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
