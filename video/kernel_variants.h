// Where the fast variants of the video kernels are compiled. MPFIX_PLAIN_KERNELS
// builds the plain references alone.
#ifndef MPFIX_VIDEO_KERNEL_VARIANTS_H
#define MPFIX_VIDEO_KERNEL_VARIANTS_H

#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
#if defined(__x86_64__) && defined(__GNUC__)
#define MPFIX_VIDEO_X86 1  // SSE2/SSE4.1/AVX2 variants, chosen at load time
#endif
#if defined(__ARM_NEON)
#define MPFIX_VIDEO_NEON 1  // NEON variants, chosen at compile time
#endif
#endif

#endif  // MPFIX_VIDEO_KERNEL_VARIANTS_H
