#pragma once

#include <cstdint>
#include <string_view>

namespace ostrel {

// FNV-1a, 64 bits: a short, stable name for a text, to tell texts apart (not a guard against
// anyone who chooses them). Continues from `hash`, so several texts can be taken in turn.
inline constexpr std::uint64_t Fnv1aStart = 14695981039346656037ull;

inline std::uint64_t fnv1a(std::string_view text, std::uint64_t hash = Fnv1aStart) {
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace ostrel
