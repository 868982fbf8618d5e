// The edit rules shared by the parameter page and the command-line tool.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "params/ParamEditSession.h"
#include "params/ParamSetting.h"

namespace {

// Records what the two range edits would be shown, in order.
class RecordingView : public IRangeEditView {
public:
    void ShowRangeText(const RangeNotice& notice, const std::string& text) override
    {
        events.push_back("text " + Name(notice.field) + " " + text);
    }
    void ShowRangeNotice(const RangeNotice& notice) override
    {
        events.push_back("notice " + Name(notice.field) + " " + notice.text);
    }
    std::vector<std::string> events;

private:
    static std::string Name(RangeField field) { return field == RangeField::DetectRangeMin ? "min" : "max"; }
};

TEST(CommitRangeEdit, ACorrectionOfTheCommittedEditRunsTheRuleAgainBeforeItsNoticeIsShown)
{
    ParamSetting setting;
    setting.DetectRangeMax = 8.3;
    setting.DetectRangeMin = 7.8;
    RecordingView view;
    CommitRangeEdit(setting, RangeField::DetectRangeMin, view);
    // 7.8 is clamped to 7.7, which the edit reports at once: read back as 7.7 it
    // shares gate 11 with the maximum and moves to 7.35.
    const std::vector<std::string> expected = {
        "text min 7.7",
        "text min 7.35",
        "notice min The minimum range must be at most 7.35 m",
        "notice min The minimum range must be at most 7.70 m",
    };
    EXPECT_EQ(view.events, expected);
    EXPECT_DOUBLE_EQ(setting.DetectRangeMin, 7.35);
    EXPECT_DOUBLE_EQ(setting.DetectRangeMax, 8.3);
}

TEST(CommitRangeEdit, ACorrectionOfTheOtherEditDoesNotRunItsRule)
{
    ParamSetting setting;
    setting.DetectRangeMin = 3.0;
    setting.DetectRangeMax = 3.1;  // same gate as the minimum
    RecordingView view;
    CommitRangeEdit(setting, RangeField::DetectRangeMax, view);
    ASSERT_EQ(view.events.size(), 2u);
    EXPECT_EQ(view.events[0], "text min " + FormatDistance(setting.DetectRangeMin));
    EXPECT_EQ(view.events[1].rfind("notice min ", 0), 0u);
    EXPECT_DOUBLE_EQ(setting.DetectRangeMax, 3.1);
}

TEST(ParamEditSession, KeepsNoticesInTheOrderTheyAroseAndWritesWhatTheEditsShow)
{
    ParamSetting start;
    start.DetectRangeMax = 8.3;
    ParamEditSession session(start);
    session.CommitRangeMin("7.8", 7.8);
    ASSERT_EQ(session.Notices().size(), 2u);
    EXPECT_EQ(session.Notices()[0].text, "The minimum range must be at most 7.70 m");
    EXPECT_EQ(session.Notices()[1].text, "The minimum range must be at most 7.35 m");
    EXPECT_DOUBLE_EQ(session.Result().DetectRangeMin, 7.35);

    // A distance read as gate x 0.7 is written as its text shows it.
    ParamSetting read;
    read.DetectRangeMin = 3 * 0.7;
    ParamEditSession fromSensor(read);
    EXPECT_DOUBLE_EQ(fromSensor.Result().DetectRangeMin, 2.1);
}

struct LimitCase {
    double typed;
    long long minimum;
    long long maximum;
    bool corrected;
    long long value;
    int key;
    const char* text;
};

class EditLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(EditLimits, ForceAValueOutsideTheLimitsOntoThemAndSayWhy)
{
    const LimitCase& c = GetParam();
    const LimitCorrection result = ApplyEditLimits(c.typed, c.minimum, c.maximum);
    EXPECT_EQ(result.corrected, c.corrected);
    EXPECT_EQ(result.value, c.value);
    EXPECT_EQ(result.key, c.key);
    EXPECT_EQ(result.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    GatesAbsenceAndGenerator, EditLimits,
    ::testing::Values(LimitCase{5, PARAM_THRESHOLD_MIN, PARAM_THRESHOLD_MAX, true, 10, 13, "The value must be at least 10"},
                      LimitCase{96, PARAM_THRESHOLD_MIN, PARAM_THRESHOLD_MAX, true, 95, 14, "The value must be at most 95"},
                      LimitCase{95, PARAM_THRESHOLD_MIN, PARAM_THRESHOLD_MAX, false, 95, 0, ""},
                      LimitCase{300, PARAM_ABSENCE_MIN, PARAM_ABSENCE_MAX, true, 255, 14, "The value must be at most 255"},
                      LimitCase{0, SENSING_COEFFICIENT_MIN, SENSING_COEFFICIENT_MAX, false, 0, 0, ""},
                      LimitCase{100, SENSING_SCAN_TIME_MIN, SENSING_SCAN_TIME_MAX, true, 120, 13,
                                "The value must be at least 120"}));

}  // namespace
