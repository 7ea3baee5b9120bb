#include "core/store/entryhistory.h"

#include <cstdio>

namespace {

// FNV-1a, 64 bits: each text preceded by its length, so that moving bytes from one text to the
// other gives another version.
constexpr uint64_t kOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kPrime = 0x100000001b3ULL;

void Mix(uint64_t& hash, std::string_view bytes) {
    uint64_t length = bytes.size();
    for (int i = 0; i < 8; ++i, length >>= 8) {
        hash ^= length & 0xff;
        hash *= kPrime;
    }
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= kPrime;
    }
}

}  // namespace

std::string EntryVersion(std::string_view problem, std::string_view solution) {
    uint64_t hash = kOffset;
    Mix(hash, problem);
    Mix(hash, solution);
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return digits;
}
