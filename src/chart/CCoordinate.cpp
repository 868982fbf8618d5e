#include "chart/CCoordinate.h"

#include <cmath>
#include <cstdio>

void CCoordinate::SetStyle(int32_t pointSize, ArgbColor color, int32_t decimalCount) {
    fontFace = "黑体";
    fontPointSize = pointSize;
    textColor = color;
    decimals = decimalCount;
    offset = 0;
    prefix.clear();
    suffix.clear();
}

void CCoordinate::AddLabel(int32_t index, const std::string& text) { customLabels.push_back({index, text, -1}); }

void CCoordinate::ClearLabels() { customLabels.clear(); }

int32_t CCoordinate::AutomaticDecimals(double step) {
    int32_t j = 0;
    for (double h = step; j < 10 && std::fabs(h) < 1.0; ++j) h *= 10.0;
    return j;
}

std::string CCoordinate::NumberText(int32_t i, bool vertical) const {
    const int32_t k = labelCount;
    // With fewer than two labels there is no step; the one label shows minValue.
    const double step = (k > 1) ? (maxValue - minValue) / (k - 1) : 0.0;
    const int32_t j = decimals >= 0 ? decimals : AutomaticDecimals(step);
    double v = vertical ? (k - i - 1) * step + minValue : i * step + minValue;
    const double scale = std::pow(10.0, j);
    v = std::round(v * scale) / scale;
    if (period > 0) {
        const double lo = wrapMin - 1e-16;
        const double hi = wrapMax + 1e-16;
        if (v < lo || v > hi) {
            v -= std::trunc(v / period) * period;
            if (v < lo)
                v += period;
            else if (v > hi)
                v -= period;
        }
    }
    // Prefix and suffix are joined as text, so a '%' in them is shown, not interpreted.
    char number[384];
    std::snprintf(number, sizeof number, "%.*f", j, v);
    return prefix + number + suffix;
}

std::vector<AxisLabel> CCoordinate::Compute(bool vertical) const {
    std::vector<AxisLabel> labels;
    const int32_t k = labelCount;
    if (k <= 0) return labels;
    labels.reserve(static_cast<size_t>(k));

    const int32_t start = vertical ? area.top : area.left;
    const double extent = vertical ? area.Height() : area.Width();
    const double e = (k >= 2) ? extent / k : 0.0;
    const double f = (k >= 2) ? extent / (k - 1) : 0.0;
    auto nearest = [](double v) { return static_cast<int32_t>(std::lround(v)); };

    for (int32_t i = 0; i < k; ++i) {
        AxisLabel label;
        int32_t customFlags = -1;
        bool custom = false;
        for (const CustomLabel& entry : customLabels) {
            if (entry.index == i) {
                label.text = entry.text;
                customFlags = entry.flags;
                custom = true;
                break;
            }
        }
        if (!custom) label.text = NumberText(i, vertical);

        int32_t from = 0;
        int32_t to = 0;
        int32_t along = 0;
        if (i == 0) {
            from = start + nearest(0.0);
            to = start + nearest(e);
            along = vertical ? AXIS_TEXT_TOP : AXIS_TEXT_LEFT;
        } else if (i == k - 1) {
            from = start + nearest(i * e);
            to = start + nearest((i + 1) * e);
            along = vertical ? AXIS_TEXT_BOTTOM : AXIS_TEXT_RIGHT;
        } else {
            from = start + nearest((i - 0.5) * f);
            to = start + nearest((i + 0.5) * f);
            along = vertical ? AXIS_TEXT_VCENTER : AXIS_TEXT_CENTER;
        }
        if (customFlags != -1) along = customFlags;

        int32_t near = vertical ? area.left : area.top;
        int32_t far = vertical ? area.right : area.bottom;
        int32_t across = 0;
        if (labelAlign == 0) {
            near += offset;
            across = vertical ? AXIS_TEXT_LEFT : AXIS_TEXT_TOP;
        } else if (labelAlign == 2) {
            far -= offset;
            across = vertical ? AXIS_TEXT_RIGHT : AXIS_TEXT_BOTTOM;
        } else {
            across = vertical ? AXIS_TEXT_CENTER : AXIS_TEXT_VCENTER;
        }

        label.rect = vertical ? ChartRect{near, from, far, to} : ChartRect{from, near, to, far};
        label.format = along | across | AXIS_TEXT_SINGLELINE | AXIS_TEXT_END_ELLIPSIS;
        labels.push_back(std::move(label));
    }
    return labels;
}

std::vector<AxisLabel> CCoordinate::ComputeHorizontalLabels() const { return Compute(false); }

std::vector<AxisLabel> CCoordinate::ComputeVerticalLabels() const { return Compute(true); }

std::vector<AxisLabel> CCoordinate::ComputeLabels() const { return Compute(orientation != 0); }
