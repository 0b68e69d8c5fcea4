// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the randomness of a map or a surface comes from. Classic is the
// 15-bit generator drawn in one running sequence, which every earlier map
// and surface was made with and which stays the default; Philox draws every
// cell or lattice point from its own counter, so that replicates are
// independent and any one of them can be made alone. See core/philox.h.
enum class Generator { Classic, Philox };

// How a fractal surface becomes maps. Ladder cuts every surface at the
// fixed thresholds 0.10, 0.11, ... 0.89 and keeps the cuts whose whole
// percentage is a requested cover, as every earlier fractal map was made.
// Exact cuts each surface once per requested cover at the value that leaves
// exactly round(cover * cells / 100) cells above it.
enum class FractalCut { Ladder, Exact };
