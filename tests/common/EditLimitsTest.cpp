// The limit rule of the numeric edits, at its edges.

#include <gtest/gtest.h>

#include "common/EditLimits.h"

namespace {

struct EditLimitCase {
    const char* name;
    double committed;
    EditLimits limits;
    int key;
    double value;
};

TEST(EditLimits, ForceOnlyWhatLiesBeyondTheSlackOntoTheLimit) {
    const EditLimits whole = EditLimits::WholeNumbers(10, 95);
    const EditLimits decimals{0.5, 8.0, 1e-9, 1e-9};
    const EditLimits maximumOnly{-std::numeric_limits<double>::infinity(), 5.0, 0.0, 0.0};
    const EditLimits inverted = EditLimits::WholeNumbers(10, 5);  // both broken: the minimum wins
    const EditLimitCase cases[] = {
        {"rounds onto the minimum", 9.5, whole, 0, 9.5},
        {"just below the half unit", 9.49, whole, EDIT_LIMIT_KEY_BELOW_MIN, 10},
        {"rounds onto the maximum", 95.5, whole, 0, 95.5},
        {"just above the half unit", 95.51, whole, EDIT_LIMIT_KEY_ABOVE_MAX, 95},
        {"far below", -300, whole, EDIT_LIMIT_KEY_BELOW_MIN, 10},
        {"decimal within its tolerance", 0.5 - 1e-10, decimals, 0, 0.5 - 1e-10},
        {"decimal beyond its tolerance", 0.49, decimals, EDIT_LIMIT_KEY_BELOW_MIN, 0.5},
        {"decimal above", 8.01, decimals, EDIT_LIMIT_KEY_ABOVE_MAX, 8.0},
        {"no minimum", -1e300, maximumOnly, 0, -1e300},
        {"minimum looked at first", 7, inverted, EDIT_LIMIT_KEY_BELOW_MIN, 10},
    };
    for (const EditLimitCase& c : cases) {
        const EditLimitCheck check = CheckEditLimits(c.committed, c.limits);
        EXPECT_EQ(check.key, c.key) << c.name;
        EXPECT_EQ(check.value, c.value) << c.name;
    }
}

}  // namespace
