#include "video/block_copy.h"

#include <cstring>

// Every access goes through memcpy of 2 or 4 bytes: the host's arrays may be
// of any 16-bit type, and this keeps word moves free of aliasing and
// alignment faults while compiling to plain loads and stores.
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

MPFIX_API int32_t MPG_MemCopy16(const void *source, void *destination, int32_t count) {
    // A negative count is treated as 0: nothing is touched.
    if (count <= 0 || source == nullptr || destination == nullptr) return 0;
    const uint8_t *s = static_cast<const uint8_t *>(source);
    uint8_t *d = static_cast<uint8_t *>(destination);

    if (!wordAligned(s)) {
        copyElement(s, d);
        s += 2;
        d += 2;
        if (--count == 0) return 0;
    }
    // The addresses keep their alignment from block to block: choose once.
    const int32_t blocks = count / MPG_BLOCK_ELEMENTS;
    if (wordAligned(s) && wordAligned(d)) {
        for (int32_t b = 0; b < blocks; ++b, s += 16, d += 16) copyBlockWords(s, d);
    } else {
        for (int32_t b = 0; b < blocks; ++b, s += 16, d += 16) copyBlockElements(s, d);
    }
    for (int32_t i = count % MPG_BLOCK_ELEMENTS; i > 0; --i, s += 2, d += 2) copyElement(s, d);
    return 0;
}

MPFIX_API int32_t MPG_MemZero16(void *destination, int32_t count) {
    if (count <= 0 || destination == nullptr) return 0;
    uint8_t *d = static_cast<uint8_t *>(destination);

    if (!wordAligned(d)) {
        clearElement(d);
        d += 2;
        if (--count == 0) return 0;
    }
    // Four 32-bit zero stores per block.
    const uint32_t zero = 0;
    for (int32_t b = count / MPG_BLOCK_ELEMENTS; b > 0; --b, d += 16)
        for (int i = 0; i < 4; ++i) std::memcpy(d + 4 * i, &zero, 4);
    for (int32_t i = count % MPG_BLOCK_ELEMENTS; i > 0; --i, d += 2) clearElement(d);
    return 0;
}
