// Test-only MSB-first bit writer, for building headers, side information and
// main data from chosen field values.
#ifndef MPFIX_TESTS_SUPPORT_BIT_WRITER_H
#define MPFIX_TESTS_SUPPORT_BIT_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mpfix::test {

class BitWriter {
public:
    // Appends the low `bits` bits (0..32) of value, most significant first.
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) putBit((value >> i) & 1u);
    }
    // Appends a codeword written as a string of '0' and '1'.
    void putCode(const std::string &code) {
        for (char c : code) putBit(c == '1' ? 1u : 0u);
    }
    void putBit(uint32_t bit) {
        if (bitCount_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (0x80u >> (bitCount_ % 8)));
        ++bitCount_;
    }
    // Pads with zero bits to the next byte boundary.
    void align() {
        while (bitCount_ % 8 != 0) putBit(0);
    }
    size_t bitCount() const { return bitCount_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bitCount_ = 0;
};

}  // namespace mpfix::test

#endif  // MPFIX_TESTS_SUPPORT_BIT_WRITER_H
