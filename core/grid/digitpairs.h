// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Maps as the writer leaves them with one-digit codes are nothing but a
// digit and a space, over and over ("1 0 0 1 "). Both text readers hand
// such stretches to readDigitPairs, which takes sixteen bytes at a time and
// stops at the first sixteen that are anything else; the readers' own byte
// rules take over from there, so the result is the same cell for cell.
namespace DigitPairs {

constexpr std::size_t chunkBytes = 16;
constexpr std::size_t chunkCells = chunkBytes / 2;

// Whether the sixteen bytes at `p` are eight digits, each followed by a
// space; if so their values are stored at `out`.
inline bool readChunk(const char *p, qint32 *out)
{
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    // A byte below '0' wraps to a large value, so one unsigned bound
    // recognises a digit.
    const __m128i digits = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
    const __m128i spaces = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    const int digitMask = _mm_movemask_epi8(digits);
    const int spaceMask = _mm_movemask_epi8(spaces);
    if ((digitMask & 0x5555) != 0x5555 || spaceMask != 0xaaaa)
        return false;
    const __m128i words = _mm_and_si128(values, _mm_set1_epi16(0x00ff));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi16(words, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), _mm_unpackhi_epi16(words, zero));
    return true;
#else
    for (std::size_t i = 0; i < chunkBytes; i += 2)
        if (p[i] < '0' || p[i] > '9' || p[i + 1] != ' ')
            return false;
    for (std::size_t i = 0; i < chunkCells; ++i)
        out[i] = p[2 * i] - '0';
    return true;
#endif
}

// Reads whole chunks from `p` into `out` (room for `chunks` of them) and
// returns how many chunks it read.
inline std::size_t read(const char *p, qint32 *out, std::size_t chunks)
{
    std::size_t done = 0;
    while (done < chunks && readChunk(p + done * chunkBytes, out + done * chunkCells))
        ++done;
    return done;
}

} // namespace DigitPairs
