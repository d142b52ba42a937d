#include "video/yuv_to_rgb565.h"

#include <cstddef>
#include <cstring>

namespace mpfix {
namespace {

// The three chroma products of one 2x2 block, formed once for its four pixels.
struct ChromaTerms {
    int32_t red;
    int32_t green;
    int32_t blue;
};

ChromaTerms chromaTerms(uint8_t cb, uint8_t cr) {
    const int32_t u = int32_t{cb} - 128;
    const int32_t v = int32_t{cr} - 128;
    return {v * MPG_YUVCoefficients[0], u * MPG_YUVCoefficients[1] + v * MPG_YUVCoefficients[2],
            u * MPG_YUVCoefficients[3]};
}

// Floor shifts without rounding; every sum fits in 32 bits and every index
// lies inside the clamp tables' ranges (entry 0 sits at -low).
uint16_t pixel(uint8_t luma, const ChromaTerms &c) {
    const int32_t y = int32_t{luma} * 65536;
    const uint32_t r = MPG_YUVClamp5[static_cast<size_t>(((y + c.red) >> 19) - MPG_CLAMP5_LOW)];
    const uint32_t g = MPG_YUVClamp6[static_cast<size_t>(((y + c.green) >> 18) - MPG_CLAMP6_LOW)];
    const uint32_t b = MPG_YUVClamp5[static_cast<size_t>(((y + c.blue) >> 19) - MPG_CLAMP5_LOW)];
    return static_cast<uint16_t>(r << 11 | g << 5 | b);
}

// Native 16-bit store; memcpy keeps it defined for any destination stride.
void store(uint8_t *row, int32_t x, uint16_t value) { std::memcpy(row + 2 * static_cast<ptrdiff_t>(x), &value, 2); }

// Row addresses are formed only for rows that exist, so no pointer ever
// steps past the planes, whatever the sign of the strides.
const uint8_t *rowOf(const uint8_t *plane, int32_t row, int32_t stride) {
    return plane + static_cast<ptrdiff_t>(row) * stride;
}

}  // namespace

// Per 2x2 block: (left, upper), (left, lower), (right, upper), (right, lower);
// an odd last column uses its own chroma. A single row goes left to right.
void MPG_YUVRows_ref(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
                     uint8_t *d1, int32_t first, int32_t width) {
    for (int32_t x = first; x < width; x += 2) {
        const ChromaTerms c = chromaTerms(u[x / 2], v[x / 2]);
        store(d0, x, pixel(y0[x], c));
        if (y1 != nullptr) store(d1, x, pixel(y1[x], c));
        if (x + 1 == width) break;
        store(d0, x + 1, pixel(y0[x + 1], c));
        if (y1 != nullptr) store(d1, x + 1, pixel(y1[x + 1], c));
    }
}

void MPG_YUVWalk(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                 int32_t destinationStride, int32_t width, int32_t height, YUVRowsFn rows) {
    uint8_t *const out = reinterpret_cast<uint8_t *>(destination);
    const int32_t rowPairs = height / 2;
    for (int32_t p = 0; p < rowPairs; ++p) {
        const uint8_t *y0 = rowOf(planes->y, 2 * p, strides->y);
        uint8_t *d0 = out + static_cast<ptrdiff_t>(2 * p) * destinationStride;
        rows(y0, y0 + strides->y, rowOf(planes->u, p, strides->u), rowOf(planes->v, p, strides->v), d0,
             d0 + destinationStride, 0, width);
    }
    if (height % 2 != 0) {
        const int32_t last = height - 1;
        rows(rowOf(planes->y, last, strides->y), nullptr, rowOf(planes->u, last / 2, strides->u),
             rowOf(planes->v, last / 2, strides->v), out + static_cast<ptrdiff_t>(last) * destinationStride,
             nullptr, 0, width);
    }
}

void MPG_YUV420ToBGR565_ref(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides, uint16_t *destination,
                            int32_t destinationStride, int32_t width, int32_t height) {
    MPG_YUVWalk(planes, strides, destination, destinationStride, width, height, MPG_YUVRows_ref);
}

// The lists are constant data (no initialisation at run time); the processor
// picks one. SSE2 is part of x86-64.
std::span<const YUV420ToBGR565Variant> YUV420ToBGR565Variants() noexcept {
    static constexpr YUV420ToBGR565Variant kRef = {"ref", MPG_YUV420ToBGR565_ref};
#if defined(MPFIX_VIDEO_X86)
    static constexpr YUV420ToBGR565Variant kAll[] = {
        kRef, {"sse2", MPG_YUV420ToBGR565_sse2}, {"avx2", MPG_YUV420ToBGR565_avx2}};
    return std::span<const YUV420ToBGR565Variant>(kAll).first(__builtin_cpu_supports("avx2") ? 3 : 2);
#elif defined(MPFIX_VIDEO_NEON)
    static constexpr YUV420ToBGR565Variant kAll[] = {kRef, {"neon", MPG_YUV420ToBGR565_neon}};
    return kAll;
#else
    return std::span(&kRef, 1);
#endif
}

}  // namespace mpfix

MPFIX_API int32_t MPG_YUV420ToBGR565(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides,
                                     uint16_t *destination, int32_t destinationStride, int32_t width,
                                     int32_t height) {
    if (planes == nullptr || strides == nullptr || destination == nullptr || planes->y == nullptr ||
        planes->u == nullptr || planes->v == nullptr)
        return MP3_ERR_PARAM;
    // Not a picture: nothing to write.
    if (width < 1 || height < 1) return 0;
    static const mpfix::YUV420ToBGR565Fn best = mpfix::YUV420ToBGR565Variants().back().fn;
    best(planes, strides, destination, destinationStride, width, height);
    return 0;
}
