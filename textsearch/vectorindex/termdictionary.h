// The term dictionary of the vector index: every line name met, folded to ASCII lower case, with
// its term id (0, 1, 2, ... in the order the names were first added). A line without '=' has
// the empty name. A query line's name folds the same way, so "same name, ASCII case ignored"
// becomes "same term id".
//
// Open addressing, at most half full. A slot keeps a name's first 8 folded bytes beside bits of
// its hash and its length, so short names are found without touching the arena of names.
//
// Thread safety: Count, Find and Key may run concurrently with each other; FindOrAdd needs
// exclusive access.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "textsearch/cvrules.h"

namespace vindex {

inline constexpr uint32_t kNoTerm = UINT32_MAX;

// ASCII lower case of 8 bytes at once: bytes 'A'..'Z' get 0x20 added, all others stay.
inline uint64_t FoldWord(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    const uint64_t heptets = w & (0x7F * kOnes);
    const uint64_t atLeastA = heptets + (0x80 - 'A') * kOnes;
    const uint64_t aboveZ = heptets + (0x80 - 'Z' - 1) * kOnes;
    const uint64_t upper = atLeastA & ~aboveZ & ~w & (0x80 * kOnes);
    return w | (upper >> 2);
}

// The bytes of p[0..n) as the low bytes of a word (n < 8), without a memcpy call.
inline uint64_t LoadPartial(const char* p, size_t n) {
    uint64_t w = 0;
    for (size_t i = 0; i < n; ++i)
        w |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    return w;
}

// A line name as the dictionary sees it: its first 8 bytes folded (zero-padded) and a hash of
// all its folded bytes. Stored names never hold NUL, so prefix and length identify names of up
// to 8 bytes.
struct TNameKey {
    std::string_view name;
    uint64_t prefix;
    uint64_t hash;

    explicit TNameKey(std::string_view s) : name(s) {
        constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
        uint64_t h = s.size() * kMul;
        size_t i = 0;
        prefix = 0;
        for (; i + 8 <= s.size(); i += 8) {
            uint64_t w;
            std::memcpy(&w, s.data() + i, 8);
            w = FoldWord(w);
            if (i == 0) prefix = w;
            h = (h ^ w) * kMul;
            h ^= h >> 32;
        }
        if (i < s.size()) {
            const uint64_t w = FoldWord(LoadPartial(s.data() + i, s.size() - i));
            if (i == 0) prefix = w;
            h = (h ^ w) * kMul;
            h ^= h >> 32;
        }
        h *= kMul;
        hash = h ^ (h >> 29);
    }

    // Hash bits beside the (capped) length, the slot's quick test.
    uint32_t Check() const {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(name.size(), 0xFFFF));
        return (static_cast<uint32_t>(hash >> 32) & 0xFFFF0000u) | length;
    }
};

class TTermDictionary {
public:
    uint32_t Count() const { return static_cast<uint32_t>(fstarts.size()); }

    // The term id of key, or kNoTerm.
    uint32_t Find(const TNameKey& key) const {
        if (fslots.empty()) return kNoTerm;
        return fslots[Probe(key)].id1 - 1;  // kNoTerm when the slot is free
    }

    // Asks for the memory that Find(key) will read first, without waiting for it.
    void Prefetch(const TNameKey& key) const {
        if (!fslots.empty()) __builtin_prefetch(&fslots[key.hash & (fslots.size() - 1)]);
    }

    // The term id of key, which gets the next id when it is new.
    uint32_t FindOrAdd(const TNameKey& key) {
        if (2 * (Count() + 1) > fslots.size()) Grow();
        TSlot& slot = fslots[Probe(key)];
        if (slot.id1 != 0) return slot.id1 - 1;
        const uint32_t id = Count();
        fstarts.push_back(fchars.size());
        for (const char c : key.name)
            fchars.push_back(cvrules::FoldAscii(c));
        slot = {key.prefix, id + 1, key.Check()};
        return id;
    }

    // The folded name of a term.
    std::string_view Key(uint32_t id) const {
        const size_t begin = fstarts[id];
        const size_t end = id + 1 < fstarts.size() ? fstarts[id + 1] : fchars.size();
        return std::string_view(fchars).substr(begin, end - begin);
    }

    // Room for this many names of this many bytes in all, so that adding them never regrows.
    void Reserve(size_t names, size_t chars) {
        fchars.reserve(chars);
        fstarts.reserve(names);
        size_t slots = fslots.empty() ? 1024 : fslots.size();
        while (2 * names > slots)
            slots *= 2;
        if (slots > fslots.size()) Grow(slots);
    }
    // The folded names in id order, back to back, and where each begins.
    std::string_view Names() const { return fchars; }
    const std::vector<size_t>& Starts() const { return fstarts; }

    size_t MemoryUsage() const {
        return fslots.capacity() * sizeof(TSlot) + fchars.capacity() +
               fstarts.capacity() * sizeof(size_t);
    }

private:
    struct TSlot {
        uint64_t prefix = 0;
        uint32_t id1 = 0;  // id + 1; 0 = free
        uint32_t check = 0;
    };

    // The slot holding key, or the free slot where it belongs.
    size_t Probe(const TNameKey& key) const {
        const size_t mask = fslots.size() - 1;
        const uint32_t check = key.Check();
        for (size_t s = key.hash & mask;; s = (s + 1) & mask) {
            const TSlot& slot = fslots[s];
            if (slot.id1 == 0) return s;
            if (slot.check == check && slot.prefix == key.prefix &&
                (key.name.size() <= 8 || EqualsFolded(Key(slot.id1 - 1), key.name))) {
                return s;
            }
        }
    }

    // REQUIRES: folded is already in lower case.
    static bool EqualsFolded(std::string_view folded, std::string_view name) {
        if (folded.size() != name.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            if (folded[i] != cvrules::FoldAscii(name[i])) return false;
        }
        return true;
    }

    void Grow() { Grow(fslots.empty() ? 1024 : 2 * fslots.size()); }
    void Grow(size_t slots);

    std::vector<TSlot> fslots;
    std::string fchars;  // the folded names, one after another
    std::vector<size_t> fstarts;
};

}  // namespace vindex
