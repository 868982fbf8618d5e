#include "EditLimits.h"

EditLimits EditLimits::WholeNumbers(long long minimum, long long maximum) {
    return {static_cast<double>(minimum), static_cast<double>(maximum), EDIT_LIMIT_WHOLE_NUMBER_SLACK,
            EDIT_LIMIT_WHOLE_NUMBER_SLACK};
}

EditLimitCheck CheckEditLimits(double committed, const EditLimits& limits) {
    if (committed < limits.minimum - limits.minimumSlack) return {EDIT_LIMIT_KEY_BELOW_MIN, limits.minimum};
    if (committed > limits.maximum + limits.maximumSlack) return {EDIT_LIMIT_KEY_ABOVE_MAX, limits.maximum};
    return {0, committed};
}
