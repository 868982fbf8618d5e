#pragma once
// A parameter file's ParamSetting section taken in the way values typed into the
// parameter page are: every attribute present must read as a value of its field,
// and the record then goes through the edit session, so that a file gets the same
// corrections and notices as the same values given to `params write`.
//
// Used by `params load` and `params check` before any sensor is opened, and by the
// parameter page for the section of the program's own configuration. A file the
// tool saved (doubles "%.2f"/"%.1f", whole numbers "%llu", all within the rules)
// loads unchanged and without a notice.

#include <string>
#include <vector>

#include "params/ParamEditSession.h"
#include "params/ParamSetting.h"

class XMLNode;

// The range gate of the sensor, metres: the only RangeResolution a file may hold.
constexpr double SENSOR_RANGE_RESOLUTION = 0.7;

// Why a section was refused.
enum class ParamFileProblem {
    None,
    NotWholeNumber,  // a delay or threshold that is not digits within 32 bits
    NotDecimal,      // a distance or frequency that is not digits with at most one point
    OtherResolution, // a RangeResolution other than the sensor's range gate
};

struct ParamFileSection {
    ParamFileProblem problem = ParamFileProblem::None;
    std::string attribute;  // the refused attribute, as named in the file's table
    std::string value;      // its text as the file holds it
    ParamSetting record;    // the record under the rules (the start record when refused)
    std::vector<ParamNotice> notices;  // the corrections, as the edit session words them

    [[nodiscard]] bool Refused() const { return problem != ParamFileProblem::None; }
};

// Reads the section over `start` (attributes that are missing keep its values) and
// runs the result through the rules. An attribute that is empty or does not read as
// a value of its kind ("abc", "-5", "48.7" for a threshold, "0x30", "1e3", "nan",
// "4294967337", "50x") refuses the whole section: the first such attribute is named.
[[nodiscard]] ParamFileSection ReadParamFileSection(XMLNode section, const ParamSetting& start);

// The refusal as a sentence in the user's language, without the file's name:
// `Gate3TriggerThreshold="abc" is not a whole number (digits only, at most 4294967295)`.
// `visible` turns text from the file into something safe to show; a long value is cut.
[[nodiscard]] std::string ParamFileProblemText(const ParamFileSection& section,
                                               std::string (*visible)(const std::string&) = nullptr);
