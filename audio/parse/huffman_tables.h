// Huffman tables of the Layer III spectral values, in a decoder-oriented packed
// form built from ISO/IEC 11172-3, Table B.7 by tools/gen_huffman_tables.py.
//
// A stored big-value table is 16 first-level entries, indexed by the next four
// stream bits, followed by its code tree serialized depth first (the node area;
// node 0 is entry 16). Bit 0 of an entry is 1 for a leaf.
//   First-level leaf, 8-bit:  X in bits 7..6, Y in 5..4, leaf kind in 3..1.
//   First-level leaf, 16-bit: X in bits 15..8 (signed: 4-bit two's complement
//                             in 11..8), Y in 7..4, leaf kind in 3..1.
//   Pointer or tree node:     2 x the node index of the 1-child (the 0-child of
//                             a tree node is the next entry).
//   Tree leaf, 8-bit:  x * 32 + y * 4 + 1.  16-bit: x in bits 9..6, y in 5..2.
// Leaf kinds say how many of the four looked-up bits the codeword and its folded
// sign bits take and what is read after them (see huffman_decode.cpp).
#ifndef MPFIX_AUDIO_PARSE_HUFFMAN_TABLES_H
#define MPFIX_AUDIO_PARSE_HUFFMAN_TABLES_H

#include <cstdint>

namespace mpfix {

// Tables with 8-bit entries by table_select 0..12 (null for 0 and 4).
extern const uint8_t *const MP3_HuffSmallTables[13];
// Tables with 16-bit entries by table_select - 13 (null for 14; 16..23 share
// the codes of 16, 24..31 those of 24).
extern const uint16_t *const MP3_HuffLargeTables[19];
// Escape width (linbits) by table_select - 13.
extern const uint8_t MP3_HuffLinbits[19];
// Wide lookups of the fast decoders by table_select (null for 0, 4 and 14):
// a first level indexed by the next MP3_HUFF_SMALL_LOOKUP_BITS (table_select
// 1..12) or MP3_HUFF_LARGE_LOOKUP_BITS (13..31) stream bits, then subtables.
//   Bit 5 clear, a codeword with its signs: bits 4..0 the bits it and its
//     signs take, x in bits 10..6 and y in 15..11 (5-bit two's complement).
//   Bits 5 set, 6 clear, a codeword whose signs (or escapes) follow: bits
//     4..0 its bits, magnitudes x in bits 11..8 and y in 15..12.
//   Bits 5 and 6 set, a longer codeword: the looked-up bits are taken, and
//     the next m bits (m in bits 3..0) index the subtable at entry
//     2^bits + 2 x (bits 15..7), whose entries are codewords as above
//     (the bits taken count from the subtable's first bit).
constexpr int32_t MP3_HUFF_SMALL_LOOKUP_BITS = 8;
constexpr int32_t MP3_HUFF_LARGE_LOOKUP_BITS = 11;
extern const uint16_t *const MP3_HuffLookup[32];
// Entries of each wide lookup, first level and subtables.
extern const uint16_t MP3_HuffLookupEntries[32];
// Stored entries (first level + node area) by table_select, 0 without codes.
extern const uint16_t MP3_HuffTableEntries[32];
// Count1 table A lookup by the next six bits (see huffman_tables.cpp).
extern const uint8_t MP3_Count1TableA[52];
// Count1 quadruples with their signs by the next 10 bits (table A) or 8 bits
// (table B), for the fast decoder: the bits taken in bits 3..0, the row of
// MP3_Count1Quads in bits 10..4.
extern const uint16_t MP3_Count1LookupA[1024];
extern const uint16_t MP3_Count1LookupB[256];
// Every quadruple (v, w, x, y) of values -1..1, at row
// 27 (v + 1) + 9 (w + 1) + 3 (x + 1) + (y + 1).
alignas(16) extern const int32_t MP3_Count1Quads[81][4];
// 2^n - 1 for n = 0..15.
extern const int32_t MP3_BitMasks[16];

}  // namespace mpfix

#endif  // MPFIX_AUDIO_PARSE_HUFFMAN_TABLES_H
