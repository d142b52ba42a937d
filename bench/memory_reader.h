// The read callback of the benchmarks: bytes already in memory, handed over
// as fast as the decoder asks, so that only decoding is measured.
#ifndef MPFIX_BENCH_MEMORY_READER_H
#define MPFIX_BENCH_MEMORY_READER_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace mpfix_bench {

struct Memory {
    const std::vector<uint8_t> *bytes;
    size_t position;
};

inline int32_t readMemory(uint8_t *destination, int32_t maxBytes, void *userData) {
    auto *m = static_cast<Memory *>(userData);
    const size_t n = std::min(static_cast<size_t>(maxBytes), m->bytes->size() - m->position);
    std::memcpy(destination, m->bytes->data() + m->position, n);
    m->position += n;
    return static_cast<int32_t>(n);
}

}  // namespace mpfix_bench

#endif  // MPFIX_BENCH_MEMORY_READER_H
