// The fixed-point vocabulary shared by every audio stage. Wrapping and
// rounding are written once here, so every "high product" or "high word of a
// 64-bit sum" means the same thing everywhere (and a SIMD version has one
// model to match). All wrapping goes through unsigned types: no signed
// overflow, whatever the input.
#ifndef MPFIX_AUDIO_FIXED_POINT_H
#define MPFIX_AUDIO_FIXED_POINT_H

#include <cstdint>

namespace mpfix {

// 32-bit add, subtract, negate and left shift, wrapping modulo 2^32.
constexpr int32_t wrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
constexpr int32_t wrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
constexpr int32_t wrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
constexpr int32_t wrapShl(int32_t a, int shift) { return static_cast<int32_t>(static_cast<uint32_t>(a) << shift); }

// Exact 64-bit product of two 32-bit values (never overflows).
constexpr int64_t mul64(int32_t a, int32_t b) { return static_cast<int64_t>(a) * b; }

// High product: floor(a * b / 2^32), the upper word of the exact product.
constexpr int32_t mulHigh(int32_t a, int32_t b) { return static_cast<int32_t>(mul64(a, b) >> 32); }

// A 64-bit multiply-accumulate register that wraps modulo 2^64, as a
// hardware accumulator does, so sums of many large products stay defined.
struct Acc64 {
    uint64_t bits = 0;
    constexpr void mac(int32_t a, int32_t b) { bits += static_cast<uint64_t>(mul64(a, b)); }
    constexpr void msub(int32_t a, int32_t b) { bits -= static_cast<uint64_t>(mul64(a, b)); }
    constexpr int64_t value() const { return static_cast<int64_t>(bits); }
    // floor(sum / 2^32)
    constexpr int32_t high() const { return static_cast<int32_t>(value() >> 32); }
};

// Clamp to the signed 16-bit range.
constexpr int32_t clamp16(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FIXED_POINT_H
