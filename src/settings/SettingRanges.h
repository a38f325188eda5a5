#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ostrel {

// A setting that holds a whole number: its key in Config.ini, its dialog field with the
// field's label, and the range the field's spin control allows.
struct SettingRange {
    const char* key;
    const char* field;
    const char* caption;
    std::int32_t minimum;
    std::int32_t maximum;
};

inline constexpr SettingRange SQLPortRange{"SQLPort", "ConfServerPort", "Port", 0, 65535};
inline constexpr SettingRange BlockInvalidUserCountRange{"BlockInvalidUserCount", "BlockInvalidUserCount",
                                                         "Maximum failed attempts:", 1, 50};
inline constexpr SettingRange BlockInvalidUserIntervalRange{"BlockInvalidUserInterval", "Blocktime",
                                                            "Block time in minutes", 0, 1440};
inline constexpr SettingRange BlockHoneypotIntervalRange{"BlockHoneypotInterval", "BlocktimeHoneypot",
                                                         "Block time (Honeypot)", 1, 1440};

// Every stored setting that holds a whole number, in the order of the file.
std::span<const SettingRange> numberSettings();

// "<key> takes a whole number from <minimum> to <maximum>".
std::string rangeText(const SettingRange& range);

// Converts a number setting's text as its readers do, and refuses a value outside the range:
// EConvertError with the conversion message ("'<text>' ist kein gültiger Integerwert") or
// "'<text>' is out of range", either followed by the key and its range. An empty text is no
// number here (the store's ReadInteger would give 0, which turns a block time endless).
std::int32_t settingNumber(const SettingRange& range, const std::string& text);

// The message settingNumber would raise for the text; empty when the text is a valid value.
std::string settingNumberProblem(const SettingRange& range, const std::string& text);

} // namespace ostrel
