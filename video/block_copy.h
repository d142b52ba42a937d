// Copy and clear of 16-bit element arrays (the exported MPG_MemCopy16 and
// MPG_MemZero16 of mpfix.h). After at most one leading element brings the
// address to a word boundary, elements move in blocks of eight (16 bytes):
// as 32-bit words when the addresses allow, else as 16-bit elements.
#ifndef MPFIX_VIDEO_BLOCK_COPY_H
#define MPFIX_VIDEO_BLOCK_COPY_H

#include <cstdint>

#include "mpfix.h"

constexpr int32_t MPG_BLOCK_ELEMENTS = 8;  // 16-bit elements per block: 16 bytes, four words

#endif  // MPFIX_VIDEO_BLOCK_COPY_H
