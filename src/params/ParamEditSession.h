#pragma once
// The edit rules of the parameter record, shared by the parameter page, the
// threshold generator's inputs and the command-line tool: the limits of every
// numeric edit, the correction an out-of-limit value gets, the range rules with
// their nested re-commit, and the text a distance is shown as.
//
// ParamEditSession runs a whole edit without a window: a starting record is shown
// (frequencies snapped to the lists offered, distances formatted), values are
// committed one at a time as the page's controls commit them, and the record to
// write is read back from the "controls" at the end. Every correction is kept as
// a notice, in the order it first arose; the same correction again is not repeated.

#include <string>
#include <vector>

#include "common/EditLimits.h"
#include "params/ParamRules.h"
#include "params/ParamSetting.h"

// Limits of the page's numeric edits (whole numbers).
constexpr int PARAM_THRESHOLD_MIN = 10;  // dB, every trigger and hold gate
constexpr int PARAM_THRESHOLD_MAX = 95;
constexpr int PARAM_ABSENCE_MIN = 10;  // s, ObjectDisappearReportTime
constexpr int PARAM_ABSENCE_MAX = 255;
// Limits of the threshold generator's inputs.
constexpr int SENSING_COEFFICIENT_MIN = 0;  // dB, trigger and hold coefficients
constexpr int SENSING_COEFFICIENT_MAX = 10;
constexpr int SENSING_SCAN_TIME_MIN = 120;  // s
constexpr int SENSING_SCAN_TIME_MAX = 240;

// A distance as the page's edits show it: the fewest decimals (at most 2) that read back as the value.
[[nodiscard]] std::string FormatDistance(double value);

// What a whole-number edit does with a committed value (the rule of EditLimits.h):
// inside its limits it is rounded; outside, it is forced onto the limit and the edit
// says why ("The value must be at most 95", key 14).
struct LimitCorrection {
    bool corrected = false;
    long long value = 0;
    int key = 0;
    std::string text;
};
[[nodiscard]] LimitCorrection ApplyEditLimits(double typed, long long minimum, long long maximum);

// What the two range edits show and do while a range rule runs.
class IRangeEditView {
public:
    virtual ~IRangeEditView() = default;
    // A rule corrected the field: its edit shows the text from now on. Called before
    // the rule runs again for that correction, so it must not commit anything itself.
    virtual void ShowRangeText(const RangeNotice& notice, const std::string& text) = 0;
    // The correction's message, after every nested run it caused has ended.
    virtual void ShowRangeNotice(const RangeNotice& /*notice*/) {}
};

// The user committed `committed` (its value already in the record): runs its rule.
// A correction of the committed field rewrites that edit, which the edit reports at
// once: the field is read back from the new text and the rule runs again, nested,
// before the correction's message is shown. A correction of the other field only
// rewrites that edit.
void CommitRangeEdit(ParamSetting& setting, RangeField committed, IRangeEditView& view);

struct ParamNotice {
    std::string field;  // record field name ("DetectRangeMin", "GateHoldThreshold")
    int gate = -1;      // gate index for the threshold tables, else -1
    int key = 0;        // balloon key of the rule or edit; 0 for a snapped list value
    std::string text;   // the message as the page shows it
};

class ParamEditSession : private IRangeEditView {
public:
    // As the page shows the record.
    explicit ParamEditSession(const ParamSetting& start);

    // Distances typed into the range edits; the text is kept as typed.
    void CommitRangeMin(const std::string& text, double value);
    void CommitRangeMax(const std::string& text, double value);
    // Selections in the frequency lists (snapped to the nearest entry offered).
    void SelectRangeReportFreq(double value);
    void SelectStateReportFreq(double value);
    void SelectResponse(bool fast);
    // Whole numbers typed into the delay edit and the gate edits.
    void CommitAbsence(double typed);
    void CommitTriggerThreshold(int gate, double typed);
    void CommitHoldThreshold(int gate, double typed);
    // Commits every edit again with what it shows, as if each value had just been
    // typed: the delay, the gates, then the range's end and start. A record that
    // did not come from the edits (a file's) is brought under the rules this way.
    void CommitShownValues();

    // The record as the page's Write reads it from the controls.
    [[nodiscard]] ParamSetting Result() const;
    [[nodiscard]] const std::vector<ParamNotice>& Notices() const { return notices_; }

private:
    void ShowRangeText(const RangeNotice& notice, const std::string& text) override;
    // Keeps a notice unless the same one was kept before.
    void AddNotice(ParamNotice notice);
    void SnapStateReportFreq();
    void Snap(const char* field, const std::vector<std::string>& list, double& value);
    void CommitGate(const char* field, int gate, double typed, uint32_t& target);

    ParamSetting record_;
    std::string minText_;  // what the range edits show
    std::string maxText_;
    std::vector<ParamNotice> notices_;
};
