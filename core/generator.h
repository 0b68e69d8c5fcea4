#pragma once

// Where the randomness of a map or a surface comes from. Classic is the
// 15-bit generator drawn in one running sequence, which every earlier map
// and surface was made with and which stays the default; Philox draws every
// cell or lattice point from its own counter, so that replicates are
// independent and any one of them can be made alone. See random/philox.h.
enum class Generator { Classic, Philox };
