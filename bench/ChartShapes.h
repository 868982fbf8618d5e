#pragma once
// The data shapes the repaint benchmarks feed a range chart with (metres, over the
// default detection range of 0 .. 8.4 m): a smooth sine, steps between 0 and the
// maximum, random values over the full range and random values within one gate
// (0.7 m) either side of the middle. A real target makes the range jump whenever it
// enters or leaves a gate, so the jumpy shapes are the ones that matter.

#include <cmath>
#include <cstdint>
#include <random>

#include <benchmark/benchmark.h>

enum class ChartShape : int { SINE = 0, STEPS = 1, RANDOM_FULL = 2, RANDOM_GATE = 3 };

constexpr double SHAPE_RANGE_MAX = 8.4;
constexpr double SHAPE_GATE = 0.7;

inline const char* ShapeName(ChartShape shape) {
    switch (shape) {
    case ChartShape::SINE: return "sine";
    case ChartShape::STEPS: return "steps";
    case ChartShape::RANDOM_FULL: return "random_full";
    case ChartShape::RANDOM_GATE: return "random_gate";
    }
    return "?";
}

// The n-th value of a shape; random shapes draw from the generator.
inline double ShapeValue(ChartShape shape, int64_t n, std::mt19937& random) {
    switch (shape) {
    case ChartShape::SINE: return SHAPE_RANGE_MAX / 2 + 3.5 * std::sin(static_cast<double>(n) * 0.05);
    case ChartShape::STEPS: return (n / 8) % 2 ? SHAPE_RANGE_MAX : 0.0;
    case ChartShape::RANDOM_FULL:
        return std::uniform_real_distribution<double>(0.0, SHAPE_RANGE_MAX)(random);
    case ChartShape::RANDOM_GATE:
        return SHAPE_RANGE_MAX / 2 + std::uniform_real_distribution<double>(-SHAPE_GATE, SHAPE_GATE)(random);
    }
    return 0.0;
}

// The benchmark arguments: every shape at the default chart size and at full HD.
inline void ShapeSizeArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"shape", "full_hd"});
    for (int shape = 0; shape < 4; ++shape)
        for (int fullHd = 0; fullHd < 2; ++fullHd) b->Args({shape, fullHd});
}
