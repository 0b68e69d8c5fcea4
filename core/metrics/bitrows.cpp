// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/metrics/bitrows.h"

#include <algorithm>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bitrows {

void pack(const std::uint8_t *cells, int columns, std::uint64_t *words)
{
    const int fullWords = columns / wordBits;
    for (int w = 0; w < fullWords; ++w) {
        const std::uint8_t *word = cells + w * wordBits;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        std::uint64_t clear = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(word + 16 * part));
            const auto mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero)));
            clear |= std::uint64_t(mask) << (16 * part);
        }
        words[w] = ~clear;
#else
        std::uint64_t bits = 0;
        for (int c = 0; c < wordBits; ++c)
            bits |= std::uint64_t(word[c] != 0) << c;
        words[w] = bits;
#endif
    }
    if (fullWords < wordCount(columns)) {
        const std::uint8_t *word = cells + fullWords * wordBits;
        std::uint64_t bits = 0;
        for (int c = 0; c < columns - fullWords * wordBits; ++c)
            bits |= std::uint64_t(word[c] != 0) << c;
        words[fullWords] = bits;
    }
}

// A run starts at a set bit whose left neighbour is clear and ends before
// the first clear bit after it, so runs are read off the words a run at a
// time. Bits past the last column are clear, so a run always ends inside
// the map.
int findRuns(const std::uint64_t *words, int wordCount, std::int32_t *start, std::int32_t *end)
{
    int runs = 0;
    std::uint64_t left = 0;
    for (int w = 0; w < wordCount; ++w) {
        const std::uint64_t word = words[w];
        std::uint64_t first = word & ~((word << 1) | left);
        left = word >> 63;
        const std::int32_t base = w * wordBits;
        for (; first; first &= first - 1) {
            const int bit = std::countr_zero(first);
            const std::uint64_t clear = ~word >> bit;
            std::int32_t last;
            if (clear) {
                last = base + bit + std::countr_zero(clear) - 1;
            } else {
                // Rare: the run goes on into the next words.
                int v = w + 1;
                while (v < wordCount && words[v] == ~std::uint64_t(0))
                    ++v;
                last = v < wordCount ? v * wordBits + std::countr_zero(~words[v]) - 1
                                     : wordCount * wordBits - 1;
            }
            start[runs] = base + bit;
            end[runs] = last;
            ++runs;
        }
    }
    return runs;
}

Groups::Groups(int columns)
    : m_starts(std::size_t(wordCount(columns)), 0)
    , m_lastStartBefore(std::size_t(wordCount(columns)), -1)
{}

void Groups::find(const std::uint64_t *here, const std::uint64_t *above, bool corners,
                  std::int32_t *groupPatch)
{
    std::uint64_t left = 0;
    std::uint64_t leftOnlyHere = 0;
    std::uint64_t leftOnlyAbove = 0;
    std::int32_t lastStart = -1;
    const auto words = std::int32_t(m_starts.size());
    for (std::int32_t w = 0; w < words; ++w) {
        const std::uint64_t either = here[w] | above[w];
        std::uint64_t starts = either & ~((either << 1) | left);
        left = either >> 63;
        if (!corners) {
            const std::uint64_t onlyHere = here[w] & ~above[w];
            const std::uint64_t onlyAbove = above[w] & ~here[w];
            starts |= (((onlyHere << 1) | leftOnlyHere) & onlyAbove) |
                      (((onlyAbove << 1) | leftOnlyAbove) & onlyHere);
            leftOnlyHere = onlyHere >> 63;
            leftOnlyAbove = onlyAbove >> 63;
        }
        m_starts[std::size_t(w)] = starts;
        m_lastStartBefore[std::size_t(w)] = lastStart;
        const std::int32_t base = w * wordBits;
        if (starts)
            lastStart = base + std::bit_width(starts) - 1;
        for (; starts; starts &= starts - 1)
            groupPatch[base + std::countr_zero(starts)] = -1;
    }
}

ClassRows::ClassRows(int columns)
    : bits(std::size_t(wordCount(columns)), 0)
    , previousBits(bits.size(), 0)
    // Runs are separated by at least one cell of the other class.
    , start(std::size_t(columns + 1) / 2)
    , end(start.size())
    , patch(start.size())
    , previousStart(start.size())
    , previousPatch(start.size())
    , groups(columns)
    , groupPatch(std::size_t(columns))
{}

void ClassRows::findRunsAndGroups(bool corners)
{
    count = findRuns(bits.data(), int(bits.size()), start.data(), end.data());
    groups.find(bits.data(), previousBits.data(), corners, groupPatch.data());
}

void ClassRows::advance()
{
    std::swap(bits, previousBits);
    std::swap(start, previousStart);
    std::swap(patch, previousPatch);
    previousCount = count;
}

void ClassRows::clear()
{
    std::fill(previousBits.begin(), previousBits.end(), 0);
    previousCount = 0;
}

} // namespace bitrows
