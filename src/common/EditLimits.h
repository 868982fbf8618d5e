#pragma once
// The limit rule of every numeric edit: the window's numeric edits, the parameter
// record's edit session and the command-line values that stand for them.
//
// A committed value below the minimum by more than the slack is forced onto the
// minimum (balloon key 13, "The value must be at least ..."); one above the maximum by more
// than the slack onto the maximum (key 14, "The value must be at most ..."); the minimum is
// looked at first. Any other value is kept, and a whole-number edit rounds it. The
// slack is half a unit for whole numbers, so that a value which rounds onto a limit
// is inside it, and the limit's own tolerance for decimals.

#include <limits>

// Balloon keys of the two corrections (the edit's other messages use other keys).
enum : int {
    EDIT_LIMIT_KEY_BELOW_MIN = 13,
    EDIT_LIMIT_KEY_ABOVE_MAX = 14,
};

constexpr double EDIT_LIMIT_WHOLE_NUMBER_SLACK = 0.5;

struct EditLimits {
    double minimum = -std::numeric_limits<double>::infinity();  // none by default
    double maximum = std::numeric_limits<double>::infinity();
    double minimumSlack = 0.0;
    double maximumSlack = 0.0;

    // The limits of a whole-number edit.
    [[nodiscard]] static EditLimits WholeNumbers(long long minimum, long long maximum);
};

struct EditLimitCheck {
    int key = 0;         // 0 inside the limits, else EDIT_LIMIT_KEY_BELOW_MIN or _ABOVE_MAX
    double value = 0.0;  // the committed value when inside, else the limit it is forced onto
};

[[nodiscard]] EditLimitCheck CheckEditLimits(double committed, const EditLimits& limits);
