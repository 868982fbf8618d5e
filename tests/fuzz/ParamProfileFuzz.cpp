// A profile text through the reader and the edit rules under libFuzzer, as
// `params load FILE` and the parameter page's Load Profile take it in.
// Checked:
// - a refused text gives a sentence that says why;
// - a profile taken in, applied over a start record that is not the defaults,
//   changes only the fields it sets (the range's two ends go together) and leaves
//   a record inside the page's limits;
// - written as a profile and read again, the applied record comes back as the same
//   parameter set, and applying that changes nothing and says nothing.

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "params/ParamProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ProfileRead read = ReadProfileText(text);
    if (read.Refused()) {
        FUZZ_CHECK(!ProfileProblemText(read).empty());
        return 0;
    }
    ParamSetting start;
    InitParamSetting(start);
    start.ObjectDisappearReportTime = 123;
    start.GateHoldThreshold[5] = 61;
    const ProfileApplication applied = ApplyProfile(read.profile, start);
    const ParamSetting& r = applied.record;
    FUZZ_CHECK(r.ObjectDisappearReportTime >= PARAM_ABSENCE_MIN && r.ObjectDisappearReportTime <= PARAM_ABSENCE_MAX);
    for (int g = 0; g < PARAM_GATE_COUNT; ++g) {
        FUZZ_CHECK(r.GateTriggerThreshold[g] >= PARAM_THRESHOLD_MIN && r.GateTriggerThreshold[g] <= PARAM_THRESHOLD_MAX);
        FUZZ_CHECK(r.GateHoldThreshold[g] >= PARAM_THRESHOLD_MIN && r.GateHoldThreshold[g] <= PARAM_THRESHOLD_MAX);
    }
    FUZZ_CHECK(GateOfDistance(r.DetectRangeMin, r.RangeResolution) < GateOfDistance(r.DetectRangeMax, r.RangeResolution));

    // What the profile leaves stays as the start had it.
    for (const ProfileDifference& d : CompareProfiles(ProfileOfRecord(start), ProfileOfRecord(r))) {
        const bool range = d.field == ProfileField::DetectRangeMin || d.field == ProfileField::DetectRangeMax;
        const bool frequency = d.field == ProfileField::StateReportFreq;  // follows the range frequency
        FUZZ_CHECK(read.profile.Has(d.field) ||
                   (range && (read.profile.Has(ProfileField::DetectRangeMin) ||
                              read.profile.Has(ProfileField::DetectRangeMax))) ||
                   (frequency && read.profile.Has(ProfileField::RangeReportFreq)));
    }

    const ProfileRead again = ReadProfileText(ProfileText(ProfileOfRecord(r, read.profile.firmwareVersion,
                                                                          read.profile.serialNumber)));
    FUZZ_CHECK(!again.Refused());
    FUZZ_CHECK(CompareProfiles(ProfileOfRecord(r), again.profile).empty());
    const ProfileApplication settled = ApplyProfile(again.profile, r);
    FUZZ_CHECK(settled.notices.empty());
    FUZZ_CHECK(CompareProfiles(ProfileOfRecord(r), ProfileOfRecord(settled.record)).empty());
    return 0;
}
