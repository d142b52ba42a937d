#include "video/block_copy.h"

#include <cstddef>
#include <cstring>

namespace mpfix {

// Every access of the references goes through memcpy of 2 or 4 bytes: the
// host's arrays may be of any 16-bit type, and this keeps word moves free of
// aliasing and alignment faults while compiling to plain loads and stores.
namespace {

bool wordAligned(const void *address) { return (reinterpret_cast<uintptr_t>(address) & 3u) == 0; }

void copyElement(const uint8_t *source, uint8_t *destination) {
    uint16_t e;
    std::memcpy(&e, source, 2);
    std::memcpy(destination, &e, 2);
}

void clearElement(uint8_t *destination) {
    const uint16_t zero = 0;
    std::memcpy(destination, &zero, 2);
}

// Eight elements as four words: all four loaded, then all four stored.
void copyBlockWords(const uint8_t *source, uint8_t *destination) {
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) std::memcpy(&w[i], source + 4 * i, 4);
    for (int i = 0; i < 4; ++i) std::memcpy(destination + 4 * i, &w[i], 4);
}

// Eight elements as 16-bit transfers: four loads then four stores, twice.
void copyBlockElements(const uint8_t *source, uint8_t *destination) {
    for (int half = 0; half < 2; ++half, source += 8, destination += 8) {
        uint16_t e[4];
        for (int i = 0; i < 4; ++i) std::memcpy(&e[i], source + 2 * i, 2);
        for (int i = 0; i < 4; ++i) std::memcpy(destination + 2 * i, &e[i], 2);
    }
}

}  // namespace

void MPG_MemCopy16_ref(const void *source, void *destination, int32_t count) {
    if (count <= 0) return;
    const uint8_t *s = static_cast<const uint8_t *>(source);
    uint8_t *d = static_cast<uint8_t *>(destination);

    if (!wordAligned(s)) {
        copyElement(s, d);
        s += 2;
        d += 2;
        if (--count == 0) return;
    }
    // The addresses keep their alignment from block to block: choose once.
    const int32_t blocks = count / MPG_BLOCK_ELEMENTS;
    if (wordAligned(s) && wordAligned(d)) {
        for (int32_t b = 0; b < blocks; ++b, s += 16, d += 16) copyBlockWords(s, d);
    } else {
        for (int32_t b = 0; b < blocks; ++b, s += 16, d += 16) copyBlockElements(s, d);
    }
    for (int32_t i = count % MPG_BLOCK_ELEMENTS; i > 0; --i, s += 2, d += 2) copyElement(s, d);
}

void MPG_MemZero16_ref(void *destination, int32_t count) {
    if (count <= 0) return;
    uint8_t *d = static_cast<uint8_t *>(destination);

    if (!wordAligned(d)) {
        clearElement(d);
        d += 2;
        if (--count == 0) return;
    }
    // Four 32-bit zero stores per block.
    const uint32_t zero = 0;
    for (int32_t b = count / MPG_BLOCK_ELEMENTS; b > 0; --b, d += 16)
        for (int i = 0; i < 4; ++i) std::memcpy(d + 4 * i, &zero, 4);
    for (int32_t i = count % MPG_BLOCK_ELEMENTS; i > 0; --i, d += 2) clearElement(d);
}

#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
namespace {

// Up to kShort bytes move inline, in 16-byte pieces (the last one may
// overlap the one before it, rewriting the same values), which spares short
// calls the trip into the C library; longer arrays go to memcpy and memset.
constexpr size_t kShort = 256;

template <size_t N>
void movePiece(uint8_t *d, const uint8_t *s) {
    uint8_t piece[N];
    std::memcpy(piece, s, N);
    std::memcpy(d, piece, N);
}

template <size_t N>
void clearPiece(uint8_t *d) {
    std::memset(d, 0, N);
}

// n is even and at least 2.
void copyBytes(uint8_t *d, const uint8_t *s, size_t n) {
    if (n > kShort) {
        std::memcpy(d, s, n);
    } else if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) movePiece<16>(d + i, s + i);
        movePiece<16>(d + n - 16, s + n - 16);
    } else if (n >= 8) {
        movePiece<8>(d, s);
        movePiece<8>(d + n - 8, s + n - 8);
    } else if (n >= 4) {
        movePiece<4>(d, s);
        movePiece<4>(d + n - 4, s + n - 4);
    } else {
        movePiece<2>(d, s);
    }
}

void clearBytes(uint8_t *d, size_t n) {
    if (n > kShort) {
        std::memset(d, 0, n);
    } else if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) clearPiece<16>(d + i);
        clearPiece<16>(d + n - 16);
    } else if (n >= 8) {
        clearPiece<8>(d);
        clearPiece<8>(d + n - 8);
    } else if (n >= 4) {
        clearPiece<4>(d);
        clearPiece<4>(d + n - 4);
    } else {
        clearPiece<2>(d);
    }
}

}  // namespace

void MPG_MemCopy16_libc(const void *source, void *destination, int32_t count) {
    if (count > 0)
        copyBytes(static_cast<uint8_t *>(destination), static_cast<const uint8_t *>(source),
                  2 * static_cast<size_t>(count));
}

void MPG_MemZero16_libc(void *destination, int32_t count) {
    if (count > 0) clearBytes(static_cast<uint8_t *>(destination), 2 * static_cast<size_t>(count));
}
#endif

std::span<const MemCopy16Variant> MemCopy16Variants() noexcept {
    static constexpr MemCopy16Variant list[] = {
        {"ref", MPG_MemCopy16_ref},
#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
        {"libc", MPG_MemCopy16_libc},
#endif
    };
    return list;
}

std::span<const MemZero16Variant> MemZero16Variants() noexcept {
    static constexpr MemZero16Variant list[] = {
        {"ref", MPG_MemZero16_ref},
#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
        {"libc", MPG_MemZero16_libc},
#endif
    };
    return list;
}

}  // namespace mpfix

// The choice is fixed at build time: the last variant of each list, called
// directly so that short copies pay no dispatch.
#if !defined(MPFIX_PLAIN_KERNELS) || MPFIX_PLAIN_KERNELS == 0
#define MPFIX_COPY16 mpfix::MPG_MemCopy16_libc
#define MPFIX_ZERO16 mpfix::MPG_MemZero16_libc
#else
#define MPFIX_COPY16 mpfix::MPG_MemCopy16_ref
#define MPFIX_ZERO16 mpfix::MPG_MemZero16_ref
#endif

MPFIX_API int32_t MPG_MemCopy16(const void *source, void *destination, int32_t count) {
    if (source == nullptr || destination == nullptr) return MP3_ERR_PARAM;
    // A negative count is not a valid call: it touches nothing.
    MPFIX_COPY16(source, destination, count);
    return 0;
}

MPFIX_API int32_t MPG_MemZero16(void *destination, int32_t count) {
    if (destination == nullptr) return MP3_ERR_PARAM;
    MPFIX_ZERO16(destination, count);
    return 0;
}
