#include "settings/SettingRanges.h"

#include "common/Conversion.h"
#include "common/Errors.h"

namespace ostrel {

namespace {

constexpr SettingRange NumberSettings[] = {SQLPortRange, BlockInvalidUserCountRange, BlockInvalidUserIntervalRange,
                                           BlockHoneypotIntervalRange};

} // namespace

std::span<const SettingRange> numberSettings() {
    return NumberSettings;
}

std::string rangeText(const SettingRange& range) {
    return std::string(range.key) + " takes a whole number from " + std::to_string(range.minimum) + " to " +
           std::to_string(range.maximum);
}

std::string settingNumberProblem(const SettingRange& range, const std::string& text) {
    std::int32_t value = 0;
    try {
        value = StrToInt(text);
    } catch (const EConvertError& error) {
        return std::string(error.what()) + " (" + rangeText(range) + ")";
    }
    if (value < range.minimum || value > range.maximum)
        return "'" + text + "' is out of range (" + rangeText(range) + ")";
    return {};
}

std::int32_t settingNumber(const SettingRange& range, const std::string& text) {
    const std::string problem = settingNumberProblem(range, text);
    if (!problem.empty())
        throw EConvertError(problem);
    return StrToInt(text);
}

} // namespace ostrel
