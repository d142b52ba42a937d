// Huffman decoding of the spectral values of one granule and channel (part 3
// of the Layer III main data).
#ifndef MPFIX_AUDIO_PARSE_HUFFMAN_DECODE_H
#define MPFIX_AUDIO_PARSE_HUFFMAN_DECODE_H

#include <cstdint>
#include <span>

#include "audio/bit_reader.h"
#include "audio/granule_context.h"
#include "mpfix.h"

namespace mpfix {

// Decodes 576 quantized values of one channel at the context's cursor into
// out (bitstream order; magnitudes at most 8206) and stores in *nonzeroBound
// one past the last nonzero one. huffmanBits is part2_3_length minus the bits
// the scalefactors took. The context's band rows place the region
// boundaries. On success the cursor ends exactly huffmanBits after its
// position on entry (or at its end, past which every read yields 0).
// Returns 0 or MP3_ERR_PARAM: for a field out of range nothing is written and
// the cursor is unchanged; for big values that overrun huffmanBits they stand
// in out and the cursor is past them.
int32_t MP3_DecodeSpectrum(MP3_GranuleContext *context, int32_t *out, int32_t *nonzeroBound,
                           const MP3_GranuleInfo *granule, int32_t huffmanBits);

// Decodes count values (even) as pairs with table_select table (0..31) and
// advances *out past them. Tables 0, 4 and 14 store zeros and read nothing.
// It runs the best variant below.
void MP3_DecodeBigValues(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count);

// The reference walks the code tree bit by bit past the four-bit first level;
// the scalar variants finish every codeword with one or two reads of the wide
// lookups, holding the bits in a 64-bit or (scalar32) a 32-bit window. All
// give the same values and leave the reader at the same bit.
void MP3_DecodeBigValues_ref(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count);
void MP3_DecodeBigValues_scalar(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count);
void MP3_DecodeBigValues_scalar32(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count);
using DecodeBigValuesFn = void (*)(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count);
struct DecodeBigValuesVariant {
    const char *name;
    DecodeBigValuesFn fn;
};
// Every variant, the reference first.
std::span<const DecodeBigValuesVariant> DecodeBigValuesVariants() noexcept;

// Decodes count1 quadruples from index start while the bit budget (at least
// 0) lasts and all four values fit below 576; drops a last quadruple that ends
// past the budget, leaves the reader exactly budget bits after its position
// on entry, zeroes the rest and returns one past the last nonzero value.
// It runs the best variant below.
int32_t MP3_DecodeCount1(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                         int32_t budget);

// The reference reads a codeword and then its signs; the scalar variants take
// both with one read of a wide lookup (64-bit or, scalar32, 32-bit window).
// Same values, bound and reader position.
int32_t MP3_DecodeCount1_ref(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                             int32_t budget);
int32_t MP3_DecodeCount1_scalar(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                                int32_t budget);
int32_t MP3_DecodeCount1_scalar32(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                                  int32_t budget);
using DecodeCount1Fn = int32_t (*)(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                                   int32_t budget);
struct DecodeCount1Variant {
    const char *name;
    DecodeCount1Fn fn;
};
// Every variant, the reference first.
std::span<const DecodeCount1Variant> DecodeCount1Variants() noexcept;

// The end of every count1 decoder: zeroes out[end..575] and returns one past
// the last nonzero value.
int32_t MP3_Count1Tail(int32_t *out, int32_t end);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_PARSE_HUFFMAN_DECODE_H
