#pragma once
// KS X 1001 to Unicode, as the handheld's texts use it: 93 rows (lead bytes
// A1 to FD) of 94 cells (trail bytes A1 to FE), in row order. An entry is the
// character's code point, always within the Basic Multilingual Plane, or -1
// where the cell is undefined. The lead byte FE has no row here.
//
// The table is generated (ksx1001.cpp says how); do not edit it by hand.

#include <cstdint>

constexpr int kKsX1001TableSize = 8742;
extern const int32_t KsX1001Table[kKsX1001TableSize];
