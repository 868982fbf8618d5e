#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/ValueParse.h"

namespace {

struct IntCase {
    const char* text;
    int type;
    bool ok;
    long long expected;  // meaningful when ok
};

class DigtalStringToValueIntegers : public ::testing::TestWithParam<IntCase> {};

TEST_P(DigtalStringToValueIntegers, ParsesOrLeavesTargetUnchanged) {
    const IntCase& c = GetParam();
    if (c.type == DIGITAL_VALUE_UINT32) {
        uint32_t target = 777;
        EXPECT_EQ(DigtalStringToValue(c.text, std::strlen(c.text), &target, c.type), c.ok) << c.text;
        EXPECT_EQ(target, c.ok ? static_cast<uint32_t>(c.expected) : 777u) << c.text;
    } else {
        int32_t target = 777;
        EXPECT_EQ(DigtalStringToValue(c.text, std::strlen(c.text), &target, c.type), c.ok) << c.text;
        EXPECT_EQ(target, c.ok ? static_cast<int32_t>(c.expected) : 777) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DigtalStringToValueIntegers,
    ::testing::Values(IntCase{"115200", DIGITAL_VALUE_INT32, true, 115200},
                      IntCase{"-40", DIGITAL_VALUE_INT32, true, -40},
                      IntCase{" 500 ", DIGITAL_VALUE_INT32, true, 500},
                      IntCase{"2147483648", DIGITAL_VALUE_INT32, false, 0},
                      IntCase{"12abc", DIGITAL_VALUE_INT32, false, 0},
                      IntCase{"", DIGITAL_VALUE_INT32, false, 0},
                      IntCase{"1.5", DIGITAL_VALUE_INT32, false, 0},
                      IntCase{"0xFF15BC59", DIGITAL_VALUE_UINT32, true, 0xFF15BC59},
                      IntCase{"0x", DIGITAL_VALUE_UINT32, false, 0},
                      IntCase{"0xG1", DIGITAL_VALUE_UINT32, false, 0},
                      IntCase{"4294967295", DIGITAL_VALUE_UINT32, true, 4294967295LL},
                      IntCase{"4294967296", DIGITAL_VALUE_UINT32, false, 0},
                      IntCase{"-1", DIGITAL_VALUE_UINT32, false, 0},
                      IntCase{"31", DIGITAL_VALUE_UINT32, true, 31},
                      IntCase{"1", DIGITAL_VALUE_FLAG, true, 1},
                      IntCase{"0", DIGITAL_VALUE_FLAG, true, 0},
                      IntCase{"7", DIGITAL_VALUE_FLAG, true, 1},
                      IntCase{"yes", DIGITAL_VALUE_FLAG, false, 0}));

TEST(DigtalStringToValue, DoublesAndUnknownTypes) {
    double d = -1;
    EXPECT_TRUE(DigtalStringToValue("8.40", 4, &d, DIGITAL_VALUE_DOUBLE));
    EXPECT_DOUBLE_EQ(d, 8.4);
    EXPECT_TRUE(DigtalStringToValue("0.00712", 7, &d, DIGITAL_VALUE_DOUBLE));
    EXPECT_DOUBLE_EQ(d, 0.00712);
    for (const char* bad : {"8.4m", "nan", "inf", "", "  "}) {
        d = 3.0;
        EXPECT_FALSE(DigtalStringToValue(bad, std::strlen(bad), &d, DIGITAL_VALUE_DOUBLE)) << bad;
        EXPECT_EQ(d, 3.0) << bad;
    }
    // Only the given length counts: "12" out of "123".
    int32_t i = 0;
    EXPECT_TRUE(DigtalStringToValue("123", 2, &i, DIGITAL_VALUE_INT32));
    EXPECT_EQ(i, 12);
    EXPECT_FALSE(DigtalStringToValue("1", 1, &i, 3));
    EXPECT_FALSE(DigtalStringToValue(nullptr, 0, &i, DIGITAL_VALUE_INT32));
}

TEST(GetSuitableDecimalFormatCount, FewestDecimalsThatReadBack) {
    struct Case {
        double value;
        int maximum;
        int expected;
        const char* shown;
    };
    const Case cases[] = {
        {2.0999999999999996, 2, 1, "2.1"}, {8.4, 2, 1, "8.4"},    {7.35, 2, 2, "7.35"},
        {40.0, 2, 0, "40"},                 {0.7 * 11, 2, 1, "7.7"}, {1.0 / 3.0, 10, 9, "0.333333333"},
        {0.125, 2, 2, "0.12"},              {-1.5, 10, 1, "-1.5"},
    };
    for (const Case& c : cases) {
        const int n = GetSuitableDecimalFormatCount(c.value, c.maximum);
        EXPECT_EQ(n, c.expected) << c.value;
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", n, c.value);
        EXPECT_STREQ(text, c.shown);
    }
}

}  // namespace
