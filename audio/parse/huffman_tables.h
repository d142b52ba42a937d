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
// Wide lookups of the fast decoder by table_select (null for 0, 4 and 14),
// indexed by the next MP3_HuffLookupBits[table_select] stream bits (3..10).
// Bit 0 set: a codeword of at most that many bits; bits 4..1 the bits it
// takes, x in bits 9..5, y in 14..10. With bit 15 clear the signs are folded
// in (x and y 5-bit two's complement, the bits taken include the sign bits);
// with bit 15 set x and y are magnitudes whose escapes and signs follow.
// Bit 0 clear: 2 x the node (in the node area of the same code set) that the
// looked-up bits lead to; the codeword goes on from there.
extern const uint16_t *const MP3_HuffLookup[32];
extern const uint8_t MP3_HuffLookupBits[32];
// Stored entries (first level + node area) by table_select, 0 without codes.
extern const uint16_t MP3_HuffTableEntries[32];
// Count1 table A lookup by the next six bits (see huffman_tables.cpp).
extern const uint8_t MP3_Count1TableA[52];
// Count1 quadruples with their signs by the next 10 bits (table A) or 8 bits
// (table B), for the fast decoder: the bits taken in bits 3..0, then v, w, x,
// y as 2-bit two's complement in bits 11..10, 9..8, 7..6, 5..4.
extern const uint16_t MP3_Count1LookupA[1024];
extern const uint16_t MP3_Count1LookupB[256];
// 2^n - 1 for n = 0..15.
extern const int32_t MP3_BitMasks[16];

}  // namespace mpfix

#endif  // MPFIX_AUDIO_PARSE_HUFFMAN_TABLES_H
