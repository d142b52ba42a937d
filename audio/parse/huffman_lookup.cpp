// Big-value pairs through the wide lookups of huffman_tables.h: one table
// read finishes most codewords, their signs too, the rare longer ones continue down the code
// tree from the node the lookup names. The window is topped up eight bytes at
// a time, once before a pair when fewer bits are held than its longest
// codeword and both signs take, and before an escape when fewer than it and
// the signs left need. Gives the same values and the same reader position as
// the bit-by-bit reference.
#include <bit>
#include <cstring>
#include <iterator>

#include "audio/parse/huffman_decode.h"
#include "audio/parse/huffman_tables.h"
#include "audio/words.h"

namespace mpfix {

namespace {

// Longest codeword (table 13) and its two signs.
constexpr int32_t kLongestCode = 19 + 2;

struct Window {
    uint64_t bits;  // held bits, left-aligned, zeros below
    int32_t held;

    uint32_t take(int32_t n) {  // n = 1..32
        const uint32_t value = static_cast<uint32_t>(bits >> (64 - n));
        bits <<= n;
        held -= n;
        return value;
    }
    void drop(int32_t n) {
        bits <<= n;
        held -= n;
    }
};

// Tops the window up to 57..64 bits: eight bytes at once where they all lie
// before the end, else byte by byte (zeros past the end). Either way the
// reader's position and the bits it holds are those of MP3_ReaderRefill.
[[gnu::noinline]] void refillNearEnd(MP3_BitReader *reader, Window &w) {
    reader->window = w.bits, reader->held = w.held;
    MP3_ReaderRefill(reader);
    w.bits = reader->window, w.held = reader->held;
}

inline void refill(MP3_BitReader *reader, Window &w) {
    if (reader->fetched + 8 <= reader->readable) [[likely]] {
        uint64_t next;
        std::memcpy(&next, reader->start + reader->fetched, 8);
        if constexpr (std::endian::native == std::endian::little) next = __builtin_bswap64(next);
        const int32_t bytes = (64 - w.held) >> 3;  // held < 57: 1..8
        if (bytes < 8) next &= ~(~uint64_t{0} >> (8 * bytes));
        w.bits |= next >> w.held;
        w.held += 8 * bytes;
        reader->fetched += bytes;
        return;
    }
    refillNearEnd(reader, w);
}

// A 5-bit two's-complement field.
inline int32_t signed5(uint32_t field) { return static_cast<int32_t>((field & 31u) ^ 16u) - 16; }

template <typename Node>
uint32_t walkTree(Window &w, const Node *nodes, uint32_t pointer) {
    uint32_t q = pointer >> 1;
    do {
        q = w.take(1) != 0 ? static_cast<uint32_t>(nodes[q] >> 1) : q + 1;
    } while ((nodes[q] & 1u) == 0);
    return nodes[q];
}

// Escape (value 15 with linbits) and sign of one value; `after` sign bits
// may follow it.
template <bool Escapes>
int32_t finishValue(MP3_BitReader *reader, Window &w, uint32_t magnitude, int32_t linbits, int32_t after) {
    if (magnitude == 0) return 0;
    if (Escapes && magnitude == 15) {
        if (w.held < linbits + 1 + after) refill(reader, w);
        magnitude += w.take(linbits);
    }
    const uint32_t negative = w.take(1);
    return static_cast<int32_t>((magnitude ^ (0u - negative)) + negative);
}

// Large tables keep x of a tree leaf in bits 9..6, small ones in 7..5.
template <typename Node, bool Escapes>
void decodePairs(MP3_BitReader *reader, int32_t table, int32_t *at, int32_t pairs, const Node *tree,
                 int32_t linbits) {
    constexpr int xShift = sizeof(Node) == 2 ? 6 : 5;
    constexpr uint32_t mask = sizeof(Node) == 2 ? 15u : 7u;
    const uint16_t *lookup = MP3_HuffLookup[table];
    const int32_t k = MP3_HuffLookupBits[table];
    Window w{reader->window, reader->held};  // written back at the end
    for (int32_t p = 0; p < pairs; ++p, at += 2) {
        if (w.held < kLongestCode) refill(reader, w);
        const uint32_t e = lookup[w.bits >> (64 - k)];
        uint32_t x, y;
        if ((e & 1u) != 0) {
            w.drop(static_cast<int32_t>((e >> 1) & 15u));
            if ((e & 0x8000u) == 0) {  // signs folded in: the pair is done
                at[0] = signed5(e >> 5), at[1] = signed5(e >> 10);
                continue;
            }
            x = (e >> 5) & 31u, y = (e >> 10) & 31u;
        } else {
            w.drop(k);
            const uint32_t leaf = walkTree(w, tree, e);
            x = (leaf >> xShift) & mask, y = (leaf >> 2) & mask;
        }
        at[0] = finishValue<Escapes>(reader, w, x, linbits, 1);
        at[1] = finishValue<Escapes>(reader, w, y, linbits, 0);
    }
    reader->window = w.bits, reader->held = w.held;
}

}  // namespace

void MP3_DecodeBigValues_scalar(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
    int32_t *at = *out;
    const int32_t pairs = count / 2;
    if (table >= 1 && table <= 12 && MP3_HuffSmallTables[table] != nullptr) {
        decodePairs<uint8_t, false>(reader, table, at, pairs, MP3_HuffSmallTables[table] + 16, 0);
    } else if (table >= 13 && table <= 31 && MP3_HuffLargeTables[table - 13] != nullptr) {
        const int32_t linbits = MP3_HuffLinbits[table - 13];
        const uint16_t *tree = MP3_HuffLargeTables[table - 13] + 16;
        if (linbits > 0)
            decodePairs<uint16_t, true>(reader, table, at, pairs, tree, linbits);
        else
            decodePairs<uint16_t, false>(reader, table, at, pairs, tree, 0);
    } else {  // tables 0, 4 and 14 have no codes: the region is zero
        MP3_FillWords(0, at, 2 * pairs);
    }
    *out = at + 2 * pairs;
}

namespace {

constexpr DecodeBigValuesVariant kAll[] = {
    {"ref", MP3_DecodeBigValues_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_DecodeBigValues_scalar},
#endif
};

constexpr DecodeCount1Variant kCount1[] = {
    {"ref", MP3_DecodeCount1_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_DecodeCount1_scalar},
#endif
};

}  // namespace

std::span<const DecodeBigValuesVariant> DecodeBigValuesVariants() noexcept { return {kAll, std::size(kAll)}; }
std::span<const DecodeCount1Variant> DecodeCount1Variants() noexcept { return {kCount1, std::size(kCount1)}; }

int32_t MP3_DecodeCount1(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                         int32_t budget) {
#if MPFIX_PLAIN_KERNELS
    return MP3_DecodeCount1_ref(reader, count1TableSelect, out, start, budget);
#else
    return MP3_DecodeCount1_scalar(reader, count1TableSelect, out, start, budget);
#endif
}

void MP3_DecodeBigValues(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
#if MPFIX_PLAIN_KERNELS
    MP3_DecodeBigValues_ref(reader, table, out, count);
#else
    MP3_DecodeBigValues_scalar(reader, table, out, count);
#endif
}

}  // namespace mpfix
