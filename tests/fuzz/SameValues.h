#pragma once
// Bit-for-bit comparison of a parameter record and of the current constants, for
// round trips that must give back exactly what they were given.

#include <cstring>

#include "monitor/CurrentEstimate.h"
#include "params/ParamSetting.h"

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool SameParams(const ParamSetting& p, const ParamSetting& q) {
    return SameBits(p.RangeResolution, q.RangeResolution) && SameBits(p.DetectRangeMin, q.DetectRangeMin) &&
           SameBits(p.DetectRangeMax, q.DetectRangeMax) && SameBits(p.ResponseFreq, q.ResponseFreq) &&
           SameBits(p.StateReportFreq, q.StateReportFreq) && SameBits(p.RangeReportFreq, q.RangeReportFreq) &&
           p.ObjectDisappearReportTime == q.ObjectDisappearReportTime &&
           std::memcmp(p.GateTriggerThreshold, q.GateTriggerThreshold, sizeof p.GateTriggerThreshold) == 0 &&
           std::memcmp(p.GateHoldThreshold, q.GateHoldThreshold, sizeof p.GateHoldThreshold) == 0;
}

inline bool SameConstants(const CurrentConstants& c, const CurrentConstants& d) {
    return SameBits(c.CurrentDetectTimeMS, d.CurrentDetectTimeMS) &&
           SameBits(c.CurrentDetectValueMA, d.CurrentDetectValueMA) &&
           SameBits(c.CurrentLPValueMA, d.CurrentLPValueMA) && SameBits(c.CurrentReportTimeMS, d.CurrentReportTimeMS) &&
           SameBits(c.CurrentReportValueMA, d.CurrentReportValueMA);
}
