// Where the fast variants of the video kernels are compiled, and the small
// list type their variant tables are built with. MPFIX_PLAIN_KERNELS builds
// the plain references alone.
#ifndef MPFIX_VIDEO_KERNEL_VARIANTS_H
#define MPFIX_VIDEO_KERNEL_VARIANTS_H

#include <array>
#include <cstddef>
#include <span>

#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
#if defined(__x86_64__) && defined(__GNUC__)
#define MPFIX_VIDEO_X86 1  // SSE2/SSE4.1/AVX2 variants, chosen at load time
#endif
#if defined(__ARM_NEON)
#define MPFIX_VIDEO_NEON 1  // NEON variants, chosen at compile time
#endif
#endif

namespace mpfix {

// At most kCapacity variants, reference first, filled once by the caller's
// function-local static initialiser.
template <typename Variant, size_t kCapacity>
struct VariantList {
    std::array<Variant, kCapacity> items{};
    size_t count = 0;

    constexpr void add(const Variant &v) { items[count++] = v; }
    constexpr std::span<const Variant> view() const { return {items.data(), count}; }
};

}  // namespace mpfix

#endif  // MPFIX_VIDEO_KERNEL_VARIANTS_H
