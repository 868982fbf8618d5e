#pragma once
// Rules that keep a user's edits of the parameter record consistent.

#include <functional>
#include <string>
#include <vector>

struct ParamSetting;

// The largest detection distance the rules allow, metres (gate 12 at 0.7 m).
constexpr double MAX_DETECT_RANGE = 8.4;

enum class RangeField { DetectRangeMin, DetectRangeMax };

// Balloon keys of the notices.
enum : int {
    RANGE_NOTICE_KEY_TOO_SMALL = 11,
    RANGE_NOTICE_KEY_TOO_LARGE = 12,
    RANGE_NOTICE_KEY_SPAN = 1001,
};

// One correction made by a range rule: the field changed, the text shown and the balloon key.
struct RangeNotice {
    RangeField field;
    std::string text;
    int key;
};

// Receives each notice the moment its rule step has changed the record. It may
// change the record itself (even run a rule again, nested); the rule's later steps
// then work on the record as the receiver left it.
using RangeNoticeSink = std::function<void(const RangeNotice&)>;

// After the user committed a new DetectRangeMin; corrects the record and hands each
// notice to apply as it arises.
void CommitRangeMin(ParamSetting& setting, const RangeNoticeSink& apply);
// After the user committed a new DetectRangeMax.
void CommitRangeMax(ParamSetting& setting, const RangeNoticeSink& apply);
// The same rules, returning the notices in the order they arose.
std::vector<RangeNotice> CommitRangeMin(ParamSetting& setting);
std::vector<RangeNotice> CommitRangeMax(ParamSetting& setting);

// The sixteen report frequencies "0.5" ... "8.0" (the range report frequency list).
[[nodiscard]] std::vector<std::string> ReportFreqList();
// The state report frequencies allowed with the record's RangeReportFreq, as "%.1f" texts.
[[nodiscard]] std::vector<std::string> FillStateReportFreqList(double rangeReportFreq);
// Snaps field to the list entry nearest to it (the earlier entry on a tie) and
// returns that entry's index; -1 and no change for an empty list.
int SelectNearestFreq(const std::vector<std::string>& list, double& field);

// Response speed: Normal stores 0.5 Hz, Fast 1.0 Hz.
constexpr double RESPONSE_FREQ_NORMAL = 0.5;
constexpr double RESPONSE_FREQ_FAST = 1.0;
[[nodiscard]] double ResponseFreqOfSpeed(bool fast);
// True when a stored ResponseFreq shows as Fast (|f - 1.0| < 0.1).
[[nodiscard]] bool IsFastResponse(double responseFreq);
