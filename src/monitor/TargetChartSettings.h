#pragma once
// The look of the target page's two charts, kept as attributes of the ObjectInfo
// element, and the rules the charts' owner layers follow: the state band's
// segments, the first gate beyond the detection range and the tooltip texts.
// No Qt here; the painters in monitor/widgets turn these into pixels.

#include <cstdint>
#include <string>
#include <vector>

#include "common/ArgbColor.h"

class XMLNode;

// The colours are ArgbColor. The configuration file keeps EnergyWaveWnd_ActiveColor
// with red and blue exchanged (red in the low byte, 0xAABBGGRR); loading and saving
// convert it, so that here it is 0xAARRGGBB like the others.
struct TargetChartSettings {
    ArgbColor EnergyWaveWnd_ActiveColor = 0xFF000000;    // plot background of the energy chart
    ArgbColor EnergyWaveWnd_InactiveColor = 0xBFC3C3C3;  // shading over the gates beyond the detection range
    int32_t EnergyWaveWnd_ValueAutoScale = 0;            // automatic value fit of the energy chart
    int32_t EnergyWaveWnd_ValueDisplayMax = 100;         // top of the energy chart in dB (bottom 0)
    int32_t EnergyWaveWnd_WaveLineWidth = 5;             // pixels before scaling
    uint32_t DistanceWaveWnd_StateHeight = 50;           // state band height in pixels before scaling
    ArgbColor DistanceWaveWnd_NobodyColor = 0xFF15BC59;
    ArgbColor DistanceWaveWnd_MotionColor = 0xFFFC5D45;
    ArgbColor DistanceWaveWnd_MotionlessColor = 0xFF3478FF;
    int32_t DistanceWaveWnd_WaveLineWidth = 5;           // pixels before scaling
};

// Overwrites the fields whose attributes are present and readable; the others keep their value.
void LoadTargetChartSettings(XMLNode objectInfo, TargetChartSettings& settings);
// Writes all ten keys: colours "0x%08x", the rest "%lld".
void SaveTargetChartSettings(XMLNode objectInfo, const TargetChartSettings& settings);

// Everything outside the plots of both charts.
constexpr ArgbColor TARGET_CHART_FRAME_COLOR = 0xFF2A323C;

// ---- state band ----

// The band classes of the state codes in the history.
enum StateBandClass : int {
    BAND_NO_CLASS = -1,  // a code other than 0..3 and 0xFF: never starts a segment
    BAND_NO_REPORT = 0,  // 0xFF, black
    BAND_NOBODY = 1,     // 0 or 1
    BAND_MOTION = 2,     // 2
    BAND_MOTIONLESS = 3, // 3
};

[[nodiscard]] StateBandClass StateBandClassOf(uint8_t code);

// Columns [start, end) of the band painted in one class.
struct StateBandSegment {
    int start = 0;
    int end = 0;
    StateBandClass cls = BAND_NO_REPORT;
    friend bool operator==(const StateBandSegment&, const StateBandSegment&) = default;
};

// Walks the columns 0 .. width - 1 of a band showing the history (oldest first):
// column x shows entry clamp(nearest(x / (width / count)), 0, count - 1); a new
// segment starts where an entry of class no target, moving or motionless differs
// from the current segment's class. Segments of no class are left out (nothing is
// painted there); the last segment always reaches the last column.
[[nodiscard]] std::vector<StateBandSegment> StateBandSegments(const uint8_t* history, int count, int width);

// ---- energy chart ----

// The first range gate beyond the detection range: the gate of detectRangeMax + 1
// (within 1e-9 m of a gate boundary counts as on it).
// -1 when the quotient is not a finite number of gates (a resolution of 0, say): nothing is shaded.
[[nodiscard]] int FirstInactiveGate(double detectRangeMax, double rangeResolution);

// ---- tooltips ----

// Chart context values: the energy chart is 0, the range chart 1.
enum : uint64_t {
    TARGET_CHART_ENERGY = 0,
    TARGET_CHART_RANGE = 1,
};

// The tooltip of a sample: energy waves 0..2 name the gate and its energy, trigger
// or hold threshold; the range chart's wave 0 the time before now (the window of
// historyLength samples is the last 60 seconds) and the distance. Empty otherwise.
[[nodiscard]] std::string TargetChartTooltip(uint64_t context, int waveIndex, int sampleIndex, double value,
                                             int historyLength);
