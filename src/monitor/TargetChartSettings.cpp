#include "monitor/TargetChartSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/AppConfig.h"
#include "app/StringTable.h"
#include "common/ValueParse.h"
#include "params/ParamSetting.h"

namespace {

// EnergyWaveWnd_ActiveColor as the configuration file keeps it, 0xAABBGGRR, to
// ArgbColor and back: red and blue change places, which converts either way.
uint32_t ExchangeRedAndBlue(uint32_t color) {
    return (color & 0xFF00FF00u) | ((color & 0xFFu) << 16) | ((color >> 16) & 0xFFu);
}

}  // namespace

void LoadTargetChartSettings(XMLNode objectInfo, TargetChartSettings& s) {
    uint32_t storedActive = ExchangeRedAndBlue(s.EnergyWaveWnd_ActiveColor);
    ReadConfigValue(objectInfo, "EnergyWaveWnd_ActiveColor", storedActive);
    s.EnergyWaveWnd_ActiveColor = ExchangeRedAndBlue(storedActive);
    ReadConfigValue(objectInfo, "EnergyWaveWnd_InactiveColor", s.EnergyWaveWnd_InactiveColor);
    ReadConfigFlag(objectInfo, "EnergyWaveWnd_ValueAutoScale", s.EnergyWaveWnd_ValueAutoScale);
    ReadConfigValue(objectInfo, "EnergyWaveWnd_ValueDisplayMax", s.EnergyWaveWnd_ValueDisplayMax);
    ReadConfigValue(objectInfo, "EnergyWaveWnd_WaveLineWidth", s.EnergyWaveWnd_WaveLineWidth);
    ReadConfigValue(objectInfo, "DistanceWaveWnd_StateHeight", s.DistanceWaveWnd_StateHeight);
    ReadConfigValue(objectInfo, "DistanceWaveWnd_NobodyColor", s.DistanceWaveWnd_NobodyColor);
    ReadConfigValue(objectInfo, "DistanceWaveWnd_MotionColor", s.DistanceWaveWnd_MotionColor);
    ReadConfigValue(objectInfo, "DistanceWaveWnd_MotionlessColor", s.DistanceWaveWnd_MotionlessColor);
    ReadConfigValue(objectInfo, "DistanceWaveWnd_WaveLineWidth", s.DistanceWaveWnd_WaveLineWidth);
}

void SaveTargetChartSettings(XMLNode objectInfo, const TargetChartSettings& s) {
    objectInfo.SetAttributeHex32("EnergyWaveWnd_ActiveColor", ExchangeRedAndBlue(s.EnergyWaveWnd_ActiveColor));
    objectInfo.SetAttributeHex32("EnergyWaveWnd_InactiveColor", s.EnergyWaveWnd_InactiveColor);
    objectInfo.SetAttributeInt64("EnergyWaveWnd_ValueAutoScale", s.EnergyWaveWnd_ValueAutoScale);
    objectInfo.SetAttributeInt64("EnergyWaveWnd_ValueDisplayMax", s.EnergyWaveWnd_ValueDisplayMax);
    objectInfo.SetAttributeInt64("EnergyWaveWnd_WaveLineWidth", s.EnergyWaveWnd_WaveLineWidth);
    objectInfo.SetAttributeInt64("DistanceWaveWnd_StateHeight", s.DistanceWaveWnd_StateHeight);
    objectInfo.SetAttributeHex32("DistanceWaveWnd_NobodyColor", s.DistanceWaveWnd_NobodyColor);
    objectInfo.SetAttributeHex32("DistanceWaveWnd_MotionColor", s.DistanceWaveWnd_MotionColor);
    objectInfo.SetAttributeHex32("DistanceWaveWnd_MotionlessColor", s.DistanceWaveWnd_MotionlessColor);
    objectInfo.SetAttributeInt64("DistanceWaveWnd_WaveLineWidth", s.DistanceWaveWnd_WaveLineWidth);
}

// ---- state band ----

StateBandClass StateBandClassOf(uint8_t code) {
    switch (code) {
    case 0xFF: return BAND_NO_REPORT;
    case 0:
    case 1: return BAND_NOBODY;
    case 2: return BAND_MOTION;
    case 3: return BAND_MOTIONLESS;
    default: return BAND_NO_CLASS;
    }
}

std::vector<StateBandSegment> StateBandSegments(const uint8_t* history, int count, int width) {
    std::vector<StateBandSegment> segments;
    if (!history || count <= 0 || width <= 0) return segments;
    const double columnsPerEntry = static_cast<double>(width) / count;
    StateBandClass current = StateBandClassOf(history[0]);
    int start = 0;
    for (int x = 0; x < width; ++x) {
        const int entry = static_cast<int>(std::clamp<long>(std::lround(x / columnsPerEntry), 0, count - 1));
        const StateBandClass cls = StateBandClassOf(history[entry]);
        if (cls <= BAND_NO_REPORT || cls == current) continue;
        // A leading segment of no class has no colour: it ends here unpainted.
        if (current != BAND_NO_CLASS && x > start) segments.push_back({start, x, current});
        current = cls;
        start = x;
    }
    // The newest segment reaches the right edge, even when it starts on the last column.
    if (current != BAND_NO_CLASS) segments.push_back({start, width, current});
    return segments;
}

// ---- energy chart ----

int FirstInactiveGate(double detectRangeMax, double rangeResolution) {
    // A range read back as 12 x 0.7 = 8.3999999999999995 ends at gate 12, not 11.
    const double gates = WholeUnitsOf(detectRangeMax, rangeResolution);
    if (!std::isfinite(gates) || gates < std::numeric_limits<int>::min() || gates >= std::numeric_limits<int>::max())
        return -1;
    return static_cast<int>(gates) + 1;
}

// ---- tooltips ----

std::string TargetChartTooltip(uint64_t context, int waveIndex, int sampleIndex, double value, int historyLength) {
    if (context == TARGET_CHART_ENERGY) {
        static constexpr int IDS[3] = {TEXT_ENERGY_TIP_TARGET, TEXT_ENERGY_TIP_TRIGGER, TEXT_ENERGY_TIP_HOLD};
        if (waveIndex < 0 || waveIndex > 2) return {};
        return FormatStringText(IDS[waveIndex], sampleIndex, value);
    }
    if (context == TARGET_CHART_RANGE && waveIndex == 0 && historyLength > 0)
        return FormatStringText(TEXT_RANGE_TIP, (historyLength - sampleIndex) * 60.0 / historyLength, value);
    return {};
}
