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
// What this file fixes is the key: which word holds what. Changing any of
// it changes every map and surface a user may have to remake, so it is
// written down here once; each family that draws from Philox writes down the
// layout of its counter beside its generator, under a domain tag of its own.
//
// Key:
//   key[0]           the seed, its bits taken unchanged
//   key[1] bits 24+  the family's domain tag, so that the maps and surfaces
//                    of two families of the same seed never share a draw
//   key[1] bits 0-23 the map size for a family whose draws depend on it (up
//                    to 16,777,215), 0 for the others
namespace philox {

using Key = philox4x32_key_t;
using Counter = philox4x32_ctr_t;

// A family's domain tag: each family that draws from Philox names its own,
// distinct from every other's.
enum class Domain : std::uint32_t {};

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
