// TScoretree: the hits of one search pass ordered by score, read by position (0 = lowest score).
// The order is that of an unbalanced binary search tree in which a key less than a node's key
// goes left and any other key goes right, walked in order: ascending keys, equal keys (-0.0 and
// +0.0 included) in insertion order. Each node carries `index`, its insertion number since the
// last Clear.
//
// Ownership: the tree owns its nodes only. Payloads (`data`) belong to the caller and are never
// freed here. A node pointer returned by Items stays valid until Clear or destruction. Clear keeps
// the room of the nodes and of the sort, so a tree that is cleared and filled again, as a search
// pass's is, writes into memory it already has instead of faulting fresh pages in.
//
// Thread safety: none of its own. The search pass fills the tree on the engine's worker thread
// (under its data lock), calls Prepare, and then hands it whole to the user-interface thread. Items
// may order the nodes lazily through mutable state, so concurrent readers are safe only after
// Prepare has run with no insert since; insert, Clear and Prepare need exclusive access.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "port/largeroom.h"

template <class T>
struct snode {
    float key;
    int index;
    T* data;
};

template <class T>
using psnode = snode<T>*;

template <class T>
class TScoretree {
public:
    // Room for ordering many nodes at once: two 8-byte words per node, written before they are
    // read, grown when short and kept. A tree has its own; trees that are never ordered at the
    // same time may share one through Prepare(room).
    class TSortRoom {
    public:
        // Room for n nodes, faulted in now. False when it gave way.
        bool Prefault(std::size_t n, const TGiveWay& giveWay = {}) {
            Reserve(n);
            return PrefaultLargeRoom(fa.data(), fa.size() * sizeof(uint64_t), giveWay) &&
                   PrefaultLargeRoom(fb.data(), fb.size() * sizeof(uint64_t), giveWay);
        }

    private:
        friend class TScoretree;
        void Reserve(std::size_t n) {
            // With room to grow: pages are only taken as they are written.
            if (n > fa.size()) {
                fa = TLargeArray<uint64_t>(std::max(n, fa.size() * 3 / 2));
                fb = TLargeArray<uint64_t>(fa.size());
            }
        }
        TLargeArray<uint64_t> fa, fb;
    };

    TScoretree() = default;
    TScoretree(const TScoretree&) = delete;
    TScoretree& operator=(const TScoretree&) = delete;
    virtual ~TScoretree() = default;

    // Adds one node; duplicate keys are allowed. Only allocation failure propagates.
    void insert(float key, T* value) {
        fnodes.push_back(snode<T>{key, static_cast<int>(fnodes.size()), value});
        if (std::isnan(key)) fhasnan = true;
        if (value == nullptr) ++fnullpayloads;
    }

    // The node at 0-based position `index` in ascending order, or null when out of range.
    psnode<T> Items(int index) const {
        if (index < 0 || index >= Count()) return nullptr;
        Prepare();
        return forder[static_cast<std::size_t>(index)];
    }

    int Count() const { return static_cast<int>(fnodes.size()); }

    // The payload of the node inserted `index`-th since the last Clear. REQUIRES: 0 <= index <
    // Count().
    T* Inserted(int index) const { return fnodes[static_cast<std::size_t>(index)].data; }

    // Nodes inserted with a null payload since the last Clear.
    int NullPayloads() const { return fnullpayloads; }

    // Forgets every node, not the payloads; the next insert gets index 0.
    void Clear() noexcept {
        fnodes.clear();
        forder.clear();
        fhasnan = false;
        fnullpayloads = 0;
    }

    // Room for n nodes and their ordering in all, its pages faulted in now: filling the tree up
    // to n nodes later takes neither an allocation nor a page fault. False when it gave way.
    // The room of the sort is the caller's: see TSortRoom.
    bool Prefault(std::size_t n, const TGiveWay& giveWay = {}) {
        return fnodes.Prefault(n, giveWay) && PrefaultRoom(forder, n, giveWay);
    }

    // Orders the nodes inserted since the last call, so that later Items calls are O(1) reads
    // that change nothing.
    void Prepare() const { Prepare(fsortRoom); }
    // The same, sorting in room, which nothing else may use meanwhile.
    void Prepare(TSortRoom& room) const {
        if (forder.size() == fnodes.size()) return;
        if (fhasnan) {
            OrderWithNaN();
            return;
        }
        // Without NaN the tree's in-order walk is a stable sort by key. New nodes are sorted on
        // their own and merged after equal older ones, so a run of inserts between reads costs
        // only its own sort plus one merge.
        const std::size_t sorted = forder.size();
        for (std::size_t i = sorted; i < fnodes.size(); ++i)
            forder.push_back(&fnodes[i]);
        const auto middle = forder.begin() + static_cast<std::ptrdiff_t>(sorted);
        StableSortNew(sorted, room);
        std::inplace_merge(forder.begin(), middle, forder.end(), KeyLess);
    }

private:
    static bool KeyLess(const snode<T>* a, const snode<T>* b) { return a->key < b->key; }

    // The bits of a key as an unsigned number that orders as the key does; -0 is taken as +0,
    // which compares equal to it. REQUIRES: key is not NaN.
    static uint32_t SortableBits(float key) {
        if (key == 0) key = 0;
        uint32_t bits;
        std::memcpy(&bits, &key, sizeof bits);
        return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
    }

    // A stable sort by key of the nodes from `sorted` on, which forder lists in insertion order;
    // their keys have no NaN. A pass usually hands over many thousands of hits: those are sorted by
    // stable counting passes, in linear time. Each key is taken as its distance from the lowest
    // key, packed with its node's number into 8 bytes; the distances of a pass's scores (0.25 to 1)
    // fit 25 bits, which two passes of 13-bit digits cover, where the keys' full 32 bits would take
    // three. A digit that every key shares needs no pass.
    void StableSortNew(std::size_t sorted, TSortRoom& room) const {
        const auto first = forder.begin() + static_cast<std::ptrdiff_t>(sorted);
        const std::size_t n = forder.size() - sorted;
        if (n < 4096) {
            std::stable_sort(first, forder.end(), KeyLess);
            return;
        }
        room.Reserve(n);
        uint64_t* a = room.fa.data();
        uint64_t* b = room.fb.data();
        uint32_t lowest = UINT32_MAX, highest = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t bits = SortableBits(fnodes[sorted + i].key);
            lowest = std::min(lowest, bits);
            highest = std::max(highest, bits);
            a[i] = (static_cast<uint64_t>(bits) << 32) | i;
        }
        const int width = std::bit_width(highest - lowest);
        const int passes = (width + kMaxDigitBits - 1) / kMaxDigitBits;
        if (passes > 0) {
            const int digitBits = (width + passes - 1) / passes;
            const uint32_t mask = (1u << digitBits) - 1;
            std::vector<uint32_t> counts(static_cast<std::size_t>(passes) << digitBits, 0);
            auto distance = [lowest](uint64_t x) {
                return static_cast<uint32_t>(x >> 32) - lowest;
            };
            for (std::size_t i = 0; i < n; ++i) {
                const uint32_t d = distance(a[i]);
                for (int p = 0; p < passes; ++p)
                    ++counts[(static_cast<std::size_t>(p) << digitBits) +
                             ((d >> (p * digitBits)) & mask)];
            }
            for (int p = 0; p < passes; ++p) {
                uint32_t* const next = counts.data() + (static_cast<std::size_t>(p) << digitBits);
                const int shift = p * digitBits;
                if (next[(distance(a[0]) >> shift) & mask] == n) continue;  // one digit for all
                uint32_t sum = 0;
                for (uint32_t v = 0; v <= mask; ++v) {
                    const uint32_t c = next[v];
                    next[v] = sum;
                    sum += c;
                }
                for (std::size_t i = 0; i < n; ++i)
                    b[next[(distance(a[i]) >> shift) & mask]++] = a[i];
                std::swap(a, b);
            }
        }
        // The new nodes are numbered from `sorted` on in insertion order.
        for (std::size_t i = 0; i < n; ++i)
            first[static_cast<std::ptrdiff_t>(i)] = &fnodes[sorted + static_cast<uint32_t>(a[i])];
    }

    static constexpr int kMaxDigitBits = 13;

    // A NaN key compares false both ways, so the tree's order is no sort order; it is rebuilt
    // exactly, without building the tree. Every NaN goes right at every node and so lies on the
    // root's right spine; a left subtree never holds a NaN, so its in-order walk is a stable sort
    // of its keys. A non-NaN key joins the spine only when no non-NaN spine key is greater than
    // it, so those keys never decrease along the spine, and a key's left subtree is found by
    // binary search: it belongs under the first spine node whose key is greater.
    void OrderWithNaN() const {
        const std::size_t n = fnodes.size();
        std::vector<std::size_t> spine;       // node numbers of the spine, root first
        std::vector<float> spinekeys;         // non-NaN spine keys, non-decreasing
        std::vector<std::size_t> spineslots;  // their places in `spine`
        std::vector<std::size_t> slotof(n);   // spine place whose left subtree holds the node
        constexpr std::size_t kOnSpine = static_cast<std::size_t>(-1);
        for (std::size_t i = 0; i < n; ++i) {
            const float key = fnodes[i].key;
            const auto above = std::isnan(key)
                                   ? spinekeys.end()
                                   : std::upper_bound(spinekeys.begin(), spinekeys.end(), key);
            if (above != spinekeys.end()) {
                slotof[i] = spineslots[static_cast<std::size_t>(above - spinekeys.begin())];
                continue;
            }
            slotof[i] = kOnSpine;
            if (!std::isnan(key)) {
                spinekeys.push_back(key);
                spineslots.push_back(spine.size());
            }
            spine.push_back(i);
        }
        // Group the left subtrees by spine place (insertion order kept), then emit each sorted
        // subtree followed by its spine node.
        std::vector<std::size_t> start(spine.size() + 1, 0);
        for (std::size_t i = 0; i < n; ++i)
            if (slotof[i] != kOnSpine) ++start[slotof[i] + 1];
        for (std::size_t s = 0; s < spine.size(); ++s)
            start[s + 1] += start[s];
        std::vector<psnode<T>> grouped(n - spine.size());
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < n; ++i)
            if (slotof[i] != kOnSpine) grouped[fill[slotof[i]]++] = &fnodes[i];
        forder.clear();
        forder.reserve(n);
        for (std::size_t s = 0; s < spine.size(); ++s) {
            const auto first = grouped.begin() + static_cast<std::ptrdiff_t>(start[s]);
            const auto last = grouped.begin() + static_cast<std::ptrdiff_t>(start[s + 1]);
            std::stable_sort(first, last, KeyLess);
            forder.insert(forder.end(), first, last);
            forder.push_back(&fnodes[spine[s]]);
        }
    }

    // Nodes in blocks that never move, so node addresses stay fixed as the tree grows; Clear
    // keeps the blocks for the next inserts. Block b holds kFirst * 2^b nodes from kFirst *
    // (2^b - 1) on: a small pass takes one small block, a pass of millions a few large ones.
    class TNodes {
    public:
        void push_back(const snode<T>& node) {
            if (fsize == fcapacity) AddBlock();
            (*this)[fsize++] = node;
        }
        bool Prefault(std::size_t n, const TGiveWay& giveWay) {
            while (fcapacity < n)
                AddBlock();
            for (const auto& block : fblocks) {
                if (!PrefaultLargeRoom(block.data(), block.size() * sizeof(snode<T>), giveWay))
                    return false;
            }
            return true;
        }
        snode<T>& operator[](std::size_t i) {
            const auto b = static_cast<std::size_t>(std::bit_width((i >> kFirstBits) + 1) - 1);
            return fblocks[b][i - (((std::size_t{1} << b) - 1) << kFirstBits)];
        }
        std::size_t size() const { return fsize; }
        void clear() { fsize = 0; }

    private:
        void AddBlock() {
            const std::size_t count = kFirst << fblocks.size();
            fblocks.emplace_back(count);
            fcapacity += count;
        }

        static constexpr int kFirstBits = 12;
        static constexpr std::size_t kFirst = std::size_t{1} << kFirstBits;
        std::vector<TLargeArray<snode<T>>> fblocks;
        std::size_t fsize = 0;
        std::size_t fcapacity = 0;
    };

    // Invariant: fnodes[i].index == i.
    mutable TNodes fnodes;
    // Invariant: forder holds fnodes[0 .. forder.size()) in tree order.
    mutable TLargeVector<psnode<T>> forder;
    mutable TSortRoom fsortRoom;  // for Prepare without a room of the caller's
    bool fhasnan = false;
    int fnullpayloads = 0;
};
