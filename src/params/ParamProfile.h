#pragma once
// A parameter profile: one parameter set as a small JSON text a team can review,
// diff and keep in version control, one key a line:
//
//   {"format": "palo520g-profile", "version": 1, "firmware_version": …,
//    "serial_number": …, "notes": …, "DetectRangeMax": 8.4, …,
//    "GateTriggerThreshold": [48, 42, …16 values]}
//
// Parameter keys are the record's field names, distances in metres, frequencies in
// Hz, the delay in seconds, thresholds in dB. A profile may set only some of them;
// applied to a sensor it changes only those and leaves the others as they are.
// The firmware version and serial number say where a profile was read from; they
// are never applied. Nothing here talks to a sensor or touches a file.

#include <optional>
#include <string>
#include <vector>

#include "params/ParamEditSession.h"
#include "params/ParamSetting.h"

constexpr const char* PROFILE_FORMAT = "palo520g-profile";
constexpr int PROFILE_VERSION = 1;  // the newest version this tool reads and the one it writes

// The parameter keys of a profile, in the order a profile lists them.
enum class ProfileField {
    RangeResolution,
    DetectRangeMin,
    DetectRangeMax,
    ResponseFreq,
    StateReportFreq,
    RangeReportFreq,
    ObjectDisappearReportTime,
    GateTriggerThreshold,
    GateHoldThreshold,
};
constexpr int PROFILE_FIELD_COUNT = 9;

[[nodiscard]] const char* ProfileFieldName(ProfileField field);
// "m", "Hz", "s" or "dB".
[[nodiscard]] const char* ProfileFieldUnit(ProfileField field);

struct ParamProfile {
    ParamSetting record;                    // the values; a field the profile does not set holds its default
    bool has[PROFILE_FIELD_COUNT] = {};     // which fields the profile sets
    bool fromSensor = false;                // read from a sensor: every field is set
    std::string firmwareVersion;            // informational
    std::string serialNumber;               // informational
    std::string notes;

    [[nodiscard]] bool Has(ProfileField field) const { return has[static_cast<int>(field)]; }
};

// Every field of a record, as read from a sensor.
[[nodiscard]] ParamProfile ProfileOfRecord(const ParamSetting& record, const std::string& firmwareVersion = {},
                                           const std::string& serialNumber = {});

// The profile as text, one key a line, ending with a line end. Distances are written
// as the parameter page shows them (8.4, not 8.399999999999999), so that a distance
// read from the sensor keeps its gate.
[[nodiscard]] std::string ProfileText(const ParamProfile& profile);

// Why a profile text was refused.
enum class ProfileProblem {
    None,
    NotJson,         // detail: the parser's message with line and column
    NotObject,       // the text is JSON but not an object
    NoFormat,        // no "format" key
    OtherFormat,     // value: the format named
    BadVersion,      // "version" missing or not a whole number from 1
    NewerVersion,    // value: the version named
    UnknownKey,      // key: a key that is not a profile key (a typo would otherwise be dropped)
    DuplicateKey,    // key: a key given twice (one of the two would be dropped without a word)
    NotText,         // key, value: notes, firmware_version or serial_number that is not a string
    NotWholeNumber,  // key, value: delay that is not a whole number within 32 bits
    NotNumber,       // key, value: a distance or frequency that is not a finite number of 0 or more
    NotTable,        // key, value: a threshold table that is not 16 whole numbers
    OtherResolution, // value: a RangeResolution other than the sensor's range gate
};

struct ProfileRead {
    ProfileProblem problem = ProfileProblem::None;
    std::string key;    // the refused key
    std::string value;  // its value as JSON text (or the parser's message)
    ParamProfile profile;

    [[nodiscard]] bool Refused() const { return problem != ProfileProblem::None; }
};

// Reads a profile text. Every key present must hold a value of its kind; the first
// one that does not refuses the whole profile. Values inside their kind but out of
// the page's limits (a threshold of 5) are kept as written: ApplyProfile corrects them.
[[nodiscard]] ProfileRead ReadProfileText(const std::string& text);

// The refusal as a sentence in the user's language, naming the key:
// `"DetectRangeMin" is "abc", not a number of 0 or more`. `visible` makes text
// from the file safe to show; a long value is cut.
[[nodiscard]] std::string ProfileProblemText(const ProfileRead& read,
                                             std::string (*visible)(const std::string&) = nullptr);

// The profile's values over `start` (a sensor's record or the page's), committed
// as if typed into the page: the same corrections and notices as `params write`.
// Fields the profile does not set keep start's values.
struct ProfileApplication {
    ParamSetting record;
    std::vector<ParamNotice> notices;
};
[[nodiscard]] ProfileApplication ApplyProfile(const ParamProfile& profile, const ParamSetting& start);

// One difference between two profiles; a threshold table differs gate by gate.
struct ProfileDifference {
    ProfileField field;
    int gate = -1;               // gate of a threshold table, else -1
    std::optional<double> a;     // empty: that side does not set the field
    std::optional<double> b;
};

// What differs between a and b, in profile order. Distances and frequencies closer
// than BOUNDARY_TOLERANCE are equal (a sensor's distance is gate x 0.7). A field
// one profile sets and the other does not is a difference, except against a
// sensor: loading a profile leaves the rest of a sensor as it is, so only the
// fields the profile sets are compared.
[[nodiscard]] std::vector<ProfileDifference> CompareProfiles(const ParamProfile& a, const ParamProfile& b);

// A value as the tool shows it, with its unit: "8.40 m", "0.5 Hz", "40 s", "48 dB".
[[nodiscard]] std::string ProfileValueText(ProfileField field, double value);
// "DetectRangeMax" or "GateTriggerThreshold[3]".
[[nodiscard]] std::string ProfileDifferenceName(const ProfileDifference& difference);
