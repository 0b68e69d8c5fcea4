// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/rng/rand15.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void Rand15::fillAtMost(std::uint8_t *out, int n, int limit)
{
    int i = 0;
#if defined(__SSE2__)
    constexpr int lanes = 8;
    constexpr Step stride = Step::of(lanes);
    const auto word = [](std::uint64_t steps, bool add) {
        const Step step = Step::of(steps);
        return int(add ? step.add : step.mul);
    };
    const __m128i mulLow =
        _mm_setr_epi32(word(1, false), word(2, false), word(3, false), word(4, false));
    const __m128i mulHigh =
        _mm_setr_epi32(word(5, false), word(6, false), word(7, false), word(8, false));
    const __m128i addLow =
        _mm_setr_epi32(word(1, true), word(2, true), word(3, true), word(4, true));
    const __m128i addHigh =
        _mm_setr_epi32(word(5, true), word(6, true), word(7, true), word(8, true));
    // The low 32 bits of four products of one state: SSE2 multiplies only
    // the even lanes, so the odd ones go through a shift.
    const auto times = [](__m128i state, __m128i mul) {
        const __m128i even = _mm_mul_epu32(state, mul);
        const __m128i odd = _mm_mul_epu32(state, _mm_srli_epi64(mul, 32));
        return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                                  _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
    };
    // Draws are 0..32767, so every limit outside that range acts as its end.
    const __m128i bound = _mm_set1_epi16(short(std::clamp(limit, -1, maxValue)));
    const __m128i fifteen = _mm_set1_epi32(0x7FFF);
    const __m128i one = _mm_set1_epi8(1);
    for (; i + lanes <= n; i += lanes) {
        const __m128i state = _mm_set1_epi32(int(m_state));
        const __m128i low =
            _mm_and_si128(_mm_srli_epi32(_mm_add_epi32(times(state, mulLow), addLow), 16), fifteen);
        const __m128i high = _mm_and_si128(
            _mm_srli_epi32(_mm_add_epi32(times(state, mulHigh), addHigh), 16), fifteen);
        const __m128i above = _mm_cmpgt_epi16(_mm_packs_epi32(low, high), bound);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i),
                         _mm_andnot_si128(_mm_packs_epi16(above, above), one));
        m_state = stride.apply(m_state);
    }
#endif
    for (; i < n; ++i)
        out[i] = next() <= limit;
}
