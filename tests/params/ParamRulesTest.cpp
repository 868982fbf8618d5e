#include <gtest/gtest.h>

#include <vector>

#include "params/ParamRules.h"
#include "params/ParamSetting.h"

namespace {

struct ExpectedNotice {
    RangeField field;
    const char* text;
    int key;
};

struct RangeCase {
    const char* name;
    double min;
    double max;
    bool commitMin;  // which edit was committed
    double expectedMin;
    double expectedMax;
    std::vector<ExpectedNotice> notices;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class RangeRules : public ::testing::TestWithParam<RangeCase> {};

TEST_P(RangeRules, CorrectTheRecordAndExplainEachChange) {
    const RangeCase& c = GetParam();
    ParamSetting s;
    s.DetectRangeMin = c.min;
    s.DetectRangeMax = c.max;
    const auto notices = c.commitMin ? CommitRangeMin(s) : CommitRangeMax(s);
    EXPECT_NEAR(s.DetectRangeMin, c.expectedMin, 1e-12);
    EXPECT_NEAR(s.DetectRangeMax, c.expectedMax, 1e-12);
    ASSERT_EQ(notices.size(), c.notices.size());
    for (size_t k = 0; k < notices.size(); ++k) {
        EXPECT_EQ(notices[k].field, c.notices[k].field) << k;
        EXPECT_EQ(notices[k].text, c.notices[k].text) << k;
        EXPECT_EQ(notices[k].key, c.notices[k].key) << k;
    }
}

constexpr RangeField RANGE_MIN = RangeField::DetectRangeMin;
constexpr RangeField RANGE_MAX = RangeField::DetectRangeMax;

INSTANTIATE_TEST_SUITE_P(
    Examples, RangeRules,
    ::testing::Values(
        RangeCase{"MinClampedToLastGateThenPasses", 7.9, 8.4, true, 7.7, 8.4,
                  {{RANGE_MIN, "The minimum range must be at most 7.70 m", 12}}},
        RangeCase{"MinClampedThenMovedOutOfTheMaxGate", 7.8, 8.3, true, 7.35, 8.3,
                  {{RANGE_MIN, "The minimum range must be at most 7.70 m", 12}, {RANGE_MIN, "The minimum range must be at most 7.35 m", 12}}},
        RangeCase{"NegativeMin", -1.0, 8.4, true, 0.0, 8.4, {{RANGE_MIN, "The minimum range must be at least 0.0 m", 11}}},
        RangeCase{"MinInMaxGateBelowEleven", 1.5, 1.9, true, 1.5, 3.5 * 0.7,
                  {{RANGE_MAX, "The maximum range must be at least 2.10 m", 11}}},
        RangeCase{"MinTooCloseToMaxAcrossGates", 1.3, 1.5, true, 1.3, 1.65,
                  {{RANGE_MAX, "The maximum range must be at least 0.35 m above the minimum", 1001}}},
        RangeCase{"MinEqualToBoundPasses", 8.4 - 0.7, 8.4, true, 8.4 - 0.7, 8.4, {}},
        RangeCase{"MaxBothInGateOne", 0.8, 1.0, false, 0.0, 1.0, {{RANGE_MIN, "The minimum range must be at most 0.00 m", 12}}},
        RangeCase{"MaxAboveLimit", 0.0, 9.0, false, 0.0, 8.4, {{RANGE_MAX, "The maximum range must be at most 8.4 m", 12}}},
        RangeCase{"MaxBelowResolution", 0.0, 0.3, false, 0.0, 0.7, {{RANGE_MAX, "The maximum range must be at least 0.70 m", 11}}},
        RangeCase{"MaxBelowResolutionAndSameGateAsMin", 0.71, 0.3, false, 0.0, 0.7,
                  {{RANGE_MAX, "The maximum range must be at least 0.70 m", 11}, {RANGE_MIN, "The minimum range must be at most 0.00 m", 12}}},
        RangeCase{"MaxInMinGateHigher", 4.3, 4.5, false, 4.5 * 0.7, 4.5,
                  {{RANGE_MIN, "The minimum range must be at most 3.50 m", 12}}},
        RangeCase{"MaxTooCloseToMinAcrossGates", 1.3, 1.5, false, 1.15, 1.5,
                  {{RANGE_MIN, "The maximum range must be at least 0.35 m above the minimum", 1001}}},
        RangeCase{"MaxEqualToLimitPasses", 0.0, 8.4, false, 0.0, 8.4, {}}),
    [](const ::testing::TestParamInfo<RangeCase>& test) { return std::string(test.param.name); });

// The same rules with the maximum as the sensor reports it: gate x 0.7 in double
// arithmetic, which for 12 gates lies a hair below 8.4. A read-back maximum must give
// the same corrections as the typed one.
INSTANTIATE_TEST_SUITE_P(
    MaximaReadFromTheSensor, RangeRules,
    ::testing::Values(
        RangeCase{"MinClampedToLastGateBelowTwelveGates", 7.9, 12 * 0.7, true, 7.7, 12 * 0.7,
                  {{RANGE_MIN, "The minimum range must be at most 7.70 m", 12}}},
        RangeCase{"LegalMinBelowTwelveGatesPasses", 7.7, 12 * 0.7, true, 7.7, 12 * 0.7, {}},
        RangeCase{"MinOneGateBelowElevenGatesPasses", 7.0, 11 * 0.7, true, 7.0, 11 * 0.7, {}},
        RangeCase{"MinOnTheBoundaryOfThreeGates", 3 * 0.7, 3 * 0.7, true, 3 * 0.7, 4.5 * 0.7,
                  {{RANGE_MAX, "The maximum range must be at least 2.80 m", 11}}},
        RangeCase{"MaxOfOneGateAboveAMinOfZero", 0.0, 1 * 0.7, false, 0.0, 0.7, {}},
        RangeCase{"MaxTwelveGatesWithMinInGateEleven", 7.7, 12 * 0.7, false, 7.7, 12 * 0.7, {}},
        RangeCase{"MaxFiveGatesTooCloseToMin", 3.3, 5 * 0.7, false, 5 * 0.7 - 0.35, 5 * 0.7,
                  {{RANGE_MIN, "The maximum range must be at least 0.35 m above the minimum", 1001}}}),
    [](const ::testing::TestParamInfo<RangeCase>& test) { return std::string(test.param.name); });

// The page applies each notice as it arises; a correction of the committed field runs
// the rule again at once, and the outer run goes on from what that left.
TEST(RangeRuleSink, EachNoticeArrivesAsItsStepChangedTheRecordAndLaterStepsSeeTheReceiversChanges) {
    ParamSetting s;
    s.DetectRangeMin = 7.8;
    s.DetectRangeMax = 8.3;
    std::vector<double> minAtNotice;
    CommitRangeMin(s, [&](const RangeNotice&) { minAtNotice.push_back(s.DetectRangeMin); });
    EXPECT_EQ(minAtNotice, (std::vector<double>{8.4 - 0.7, 10.5 * 0.7})) << "clamped first, then moved";

    // A receiver that settles the record at the first notice leaves nothing for the
    // later steps to correct.
    s.DetectRangeMin = 7.8;
    s.DetectRangeMax = 8.3;
    std::vector<std::string> texts;
    CommitRangeMin(s, [&](const RangeNotice& notice) {
        texts.push_back(notice.text);
        s.DetectRangeMin = 7.0;
    });
    EXPECT_EQ(texts, std::vector<std::string>{"The minimum range must be at most 7.70 m"});
    EXPECT_DOUBLE_EQ(s.DetectRangeMin, 7.0);

    s.DetectRangeMin = 0.8;
    s.DetectRangeMax = 0.3;
    texts.clear();
    CommitRangeMax(s, [&](const RangeNotice& notice) {
        texts.push_back(notice.text);
        s.DetectRangeMin = 0.0;
    });
    EXPECT_EQ(texts, std::vector<std::string>{"The maximum range must be at least 0.70 m"});
    EXPECT_DOUBLE_EQ(s.DetectRangeMax, 0.7);
}

TEST(FrequencyLists, StateListFollowsTheRangeReportFrequency) {
    struct Case {
        double range;
        std::vector<std::string> offered;
    } cases[] = {
        {0.5, {"0.5", "1.0", "1.5", "2.0", "2.5", "3.0", "3.5", "4.0", "4.5", "5.0", "5.5", "6.0", "6.5", "7.0", "7.5",
               "8.0"}},
        {2.0, {"2.0", "4.0", "6.0", "8.0"}},
        {3.0, {"3.0", "6.0"}},
        {8.0, {"8.0"}},
        {0.0, {}},  // only from a hand-edited file: nothing divides by zero
    };
    for (const auto& c : cases) EXPECT_EQ(FillStateReportFreqList(c.range), c.offered) << c.range;
    EXPECT_EQ(ReportFreqList(), cases[0].offered);
}

TEST(FrequencyLists, SelectNearestSnapsTheFieldAndPrefersTheEarlierEntryOnATie) {
    struct Case {
        std::vector<std::string> list;
        double field;
        int index;
        double snapped;
    } cases[] = {
        {{"3.0", "6.0"}, 4.0, 0, 3.0},
        {{"3.0", "6.0"}, 5.0, 1, 6.0},
        {{"2.0", "4.0", "6.0", "8.0"}, 3.0, 0, 2.0},  // differences 1.0 and 1.0
        {{"0.5", "1.0"}, 1.0, 1, 1.0},
        {{}, 4.2, -1, 4.2},
    };
    for (const auto& c : cases) {
        double field = c.field;
        EXPECT_EQ(SelectNearestFreq(c.list, field), c.index) << c.field;
        EXPECT_DOUBLE_EQ(field, c.snapped);
    }
}

TEST(ResponseSpeed, NormalAndFastMapBothWays) {
    EXPECT_DOUBLE_EQ(ResponseFreqOfSpeed(false), 0.5);
    EXPECT_DOUBLE_EQ(ResponseFreqOfSpeed(true), 1.0);
    EXPECT_TRUE(IsFastResponse(1.0));
    EXPECT_TRUE(IsFastResponse(0.95));
    EXPECT_FALSE(IsFastResponse(0.85));
    EXPECT_FALSE(IsFastResponse(0.5));
    EXPECT_FALSE(IsFastResponse(2.0));
}

}  // namespace
