// Big-value pairs and count1 quadruples through the wide lookups of
// huffman_tables.h: one table read finishes most codewords with their signs,
// a second read the longer ones; escapes and the signs left follow. The bit
// window lives in registers, a 64-bit or a 32-bit word (the one that shifts
// in single instructions on the machine), topped up with a whole word at a
// time. Gives the same values and the same reader position as the
// bit-by-bit references.
#include <bit>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "audio/parse/huffman_decode.h"
#include "audio/parse/huffman_tables.h"
#include "audio/stream_constants.h"
#include "audio/words.h"

namespace mpfix {

namespace {

// Bits a big-value pair can take before its escapes: the longest codeword
// (19 bits, table 13) and two signs; 11 + 2 in the small tables.
constexpr int32_t kLongestLargePair = 19 + 2;
constexpr int32_t kLongestSmallPair = 11 + 2;

// A window's bits, valid bits and bytes taken.
template <typename Word>
struct Loaded {
    Word bits;
    int32_t held;
    ptrdiff_t fetched;
};

// The bytes from fetched on, one at a time, zeros past the end, until more
// than kBits - 8 bits are held: the top-up near the end of the bytes.
template <typename Word>
inline Loaded<Word> loadNearEnd(const uint8_t *start, ptrdiff_t readable, Loaded<Word> w) {
    constexpr int32_t kBits = 8 * sizeof(Word);
    while (w.held <= kBits - 8) {
        const Word b = w.fetched < readable ? start[w.fetched] : 0u;
        w.bits |= static_cast<Word>(b << (kBits - 8 - w.held));
        w.held += 8;
        ++w.fetched;
    }
    return w;
}

// The window: held bits left-aligned in bits; below them either zeros or the
// stream's next bits (a whole-word load puts them there), so OR-ing the same
// bytes in again changes nothing. Holds what an MP3_BitReader at the same
// position holds, at most a word of it.
template <typename Word>
struct Window {
    static constexpr int32_t kBits = 8 * sizeof(Word);
    const uint8_t *start;
    ptrdiff_t readable;  // bytes from start to the end
    ptrdiff_t lastLoad;  // the last byte index a whole word can be loaded from
    ptrdiff_t fetched;   // bytes taken into bits
    int32_t held;        // valid bits in bits, 0..kBits
    Word bits;

    explicit Window(const MP3_BitReader *reader)
        : start(reader->start), readable(reader->readable),
          lastLoad(readable - static_cast<ptrdiff_t>(sizeof(Word))), fetched(reader->fetched), held(reader->held),
          bits(static_cast<Word>(reader->window >> (64 - kBits))) {
        if (held > kBits) {  // give whole bytes back
            const int32_t extra = (held - kBits + 7) >> 3;
            held -= 8 * extra;
            fetched -= extra;
        }
    }
    void store(MP3_BitReader *reader) const {
        reader->fetched = static_cast<int32_t>(fetched);
        reader->held = held;
        reader->window = static_cast<uint64_t>(bits) << (64 - kBits);
    }
    int32_t position() const { return static_cast<int32_t>(8 * fetched) - held; }

    // Tops the window up to kBits - 8 or more bits (held must be below kBits).
    [[gnu::always_inline]] void refill() {
        if (fetched <= lastLoad) [[likely]] {
            Word next;
            std::memcpy(&next, start + fetched, sizeof next);
            if constexpr (std::endian::native == std::endian::little) next = byteSwap(next);
            bits |= next >> held;
            fetched += (kBits - 1 - held) >> 3;
            held |= kBits - 8;  // held + 8 x the bytes taken
            return;
        }
        const Loaded<Word> w = loadNearEnd<Word>(start, readable, {bits, held, fetched});
        bits = w.bits, held = w.held, fetched = w.fetched;
    }
    [[gnu::always_inline]] void need(int32_t n) {  // n <= kBits - 8
        if (held < n) refill();
    }
    // The next n bits (1..kBits - 8) without taking them; they must be held.
    [[gnu::always_inline]] uint32_t peek(uint32_t n) const { return static_cast<uint32_t>(bits >> (kBits - n)); }
    [[gnu::always_inline]] void drop(uint32_t n) {  // n held bits, 0..kBits - 1
        bits = static_cast<Word>(bits << n);
        held -= static_cast<int32_t>(n);
    }
    [[gnu::always_inline]] uint32_t take(uint32_t n) {
        const uint32_t value = peek(n);
        drop(n);
        return value;
    }
    // Takes one bit: -1 for a 1, 0 for a 0.
    [[gnu::always_inline]] int32_t takeSign() {
        const auto top = static_cast<std::make_signed_t<Word>>(bits) >> (kBits - 1);
        drop(1);
        return static_cast<int32_t>(top);
    }
    // Moves to a position (bits from start, 0 .. 8 x readable).
    void seek(int32_t target) {
        fetched = target >> 3;
        held = 0;
        bits = 0;
        refill();
        drop(static_cast<uint32_t>(target & 7));
    }

    static Word byteSwap(Word v) {
        if constexpr (sizeof(Word) == 8)
            return __builtin_bswap64(v);
        else
            return __builtin_bswap32(v);
    }
};

// Fields of the wide lookup entries (huffman_tables.h), read from the entry
// as a signed 16-bit value.
constexpr int32_t kNotFolded = 0x20, kSubtable = 0x40;
inline int32_t foldedX(int32_t e) { return static_cast<int32_t>(static_cast<uint32_t>(e) << 21) >> 27; }
inline int32_t foldedY(int32_t e) { return e >> 11; }
inline uint32_t takenBits(int32_t e) { return static_cast<uint32_t>(e) & 31u; }

// Escape (magnitude 15 in a table with linbits) and sign of a value whose
// codeword was taken; `after` sign bits may follow the value.
template <bool Escapes, typename Word>
[[gnu::always_inline]] inline int32_t finishValue(Window<Word> &w, uint32_t magnitude, uint32_t linbits,
                                                  int32_t after) {
    if (magnitude == 0) return 0;
    if (Escapes && magnitude == 15) {
        w.need(static_cast<int32_t>(linbits) + 1 + after);
        magnitude += w.take(linbits);
    }
    const int32_t sign = w.takeSign();
    return (static_cast<int32_t>(magnitude) ^ sign) - sign;
}

// A pair whose first-level entry is not a folded codeword: a subtable read
// for the longer codewords, then the signs and escapes that follow. Leaves
// at least K bits held for the next pair. The entry is read again after the
// top-up (its bits stay where they were); the empty asm hides from the
// compiler that the bits may not have changed, so the common path need not
// keep a copy of the first read for this one.
template <typename Word, int32_t K, bool Escapes>
[[gnu::always_inline]] inline void slowPair(Window<Word> &w, const uint16_t *lookup, uint32_t linbits, int32_t *at) {
    constexpr int32_t longest = K == MP3_HUFF_LARGE_LOOKUP_BITS ? kLongestLargePair : kLongestSmallPair;
    w.need(longest);
    asm("" : "+r"(w.bits));
    int32_t e = static_cast<int16_t>(lookup[w.peek(K)]);
    if ((e & kSubtable) != 0) {
        w.drop(K);
        const uint32_t sub = (1u << K) + 2 * (static_cast<uint32_t>(e) >> 7 & 511u);
        e = static_cast<int16_t>(lookup[sub + w.peek(static_cast<uint32_t>(e) & 15u)]);
        if ((e & kNotFolded) == 0) {
            w.drop(takenBits(e));
            at[0] = foldedX(e), at[1] = foldedY(e);
            w.need(K);
            return;
        }
    }
    w.drop(takenBits(e));
    at[0] = finishValue<Escapes>(w, static_cast<uint32_t>(e) >> 8 & 15u, linbits, 1);
    at[1] = finishValue<Escapes>(w, static_cast<uint32_t>(e) >> 12 & 15u, linbits, 0);
    w.need(K);
}

// One pair with at least K bits held.
template <typename Word, int32_t K, bool Escapes>
[[gnu::always_inline]] inline void pair(Window<Word> &w, const uint16_t *lookup, uint32_t linbits, int32_t *at) {
    const int32_t e = static_cast<int16_t>(lookup[w.peek(K)]);
    if ((e & kNotFolded) == 0) [[likely]] {  // codeword and signs: the pair is done
        w.drop(takenBits(e));
        at[0] = foldedX(e), at[1] = foldedY(e);
        return;
    }
    slowPair<Word, K, Escapes>(w, lookup, linbits, at);
}

// count / 2 pairs with the wide lookup of one table: K index bits, escapes
// of linbits bits where Escapes is set. Two pairs to a top-up check: the
// first takes at most K bits or leaves K held.
template <typename Word, int32_t K, bool Escapes>
[[gnu::always_inline]] inline void decodePairs(MP3_BitReader *reader, const uint16_t *lookup, int32_t *at,
                                               int32_t pairs, uint32_t linbits) {
    Window<Word> w(reader);
    for (int32_t *const end = at + 2 * (pairs & ~1); at != end; at += 4) {
        w.need(2 * K);
        pair<Word, K, Escapes>(w, lookup, linbits, at);
        pair<Word, K, Escapes>(w, lookup, linbits, at + 2);
    }
    if ((pairs & 1) != 0) {
        w.need(K);
        pair<Word, K, Escapes>(w, lookup, linbits, at);
    }
    w.store(reader);
}

template <typename Word>
[[gnu::always_inline]] inline void bigValues(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
    int32_t *at = *out;
    const int32_t pairs = count / 2;
    const uint16_t *lookup = table >= 1 && table <= 31 ? MP3_HuffLookup[table] : nullptr;
    if (lookup == nullptr) {  // tables 0, 4 and 14 have no codes: the region is zero
        MP3_FillWords(0, at, 2 * pairs);
    } else if (table <= 12) {
        decodePairs<Word, MP3_HUFF_SMALL_LOOKUP_BITS, false>(reader, lookup, at, pairs, 0);
    } else if (const uint32_t linbits = MP3_HuffLinbits[table - 13]; linbits > 0) {
        decodePairs<Word, MP3_HUFF_LARGE_LOOKUP_BITS, true>(reader, lookup, at, pairs, linbits);
    } else {
        decodePairs<Word, MP3_HUFF_LARGE_LOOKUP_BITS, false>(reader, lookup, at, pairs, 0);
    }
    *out = at + 2 * pairs;
}

// Quadruples from a lookup by K bits while bits remain and four values fit.
template <typename Word, int32_t K>
[[gnu::always_inline]] inline int32_t decodeQuads(MP3_BitReader *reader, const uint16_t *lookup, int32_t *out,
                                                  int32_t start, int32_t budget) {
    int32_t i = start < 0 ? 0 : (start > MP3_GRANULE_LINES ? MP3_GRANULE_LINES : start);
    int32_t remaining = budget < 0 ? 0 : budget;
    Window<Word> w(reader);
    const int32_t entry = w.position();
    while (remaining > 0 && i <= MP3_GRANULE_LINES - 4) {
        w.need(K);
        const uint32_t e = lookup[w.peek(K)];
        w.drop(e & 15u);
        remaining -= static_cast<int32_t>(e & 15u);
        std::memcpy(out + i, MP3_Count1Quads[e >> 4], sizeof MP3_Count1Quads[0]);
        i += 4;
    }
    if (remaining < 0) i -= 4;  // the last quadruple ran past the granule's bits
    if (remaining != 0) {       // to the end of the granule's bits, inside the bytes
        const int64_t target = static_cast<int64_t>(entry) + (budget < 0 ? 0 : budget);
        const int64_t last = 8 * static_cast<int64_t>(w.readable);
        w.seek(static_cast<int32_t>(target < last ? target : last));
    }
    w.store(reader);
    return MP3_Count1Tail(out, i);
}

template <typename Word>
[[gnu::always_inline]] inline int32_t count1(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out,
                                             int32_t start, int32_t budget) {
    if (count1TableSelect == 0) return decodeQuads<Word, 10>(reader, MP3_Count1LookupA, out, start, budget);
    return decodeQuads<Word, 8>(reader, MP3_Count1LookupB, out, start, budget);
}

}  // namespace

void MP3_DecodeBigValues_scalar(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
    bigValues<uint64_t>(reader, table, out, count);
}
void MP3_DecodeBigValues_scalar32(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
    bigValues<uint32_t>(reader, table, out, count);
}
int32_t MP3_DecodeCount1_scalar(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                                int32_t budget) {
    return count1<uint64_t>(reader, count1TableSelect, out, start, budget);
}
int32_t MP3_DecodeCount1_scalar32(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                                  int32_t budget) {
    return count1<uint32_t>(reader, count1TableSelect, out, start, budget);
}

namespace {

constexpr DecodeBigValuesVariant kAll[] = {
    {"ref", MP3_DecodeBigValues_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_DecodeBigValues_scalar},
    {"scalar32", MP3_DecodeBigValues_scalar32},
#endif
};

constexpr DecodeCount1Variant kCount1[] = {
    {"ref", MP3_DecodeCount1_ref},
#if !MPFIX_PLAIN_KERNELS
    {"scalar", MP3_DecodeCount1_scalar},
    {"scalar32", MP3_DecodeCount1_scalar32},
#endif
};

// The window that shifts in single instructions: 64 bits on 64-bit machines.
constexpr bool kWideWindow = sizeof(void *) >= 8;

}  // namespace

std::span<const DecodeBigValuesVariant> DecodeBigValuesVariants() noexcept { return {kAll, std::size(kAll)}; }
std::span<const DecodeCount1Variant> DecodeCount1Variants() noexcept { return {kCount1, std::size(kCount1)}; }

int32_t MP3_DecodeCount1(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                         int32_t budget) {
#if MPFIX_PLAIN_KERNELS
    return MP3_DecodeCount1_ref(reader, count1TableSelect, out, start, budget);
#else
    if constexpr (kWideWindow) return MP3_DecodeCount1_scalar(reader, count1TableSelect, out, start, budget);
    return MP3_DecodeCount1_scalar32(reader, count1TableSelect, out, start, budget);
#endif
}

void MP3_DecodeBigValues(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
#if MPFIX_PLAIN_KERNELS
    MP3_DecodeBigValues_ref(reader, table, out, count);
#else
    if constexpr (kWideWindow)
        MP3_DecodeBigValues_scalar(reader, table, out, count);
    else
        MP3_DecodeBigValues_scalar32(reader, table, out, count);
#endif
}

}  // namespace mpfix
