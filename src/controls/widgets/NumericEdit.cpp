#include "controls/widgets/NumericEdit.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/StringTable.h"
#include "common/ValueParse.h"
#include "controls/widgets/BalloonTip.h"

namespace {

bool IsFloatType(DigitalType type)
{
    return type == DIGITAL_FLOAT || type == DIGITAL_DOUBLE;
}

bool IsUnsignedType(DigitalType type)
{
    return type == DIGITAL_UINT32 || type == DIGITAL_UINT64;
}

std::string CharacterText(QChar character)
{
    return QString(character).toStdString();
}

}  // namespace

double DigitalValueToDouble(const DigitalValue& value, DigitalType type)
{
    switch (type) {
    case DIGITAL_INT32: return value.i32;
    case DIGITAL_UINT32: return value.u32;
    case DIGITAL_INT64: return static_cast<double>(value.i64);
    case DIGITAL_UINT64: return static_cast<double>(value.u64);
    case DIGITAL_FLOAT: return value.f32;
    case DIGITAL_DOUBLE: return value.f64;
    }
    return 0.0;
}

std::string FormatDigitalValue(const DigitalValue& value, DigitalType type)
{
    char text[64] = {};
    switch (type) {
    case DIGITAL_INT32: std::snprintf(text, sizeof text, "%d", value.i32); break;
    case DIGITAL_UINT32: std::snprintf(text, sizeof text, "%u", value.u32); break;
    case DIGITAL_INT64: std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value.i64)); break;
    case DIGITAL_UINT64: std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value.u64)); break;
    case DIGITAL_FLOAT:
    case DIGITAL_DOUBLE: {
        const double number = DigitalValueToDouble(value, type);
        char format[16] = {};
        std::snprintf(format, sizeof format, "%%.%df", GetSuitableDecimalFormatCount(number, 10));
        std::snprintf(text, sizeof text, format, number);
        break;
    }
    }
    return text;
}

NumericEdit::NumericEdit(QWidget* parent) : BalloonEdit(parent) {}

void NumericEdit::SetMinValue(DigitalValue value, double tolerance)
{
    lowerLimits_.clear();
    lowerLimits_.push_back(DigitalLimit{type_, value, tolerance, "MinValue", {}});
}

void NumericEdit::SetMaxValue(DigitalValue value, double tolerance)
{
    upperLimits_.clear();
    upperLimits_.push_back(DigitalLimit{type_, value, tolerance, "MaxValue", {}});
}

std::string NumericEdit::FormatLimit(const DigitalLimit& limit) const
{
    if (!limit.format.empty()) {
        char text[64] = {};
        std::snprintf(text, sizeof text, limit.format.c_str(), DigitalValueToDouble(limit.value, type_));
        return text;
    }
    return FormatDigitalValue(limit.value, type_);
}

bool NumericEdit::CheckInputChar(QChar character, int, int)
{
    const QString current = text();
    const char16_t code = character.unicode();
    bool accepted = false;
    if (code == u'.') {
        accepted = IsFloatType(type_) && current.count(QLatin1Char('.')) <= 1;
    } else if (code == u'-') {
        accepted = !IsUnsignedType(type_) && current.startsWith(QLatin1Char('-')) &&
                   current.count(QLatin1Char('-')) == 1;
    } else if (code < 0x20 || code == 0x7F || (code >= u'0' && code <= u'9')) {
        // Control characters: backspace, clipboard keys, and the Delete key.
        accepted = true;
    }
    if (!accepted) {
        const std::string message = FormatStringText(TEXT_INVALID_CHARACTER, CharacterText(character).c_str());
        ShowBalloonTip(LoadStringText(TEXT_INPUT_ERROR), message, BALLOON_ICON_ERROR, XEDIT_BALLOON_KEY_CHARACTER);
    }
    return accepted;
}

bool NumericEdit::CheckInputValue()
{
    // The rule is the one of every numeric edit (EditLimits.h); the slack of a
    // decimal edit is its limit's tolerance.
    EditLimits limits;
    const bool wholeNumbers = !IsFloatType(type_);
    if (!lowerLimits_.empty()) {
        limits.minimum = DigitalValueToDouble(lowerLimits_.front().value, type_);
        limits.minimumSlack = wholeNumbers ? EDIT_LIMIT_WHOLE_NUMBER_SLACK : lowerLimits_.front().tolerance;
    }
    if (!upperLimits_.empty()) {
        limits.maximum = DigitalValueToDouble(upperLimits_.front().value, type_);
        limits.maximumSlack = wholeNumbers ? EDIT_LIMIT_WHOLE_NUMBER_SLACK : upperLimits_.front().tolerance;
    }
    const int key = CheckEditLimits(ParseDigitalText(text().toStdString()), limits).key;
    if (key == 0)
        return true;

    const DigitalLimit& violated = key == EDIT_LIMIT_KEY_BELOW_MIN ? lowerLimits_.front() : upperLimits_.front();
    const std::string limitText = FormatLimit(violated);
    const int textId = key == EDIT_LIMIT_KEY_BELOW_MIN ? TEXT_MIN_VALUE_MUST : TEXT_MAX_VALUE_MUST;
    ShowBalloonTip(LoadStringText(TEXT_DATA_INVALID), FormatStringText(textId, limitText.c_str()), BALLOON_ICON_ERROR,
                   key);
    SuppressNotify = 0;
    setText(QString::fromStdString(limitText));
    SuppressNotify = DeferNotify;
    return false;
}
