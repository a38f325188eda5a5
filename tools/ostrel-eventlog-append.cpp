// Appends failed-logon records to a channel file, the way the event log would get them:
//   ostrel-eventlog-append [--folder DIR] [--channel NAME] [--event-code N] [--count K]
//                          [--data X]... [--strings A,B,...] [--no-strings] [ADDRESS...]
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileWriter.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using ostrel::platform::NewChannelRecord;

constexpr const char* Usage =
    "Usage: ostrel-eventlog-append [options] [ADDRESS...]\n"
    "Appends records to a channel file, numbered on from its last record.\n"
    "Each ADDRESS gives one record whose last insertion string is the address.\n"
    "\n"
    "  --folder DIR       channel folder (default ./Eventlog)\n"
    "  --channel NAME     channel (default Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational)\n"
    "  --event-code N     event code of the records (default 140)\n"
    "  --count K          append every record K times (default 1)\n"
    "  --data X           add X to the Data array (repeatable; without it Data is null)\n"
    "  --strings A,B,...  insertion strings before the address (without ADDRESS: the whole array)\n"
    "  --no-strings       InsertionStrings null; takes no ADDRESS\n"
    "  --help             this text\n";

struct Options {
    std::string folder = "Eventlog";
    std::string channel = ostrel::platform::RdpChannel;
    int eventCode = ostrel::platform::FailedLogonEventCode;
    long long count = 1;
    std::optional<std::vector<std::string>> data;
    std::optional<std::vector<std::string>> strings;
    bool noStrings = false;
    std::vector<std::string> addresses;
    bool help = false;
};

struct UsageError {
    std::string message;
};

template <class Number> Number wholeNumber(std::string_view option, std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw UsageError{std::string(option) + " needs a whole number, not '" + std::string(text) + "'"};
    return value;
}

std::vector<std::string> splitAtCommas(std::string_view text) {
    std::vector<std::string> parts;
    for (;;) {
        const auto comma = text.find(',');
        parts.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return parts;
        text.remove_prefix(comma + 1);
    }
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                throw UsageError{std::string(argument) + " needs a value"};
            return argv[++i];
        };
        if (argument == "--help" || argument == "-h")
            options.help = true;
        else if (argument == "--folder")
            options.folder = value();
        else if (argument == "--channel")
            options.channel = value();
        else if (argument == "--event-code")
            options.eventCode = wholeNumber<int>(argument, value());
        else if (argument == "--count")
            options.count = wholeNumber<long long>(argument, value());
        else if (argument == "--data") {
            if (!options.data)
                options.data.emplace();
            options.data->emplace_back(value());
        } else if (argument == "--strings")
            options.strings = splitAtCommas(value());
        else if (argument == "--no-strings")
            options.noStrings = true;
        else if (argument.starts_with("--"))
            throw UsageError{"unknown option " + std::string(argument)};
        else
            options.addresses.emplace_back(argument);
    }
    if (options.count < 1)
        throw UsageError{"--count must be at least 1"};
    if (options.noStrings && (options.strings || !options.addresses.empty()))
        throw UsageError{"--no-strings takes neither --strings nor an ADDRESS"};
    return options;
}

std::vector<NewChannelRecord> recordsOf(const Options& options) {
    std::vector<NewChannelRecord> kinds;
    auto record = [&](std::optional<std::vector<std::string>> strings) {
        kinds.push_back({options.eventCode, options.data, std::move(strings)});
    };
    if (options.addresses.empty()) {
        record(options.noStrings ? std::nullopt : options.strings);
    } else {
        for (const std::string& address : options.addresses) {
            std::vector<std::string> strings = options.strings.value_or(std::vector<std::string>{});
            strings.push_back(address);
            record(std::move(strings));
        }
    }
    std::vector<NewChannelRecord> records;
    records.reserve(kinds.size() * static_cast<std::size_t>(options.count));
    for (long long round = 0; round < options.count; ++round)
        records.insert(records.end(), kinds.begin(), kinds.end());
    return records;
}

} // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parseOptions(argc, argv);
        if (options.help) {
            std::cout << Usage;
            return 0;
        }
        const auto records = recordsOf(options);
        ostrel::platform::ChannelFileWriter writer(options.folder, options.channel);
        const std::int64_t first = writer.append(records);
        const std::int64_t last = first + (static_cast<std::int64_t>(records.size()) - 1);
        std::cout << "Appended records " << first << ".." << last << " to " << writer.file().string() << "\n";
        return 0;
    } catch (const UsageError& error) {
        std::cerr << "ostrel-eventlog-append: " << error.message << "\n\n" << Usage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "ostrel-eventlog-append: " << error.what() << "\n";
        return 1;
    }
}
