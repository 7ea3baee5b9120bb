// Byte scans that use the processor's vector instructions where the build targets them, and a
// plain loop elsewhere; both give the same answer.
// Thread safety: pure functions.
#pragma once

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first byte in [p, end) equal to a, b, c or d, or end. Sixteen bytes at a time with SSE2:
// the callers scan many short lines, where the plain loop is a good part of their cost.
inline const char* FindFirstOfFour(const char* p, const char* end, char a, char b, char c, char d) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    const __m128i vd = _mm_set1_epi8(d);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vd)));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0) return p + std::countr_zero(mask);
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const char x = *p;
        if (x == a || x == b || x == c || x == d) return p;
    }
    return end;
}
