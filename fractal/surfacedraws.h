// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/rng/philox.h"

#include <cstdint>

// A fractal surface's draws with Philox (see core/rng/philox.h for the key;
// its size word is 0).
//
// Counter of a fractal surface's lattice point:
//   ctr[0], ctr[1]   the point's draw number, low and high word: the
//                    position at which the classic construction draws it
//   ctr[2], ctr[3]   0
//
namespace philox {

constexpr Domain fractalSurfaceDomain{0x46u};

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

} // namespace philox
