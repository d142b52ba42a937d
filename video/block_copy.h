// Copy and clear of 16-bit element arrays (the exported MPG_MemCopy16 and
// MPG_MemZero16 of mpfix.h). The references move elements in blocks of
// eight (16 bytes) after at most one leading element brings the address to a
// word boundary: as 32-bit words when the addresses allow, else as 16-bit
// elements. The variants move the same bytes for every valid call
// (non-overlapping arrays), faster: short arrays inline in 16-byte pieces,
// longer ones through the C library's memcpy and memset.
#ifndef MPFIX_VIDEO_BLOCK_COPY_H
#define MPFIX_VIDEO_BLOCK_COPY_H

#include <cstdint>
#include <span>

#include "mpfix.h"
#include "video/kernel_variants.h"

namespace mpfix {

constexpr int32_t MPG_BLOCK_ELEMENTS = 8;  // 16-bit elements per block: 16 bytes, four words

// count elements; a count of 0 or below touches nothing.
using MemCopy16Fn = void (*)(const void *source, void *destination, int32_t count);
using MemZero16Fn = void (*)(void *destination, int32_t count);

void MPG_MemCopy16_ref(const void *source, void *destination, int32_t count);
void MPG_MemZero16_ref(void *destination, int32_t count);
#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
void MPG_MemCopy16_libc(const void *source, void *destination, int32_t count);
void MPG_MemZero16_libc(void *destination, int32_t count);
#endif

struct MemCopy16Variant {
    const char *name;
    MemCopy16Fn fn;
};
struct MemZero16Variant {
    const char *name;
    MemZero16Fn fn;
};

// Every variant, the reference first and the one the exported functions use last.
std::span<const MemCopy16Variant> MemCopy16Variants() noexcept;
std::span<const MemZero16Variant> MemZero16Variants() noexcept;

}  // namespace mpfix

#endif  // MPFIX_VIDEO_BLOCK_COPY_H
