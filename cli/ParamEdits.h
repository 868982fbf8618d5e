#pragma once
// The parameter page's handling of edits, without a window: a starting record is
// shown (the combo boxes snap the frequencies, the distance edits hold formatted
// texts), then values are committed one at a time as the page's controls commit
// them, and the record to write is read back from the "controls" at the end.
// Every correction is kept as a notice, in the order it arose.

#include <string>
#include <vector>

#include "params/ParamSetting.h"

struct ParamNotice {
    std::string field;  // record field name ("DetectRangeMin", "GateHoldThreshold")
    int gate = -1;      // gate index for the threshold tables, else -1
    int key = 0;        // balloon key of the rule or edit; 0 for a snapped list value
    std::string text;   // the message as the page shows it
};

class ParamEditSession {
public:
    // As the page's UpdateControls shows the record.
    explicit ParamEditSession(const ParamSetting& start);

    // Distances typed into the range edits; the text is kept as typed.
    void CommitRangeMin(const std::string& text, double value);
    void CommitRangeMax(const std::string& text, double value);
    // Selections in the frequency lists (snapped to the nearest entry offered).
    void SelectRangeReportFreq(double value);
    void SelectStateReportFreq(double value);
    void SelectResponse(bool fast);
    // Whole numbers typed into the delay edit (10-255) and the gate edits (10-95).
    void CommitAbsence(double typed);
    void CommitTriggerThreshold(int gate, double typed);
    void CommitHoldThreshold(int gate, double typed);

    // The record as the page's Write reads it from the controls.
    [[nodiscard]] ParamSetting Result() const;
    [[nodiscard]] const std::vector<ParamNotice>& Notices() const { return notices_; }

private:
    void CommitRange(bool minimum, int depth);
    void SnapStateReportFreq();
    void Snap(const char* field, const std::vector<std::string>& list, double& value);
    void CommitGate(const char* field, int gate, double typed, uint32_t& target);

    ParamSetting record_;
    std::string minText_;  // what the range edits show
    std::string maxText_;
    std::vector<ParamNotice> notices_;
};

// A distance as the page's edits show it: the fewest decimals (at most 2) that read back as the value.
[[nodiscard]] std::string FormatDistance(double value);

// The six detection values a record is sent as, and the ones a read record stands
// for (distances read are gate × resolution, so they are rounded back to gates).
void WireValuesOfWrite(const ParamSetting& setting, uint32_t values[6]);
void WireValuesOfRead(const ParamSetting& setting, uint32_t values[6]);
