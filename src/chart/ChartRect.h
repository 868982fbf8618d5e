#pragma once
// A rectangle as left, top, right, bottom in pixels (right and bottom exclusive).

#include <cstdint>

struct ChartRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    [[nodiscard]] int32_t Width() const { return right - left; }
    [[nodiscard]] int32_t Height() const { return bottom - top; }
    [[nodiscard]] bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const ChartRect&, const ChartRect&) = default;
};

// One pixel point of a wave, in the chart's client coordinates.
struct WavePoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const WavePoint&, const WavePoint&) = default;
};
