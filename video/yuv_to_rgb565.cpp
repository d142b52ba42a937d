#include "video/yuv_to_rgb565.h"

#include <cstddef>
#include <cstring>

namespace {

// Entry 0 of each clamp table, indexed with the signed shifted sums.
const uint8_t *const kClamp5 = MPG_YUVClamp5.data() - MPG_CLAMP5_LOW;
const uint8_t *const kClamp6 = MPG_YUVClamp6.data() - MPG_CLAMP6_LOW;

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
// lies inside the clamp tables' ranges.
uint16_t pixel(uint8_t luma, const ChromaTerms &c) {
    const int32_t y = int32_t{luma} * 65536;
    const uint32_t r = kClamp5[(y + c.red) >> 19];
    const uint32_t g = kClamp6[(y + c.green) >> 18];
    const uint32_t b = kClamp5[(y + c.blue) >> 19];
    return static_cast<uint16_t>(r << 11 | g << 5 | b);
}

// Native 16-bit store; memcpy keeps it defined for any destination stride.
void store(uint8_t *row, int32_t x, uint16_t value) { std::memcpy(row + 2 * static_cast<ptrdiff_t>(x), &value, 2); }

// Row addresses are formed only for rows that exist, so no pointer ever
// steps past the planes, whatever the sign of the strides.
const uint8_t *rowOf(const uint8_t *plane, int32_t row, int32_t stride) {
    return plane + static_cast<ptrdiff_t>(row) * stride;
}

// One row pair from the same chroma row: per block (left, upper), (left,
// lower), (right, upper), (right, lower); an odd last column uses its own chroma.
void convertRowPair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
                    uint8_t *d1, int32_t width) {
    const int32_t pairs = width / 2;
    for (int32_t i = 0; i < pairs; ++i) {
        const ChromaTerms c = chromaTerms(u[i], v[i]);
        const int32_t x = 2 * i;
        store(d0, x, pixel(y0[x], c));
        store(d1, x, pixel(y1[x], c));
        store(d0, x + 1, pixel(y0[x + 1], c));
        store(d1, x + 1, pixel(y1[x + 1], c));
    }
    if (width % 2 != 0) {
        const ChromaTerms c = chromaTerms(u[pairs], v[pairs]);
        store(d0, width - 1, pixel(y0[width - 1], c));
        store(d1, width - 1, pixel(y1[width - 1], c));
    }
}

// The last row of an odd height, alone, two pixels per chroma sample.
void convertSingleRow(const uint8_t *y0, const uint8_t *u, const uint8_t *v, uint8_t *d0, int32_t width) {
    const int32_t pairs = width / 2;
    for (int32_t i = 0; i < pairs; ++i) {
        const ChromaTerms c = chromaTerms(u[i], v[i]);
        store(d0, 2 * i, pixel(y0[2 * i], c));
        store(d0, 2 * i + 1, pixel(y0[2 * i + 1], c));
    }
    if (width % 2 != 0) store(d0, width - 1, pixel(y0[width - 1], chromaTerms(u[pairs], v[pairs])));
}

}  // namespace

MPFIX_API int32_t MPG_YUV420ToBGR565(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides,
                                     uint16_t *destination, int32_t destinationStride, int32_t width,
                                     int32_t height) {
    // Not a picture: nothing to write.
    if (width < 1 || height < 1 || planes == nullptr || strides == nullptr || destination == nullptr) return 0;
    uint8_t *const out = reinterpret_cast<uint8_t *>(destination);

    const int32_t rowPairs = height / 2;
    for (int32_t p = 0; p < rowPairs; ++p) {
        const uint8_t *y0 = rowOf(planes->y, 2 * p, strides->y);
        uint8_t *d0 = out + static_cast<ptrdiff_t>(2 * p) * destinationStride;
        convertRowPair(y0, y0 + strides->y, rowOf(planes->u, p, strides->u), rowOf(planes->v, p, strides->v), d0,
                       d0 + destinationStride, width);
    }
    if (height % 2 != 0) {
        const int32_t last = height - 1;
        convertSingleRow(rowOf(planes->y, last, strides->y), rowOf(planes->u, last / 2, strides->u),
                         rowOf(planes->v, last / 2, strides->v),
                         out + static_cast<ptrdiff_t>(last) * destinationStride, width);
    }
    return 0;
}
