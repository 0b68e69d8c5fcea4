// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <Random123/philox.h>

#include <cstdint>

// The counter-based generator behind the opt-in independent maps and
// surfaces: Philox4x32-10 from Random123, which turns a 64-bit key and a
// 128-bit counter into 128 random bits with no state in between. A draw is
// thus a pure function of what is put into the key and the counter, and
// any draw can be made first, on any thread, without the draws before it.
//
// What this file fixes is the layout: which word holds what. Changing any
// of it changes every map and surface a user may have to remake, so it is
// written down here once and used everywhere through these functions.
//
// Key, for both kinds of output:
//   key[0]           the seed, its bits taken unchanged
//   key[1] bits 24+  the domain tag, so that a random map and a fractal
//                    surface of the same seed never share a draw
//   key[1] bits 0-23 the map size for random maps (up to 16,777,215; the
//                    batch allows 9,999,999), 0 for fractal surfaces
//
// Counter of a random map's cells, four cells per call, one 32-bit word
// each, word i for the cell at column 4 * group + i:
//   ctr[0]           the group of four cells within the row, column / 4
//   ctr[1]           the row
//   ctr[2]           the replicate
//   ctr[3] bits 0-7  the cover, 0 to 100
//   ctr[3] bits 8-15 the redraw round: 0 for the first draws, 1 to 255 for
//                    the draws that replace rejected words (see below)
//
// Counter of a fractal surface's lattice point:
//   ctr[0], ctr[1]   the point's draw number, low and high word: the
//                    position at which the classic construction draws it
//   ctr[2], ctr[3]   0
//
// Counter of a Gaussian field's spectral entry, one pair of normal draws
// per entry (key[1] bits 0-23 are 0):
//   ctr[0]           the entry, row * (M / 2 + 1) + column of the half
//                    spectrum; M * (M / 2 + 1) for the two draws of an fBm
//                    surface's tilt
//   ctr[1]           the replicate
//   ctr[2]           the field's range (or H) in hundredths
//   ctr[3] bits 0-7  the cover, 0 to 100
//   ctr[3] bits 8-31 the round of the polar method: a pair outside the unit
//                    disc is drawn again with the next round
namespace philox {

using Key = philox4x32_key_t;
using Counter = philox4x32_ctr_t;

enum class Domain : std::uint32_t {
    RandomMap = 0x52u,
    FractalSurface = 0x46u,
    GaussianField = 0x47u,
};

constexpr int sizeBits = 24;
constexpr std::uint32_t largestMapSize = (std::uint32_t(1) << sizeBits) - 1u;

constexpr Key key(std::uint32_t seed, Domain domain, std::uint32_t mapSize = 0)
{
    return Key{{seed, (std::uint32_t(domain) << sizeBits) | (mapSize & largestMapSize)}};
}

// Ten rounds, Random123's default and the variant its authors recommend.
static_assert(philox4x32_rounds == 10);

// Forced inline: the loops that call these are built for several
// instruction sets, and a call out of one of them cannot be vectorized.
[[gnu::always_inline]] inline Counter bits(const Key &key, const Counter &counter)
{
    return philox4x32(counter, key);
}

// A word u is habitat at cover c when u < c * habitatStep. Words from
// acceptedLimit up are rejected and redrawn, so that the accepted words are
// uniform on 0..100 * habitatStep - 1 and a cell is habitat with
// probability exactly c / 100: cover 0 gives no habitat, cover 100 only
// habitat. A rejected word of round r is replaced by the same cell's word of
// round r + 1; a word is rejected with probability 96 / 2^32, so a map of
// ten million cells redraws about two of them.
constexpr std::uint32_t habitatStep = 42949672u;
constexpr std::uint32_t acceptedLimit = 100u * habitatStep;
constexpr int lastRedrawRound = 255;

constexpr Counter cellCounter(std::uint32_t group, std::uint32_t row, std::uint32_t replicate,
                              std::uint32_t cover, std::uint32_t round = 0)
{
    return Counter{{group, row, replicate, (cover & 0xFFu) | (round << 8)}};
}

// A surface's lattice point takes the sum of five 15-bit uniform values,
// as the classic construction adds five draws of its 15-bit generator: the
// low 15 bits of each of the four words and bits 17 to 31 of word 0. The
// sum feeds the same arithmetic either way, so only the source of the
// randomness differs between the two kinds of surface.
constexpr std::uint32_t fieldMask = 0x7FFFu;

[[gnu::always_inline]] inline std::int32_t uniformSum(const Counter &out)
{
    return std::int32_t((out.v[0] & fieldMask) + (out.v[1] & fieldMask) + (out.v[2] & fieldMask) +
                        (out.v[3] & fieldMask) + (out.v[0] >> 17));
}

constexpr Counter drawCounter(std::uint64_t drawNumber)
{
    return Counter{{std::uint32_t(drawNumber), std::uint32_t(drawNumber >> 32), 0u, 0u}};
}

[[gnu::always_inline]] inline std::int32_t surfaceDrawSum(const Key &key, std::uint64_t drawNumber)
{
    return uniformSum(bits(key, drawCounter(drawNumber)));
}

constexpr Counter fieldCounter(std::uint32_t entry, std::uint32_t replicate,
                               std::uint32_t axisHundredths, std::uint32_t cover,
                               std::uint32_t round)
{
    return Counter{{entry, replicate, axisHundredths, (cover & 0xFFu) | (round << 8)}};
}

} // namespace philox

// Loops of Philox calls are worth building for the AVX-512 units where the
// processor has them: GCC turns Random123's 32 x 32 -> 64-bit products into
// long shuffle chains with AVX2 alone, which run no faster than scalar
// code. Only integer operations are involved, so every version gives the
// same bits. The thread sanitizer instruments the load-time choice itself,
// which then runs before the sanitizer is ready, so that build does without.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) &&       \
    !defined(__SANITIZE_THREAD__)
#define PW_PHILOX_CLONES __attribute__((target_clones("arch=x86-64-v4", "default")))
#else
#define PW_PHILOX_CLONES
#endif
