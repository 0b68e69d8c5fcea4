// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The sum of the distances from the cells of one run to its patch's
// centroid, added to the patch's two lanes: the k-th cell of the run goes to
// lane k % 2, and a patch's runs come in the order of the map. Both
// measurers sum a patch this way, so that the manifest's gyration and the
// long table's are made of the same sums; the order is fixed so that the
// vector and the plain code give the same bits, and a lane past the end of
// the run adds +0, which changes no sum of distances.
//
// Inline, for the loops over every run; the files that include it are built
// without fused multiply-add (core/CMakeLists.txt), which would round the
// squares differently on some targets.
inline void addRunDistances(std::int32_t start, std::int32_t end, double centreColumn, double dy,
                            double lanes[2])
{
    const double dy2 = dy * dy;
#if defined(__SSE2__)
    const __m128d dy2s = _mm_set1_pd(dy2);
    const __m128d centre = _mm_set1_pd(centreColumn);
    const __m128d last = _mm_set1_pd(double(end));
    __m128d sums = _mm_loadu_pd(lanes);
    // A run has at least one cell.
    std::int32_t c = start;
    do {
        const __m128d x = _mm_cvtepi32_pd(_mm_setr_epi32(c, c + 1, 0, 0));
        const __m128d dx = _mm_sub_pd(x, centre);
        const __m128d d = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), dy2s));
        sums = _mm_add_pd(sums, _mm_and_pd(d, _mm_cmple_pd(x, last)));
        c += 2;
    } while (c <= end);
    _mm_storeu_pd(lanes, sums);
#else
    for (std::int32_t c = start; c <= end; ++c) {
        const double dx = double(c) - centreColumn;
        lanes[(c - start) % 2] += std::sqrt(dx * dx + dy2);
    }
#endif
}
