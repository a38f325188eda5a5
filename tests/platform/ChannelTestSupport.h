#pragma once

#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::test {

// Records as one line of text, for readable expectations: "5 D=null S=[user|203.0.113.5]; 3 D=[1] S=null".
inline std::string describeRecords(const std::vector<platform::EventRecord>& records) {
    auto array = [](const std::optional<std::vector<std::string>>& texts) {
        if (!texts)
            return std::string("null");
        std::string joined = "[";
        for (std::size_t i = 0; i < texts->size(); ++i)
            joined += (i ? "|" : "") + (*texts)[i];
        return joined + "]";
    };
    std::string text;
    for (const auto& record : records) {
        if (!text.empty())
            text += "; ";
        text +=
            std::to_string(record.RecordNumber) + " D=" + array(record.Data) + " S=" + array(record.InsertionStrings);
    }
    return text;
}

// Writes the bytes to the file, creating its folders; returns the file.
inline std::filesystem::path writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

inline std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The failed-logon channel in the folder holds the records 1..count, one whole line each, and nothing else.
inline void expectConsecutiveLines(const std::filesystem::path& folder, std::int64_t count) {
    platform::ChannelFileSource source(folder);
    const auto records = source.recordsAbove(0);
    EXPECT_EQ(source.skippedLines(), 0u);
    ASSERT_EQ(records.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < records.size(); ++i)
        ASSERT_EQ(records[i].RecordNumber, count - static_cast<std::int64_t>(i));
    const std::string text = fileText(source.file());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), count);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
}

} // namespace ostrel::test
