#pragma once
// A numeric edit: a BalloonEdit with a number type, the character rules for numbers,
// and lower and upper limits that a committed value is forced into (with a
// balloon that says why).

#include <cstdint>
#include <string>
#include <vector>

#include "common/ValueParse.h"  // ParseDigitalText: how a committed text reads as a number
#include "controls/widgets/BalloonEdit.h"

enum DigitalType : int {
    DIGITAL_INT32 = 0,
    DIGITAL_UINT32 = 1,
    DIGITAL_INT64 = 2,
    DIGITAL_UINT64 = 3,
    DIGITAL_FLOAT = 4,
    DIGITAL_DOUBLE = 5,
};

// One value of an edit's type in 8 bytes (32-bit types and float in the low 4 bytes).
union DigitalValue {
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    uint64_t u64;
    float f32;
    double f64;
    uint8_t bytes[8];

    static DigitalValue Int32(int32_t v) { DigitalValue d{}; d.i32 = v; return d; }
    static DigitalValue UInt32(uint32_t v) { DigitalValue d{}; d.u32 = v; return d; }
    static DigitalValue Int64(int64_t v) { DigitalValue d{}; d.i64 = v; return d; }
    static DigitalValue UInt64(uint64_t v) { DigitalValue d{}; d.u64 = v; return d; }
    static DigitalValue Float(float v) { DigitalValue d{}; d.f32 = v; return d; }
    static DigitalValue Double(double v) { DigitalValue d{}; d.f64 = v; return d; }
};

struct DigitalLimit {
    int type = DIGITAL_INT32;   // the edit's type when the limit was set
    DigitalValue value{};
    double tolerance = 0.0;
    std::string name;           // "MinValue" or "MaxValue"
    std::string format;         // display format; empty = by type
};

// The value as a double, read with the type.
[[nodiscard]] double DigitalValueToDouble(const DigitalValue& value, DigitalType type);
// The value as text, by type: "%d", "%u", "%lld", "%llu", or fixed point with the
// decimals GetSuitableDecimalFormatCount gives (at most 10) for float and double.
[[nodiscard]] std::string FormatDigitalValue(const DigitalValue& value, DigitalType type);

class NumericEdit : public BalloonEdit {
    Q_OBJECT

public:
    explicit NumericEdit(QWidget* parent = nullptr);

    // Set before the limits: limits are read and shown with the current type.
    void SetType(DigitalType type) { type_ = type; }
    [[nodiscard]] DigitalType Type() const { return type_; }

    // Replace every lower (upper) limit with one of the current type.
    void SetMinValue(DigitalValue value, double tolerance);
    void SetMaxValue(DigitalValue value, double tolerance);
    [[nodiscard]] const std::vector<DigitalLimit>& MinLimits() const { return lowerLimits_; }
    [[nodiscard]] const std::vector<DigitalLimit>& MaxLimits() const { return upperLimits_; }

protected:
    bool CheckInputChar(QChar character, int repeatCount, int flags) override;
    bool CheckInputValue() override;

private:
    std::string FormatLimit(const DigitalLimit& limit) const;

    DigitalType type_ = DIGITAL_INT32;
    std::vector<DigitalLimit> lowerLimits_;  // at most one each: SetMinValue/SetMaxValue replace
    std::vector<DigitalLimit> upperLimits_;
};
