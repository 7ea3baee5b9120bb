// TImageWriter and TImageReader: an index's memory written out as bytes and read back, for an
// image kept in a file between runs. The bytes go out and come back in parts of a fixed size, so
// neither side ever holds the whole image beside the index. Values are written as this machine
// holds them (the image's owner names the machine's sizes and byte order beside it), vectors of
// plain values with their length first. The reader knows the image's size and checks every
// length against what is left before it makes room, so a short or damaged image fails instead
// of being read past its end or asking for absurd room.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class TImageWriter {
public:
    // sink takes each part as it fills (partBytes long), and the last one, shorter, at Finish.
    TImageWriter(size_t partBytes, std::function<void(std::string_view)> sink)
        : fpartBytes(partBytes), fsink(std::move(sink)) {
        fpart.reserve(partBytes);
    }

    void Append(const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const size_t n = std::min(size, fpartBytes - fpart.size());
            fpart.append(p, n);
            p += n;
            size -= n;
            fsize += n;
            if (fpart.size() == fpartBytes) Flush();
        }
    }
    template <class T>
    void Put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        Append(&value, sizeof(T));
    }
    template <class T>
    void PutVector(const std::vector<T>& values) {
        static_assert(std::is_trivially_copyable_v<T>);
        Put<uint64_t>(values.size());
        Append(values.data(), values.size() * sizeof(T));
    }
    void PutString(std::string_view text) {
        Put<uint64_t>(text.size());
        Append(text.data(), text.size());
    }
    // Hands over what is left.
    void Finish() {
        if (!fpart.empty()) Flush();
    }
    uint64_t Size() const { return fsize; }

private:
    void Flush() {
        fsink(fpart);
        fpart.clear();
    }

    size_t fpartBytes;
    std::function<void(std::string_view)> fsink;
    std::string fpart;
    uint64_t fsize = 0;
};

class TImageReader {
public:
    // next gives the parts in order (false when there is none); they must come to size bytes. A
    // part stays valid until the next is asked for.
    TImageReader(uint64_t size, std::function<bool(std::string_view&)> next)
        : fleftTotal(size), fnext(std::move(next)) {}

    bool Read(void* data, size_t size) {
        if (!fok || size > fleftTotal) return fok = false;
        char* p = static_cast<char*>(data);
        while (size > 0) {
            if (fpart.empty() && !(fnext(fpart) && !fpart.empty())) return fok = false;
            const size_t n = std::min(size, fpart.size());
            std::memcpy(p, fpart.data(), n);
            fpart.remove_prefix(n);
            p += n;
            size -= n;
            fleftTotal -= n;
        }
        return true;
    }
    template <class T>
    bool Get(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        return Read(&value, sizeof(T));
    }
    template <class T>
    bool GetVector(std::vector<T>& values) {
        static_assert(std::is_trivially_copyable_v<T>);
        uint64_t count = 0;
        if (!Get(count) || count > fleftTotal / sizeof(T)) return fok = false;
        values.resize(count);
        return Read(values.data(), count * sizeof(T));
    }
    bool GetString(std::string& text) {
        uint64_t size = 0;
        if (!Get(size) || size > fleftTotal) return fok = false;
        text.resize(size);
        return Read(text.data(), size);
    }

    // Bytes not read yet.
    uint64_t Left() const { return fleftTotal; }
    // False once anything asked for was not there.
    bool Ok() const { return fok; }

private:
    uint64_t fleftTotal;
    std::function<bool(std::string_view&)> fnext;
    std::string_view fpart;
    bool fok = true;
};

// A 64-bit checksum of the bytes, quick enough to check a whole image at every start: it tells a
// damaged or half-written image from a sound one (not a forged one).
inline uint64_t ImageChecksum(std::string_view bytes) {
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
    uint64_t h = 0x243F6A8885A308D3ull ^ bytes.size();
    auto mix = [&](uint64_t v) {
        h ^= v * kMul;
        h = (h << 29 | h >> 35) * 0xBF58476D1CE4E5B9ull;
    };
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t v;
        std::memcpy(&v, bytes.data() + i, 8);
        mix(v);
    }
    uint64_t tail = 0;
    if (i < bytes.size()) std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    mix(tail);
    return h ^ (h >> 31);
}
