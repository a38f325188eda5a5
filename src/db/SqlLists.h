#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ostrel {

// Statements that carry many values at once (multi-row VALUES, IN lists) are sent in chunks
// of this many values: large enough that a round trip carries real work, small enough that
// no statement comes near the server's packet limit.
inline constexpr std::size_t ValuesPerStatement = 1000;

// The items joined by ", ", in chunks of at most `chunkSize` items each, in their order.
inline std::vector<std::string> joinInChunks(const std::vector<std::string>& items,
                                             std::size_t chunkSize = ValuesPerStatement) {
    std::vector<std::string> chunks;
    for (std::size_t first = 0; first < items.size(); first += chunkSize) {
        std::string chunk;
        const std::size_t end = first + chunkSize < items.size() ? first + chunkSize : items.size();
        for (std::size_t i = first; i < end; ++i) {
            if (i != first)
                chunk += ", ";
            chunk += items[i];
        }
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

} // namespace ostrel
