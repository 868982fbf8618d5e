#pragma once
// One chart axis: value range, label count and format, custom label texts, font
// and colour. The labels are computed here as data (text, rectangle, alignment);
// the chart window only draws them.

#include <cstdint>
#include <string>
#include <vector>

#include "chart/ChartRect.h"
#include "common/ArgbColor.h"

// Text placement flags of a label, with the values of the platform's text drawing.
enum AxisTextFormat : int32_t {
    AXIS_TEXT_LEFT = 0x0,
    AXIS_TEXT_CENTER = 0x1,
    AXIS_TEXT_RIGHT = 0x2,
    AXIS_TEXT_TOP = 0x0,
    AXIS_TEXT_VCENTER = 0x4,
    AXIS_TEXT_BOTTOM = 0x8,
    AXIS_TEXT_SINGLELINE = 0x20,
    AXIS_TEXT_END_ELLIPSIS = 0x8000,
};

// One label as it is to be drawn: single line, cut with an ellipsis at its end.
struct AxisLabel {
    std::string text;  // UTF-8
    ChartRect rect;    // client coordinates
    int32_t format = 0;  // AxisTextFormat flags
};

class CCoordinate {
public:
    struct CustomLabel {
        int32_t index = 0;
        std::string text;
        int32_t flags = -1;  // -1 = default placement
    };

    CCoordinate() = default;
    virtual ~CCoordinate() = default;

    // The label font becomes pointSize points of the axis face; sets the colour and
    // decimals, and resets offset, prefix and suffix.
    void SetStyle(int32_t pointSize, ArgbColor color, int32_t decimals);
    // Replaces the number of label index; the first entry with an index wins.
    void AddLabel(int32_t index, const std::string& text);
    void ClearLabels();

    // The labels of a horizontal (left to right) or vertical (top to bottom) axis in area.
    [[nodiscard]] std::vector<AxisLabel> ComputeHorizontalLabels() const;
    [[nodiscard]] std::vector<AxisLabel> ComputeVerticalLabels() const;
    // By orientation: vertical when it is not 0.
    [[nodiscard]] std::vector<AxisLabel> ComputeLabels() const;

    // Digits after the decimal point for a label step when decimals < 0.
    [[nodiscard]] static int32_t AutomaticDecimals(double step);

    int32_t orientation = 0;  // 0 = horizontal, 1 = vertical
    int32_t labelAlign = 0;   // across the strip: 0 top/left, 1 centred, 2 bottom/right
    int32_t labelCount = 5;
    double minValue = -32768.0;
    double maxValue = 32768.0;
    double wrapMin = 0.0;
    double wrapMax = 0.0;
    double period = -1.0;  // <= 0: no folding
    ChartRect area;
    std::string fontFace = "黑体";
    int32_t fontPointSize = 8;
    ArgbColor textColor = 0xFF000000;
    int32_t offset = 0;
    int32_t decimals = -1;  // < 0: automatic
    std::string prefix;
    std::string suffix;
    std::vector<CustomLabel> customLabels;

private:
    [[nodiscard]] std::vector<AxisLabel> Compute(bool vertical) const;
    [[nodiscard]] std::string NumberText(int32_t i, bool vertical) const;
};
