// Huffman decoding of the Layer III spectral values (ISO/IEC 11172-3, 2.4.3.4;
// ISO/IEC 13818-3): the big values in up to three regions of pairs, the count1
// quadruples, then zeros.
#include "audio/parse/huffman_decode.h"

#include "audio/band_tables.h"
#include "audio/parse/huffman_tables.h"
#include "audio/stream_constants.h"
#include "audio/words.h"

namespace mpfix {

namespace {

// Region 0 of a window-switching granule: short bands 0..2 of every window
// for short blocks, long bands 0..7 otherwise.
constexpr int32_t kShortRegion0Bands = 3;
constexpr int32_t kLongRegion0Bands = 8;

// Two's-complement fields of the first-level entries.
constexpr int32_t signed2(uint32_t field) { return static_cast<int32_t>(field ^ 2u) - 2; }
constexpr int32_t signed4(uint32_t field) { return static_cast<int32_t>(field ^ 8u) - 8; }

// Reads the sign bit of a value (1 = negative).
int32_t withSign(MP3_BitReader *reader, int32_t magnitude) {
    return MP3_ReaderRead(reader, 1) != 0 ? -magnitude : magnitude;
}

// Escape (when the value is 15 and the table has linbits) and sign of one
// value taken from a tree leaf.
int32_t finishValue(MP3_BitReader *reader, int32_t magnitude, int32_t linbits) {
    if (magnitude == 0) return 0;
    if (magnitude == 15 && linbits > 0) magnitude += static_cast<int32_t>(MP3_ReaderRead(reader, linbits));
    return withSign(reader, magnitude);
}

// Walks the code tree from the node a first-level pointer names, one bit per
// node, and returns the leaf. The tables are complete prefix codes, so every
// bit sequence ends at a leaf inside the node area.
template <typename Entry>
uint32_t walkTree(MP3_BitReader *reader, const Entry *nodes, uint32_t pointer) {
    uint32_t q = pointer >> 1;
    do {
        q = MP3_ReaderRead(reader, 1) != 0 ? static_cast<uint32_t>(nodes[q] >> 1) : q + 1;
    } while ((nodes[q] & 1u) == 0);
    return nodes[q];
}

// A first-level entry that points into the code tree (bit 0 clear): the
// codeword goes on past the four looked-up bits. Walks it and reads the
// leaf's escapes and signs; x sits at bit xShift of the leaf, y at bit 2.
template <typename Entry>
bool treePair(MP3_BitReader *reader, const Entry *table, uint32_t e, int xShift, uint32_t mask, int32_t linbits,
              int32_t *x, int32_t *y) {
    if ((e & 1u) != 0) return false;
    MP3_ReaderSkip(reader, 4);
    const uint32_t leaf = walkTree(reader, table + 16, e);
    *x = finishValue(reader, static_cast<int32_t>((leaf >> xShift) & mask), linbits);
    *y = finishValue(reader, static_cast<int32_t>((leaf >> 2) & mask), linbits);
    return true;
}

// A pair whose codeword, with any signs folded into it, takes the first
// `bits` of the four looked-up bits.
void foldedPair(MP3_BitReader *reader, int32_t bits, int32_t vx, int32_t vy, int32_t *x, int32_t *y) {
    *x = vx, *y = vy;
    MP3_ReaderSkip(reader, bits);
}

void decodePairSmall(MP3_BitReader *reader, const uint8_t *table, int32_t *x, int32_t *y) {
    const uint32_t e = table[MP3_ReaderPeek(reader, 4)];
    if (treePair(reader, table, e, 5, 7u, 0, x, y)) return;
    const uint32_t fx = (e >> 6) & 3u, fy = (e >> 4) & 3u;
    const uint32_t kind = (e >> 1) & 7u;
    switch (kind) {
    case 0: return foldedPair(reader, 4, signed2(fx), signed2(fy), x, y);  // codeword and signs fill the four bits
    case 1: return foldedPair(reader, 3, signed2(fx), signed2(fy), x, y);
    case 2: return foldedPair(reader, 2, 0, 0, x, y);
    case 3: return foldedPair(reader, 1, 0, 0, x, y);
    default: break;
    }
    // The codeword takes the four bits; sign bits follow.
    MP3_ReaderSkip(reader, 4);
    if (kind == 4) {
        *x = withSign(reader, 2), *y = 0;
    } else if (kind == 6) {  // the sign of x is folded in
        *x = signed2(fx), *y = withSign(reader, 1);
    } else {  // 5 and 7: magnitudes, both signs follow
        *x = withSign(reader, static_cast<int32_t>(fx));
        *y = withSign(reader, static_cast<int32_t>(fy));
    }
}

void decodePairLarge(MP3_BitReader *reader, const uint16_t *table, int32_t linbits, int32_t *x, int32_t *y) {
    const uint32_t e = table[MP3_ReaderPeek(reader, 4)];
    if (treePair(reader, table, e, 6, 15u, linbits, x, y)) return;
    const uint32_t fx = (e >> 8) & 0xFFu, fy = (e >> 4) & 15u;
    const uint32_t kind = (e >> 1) & 7u;
    switch (kind) {
    case 0: return foldedPair(reader, 4, signed4(fx & 15u), 0, x, y);
    case 1: return foldedPair(reader, 3, 0, 0, x, y);
    case 3: return foldedPair(reader, 1, 0, 0, x, y);
    default: break;
    }
    // The codeword takes the four bits; sign bits (and escapes) follow.
    MP3_ReaderSkip(reader, 4);
    if (kind == 4) {
        *x = withSign(reader, 1), *y = 0;
    } else if (kind == 5) {
        *x = 0, *y = withSign(reader, 1);
    } else if (kind == 6) {
        *x = signed4(fx & 15u), *y = withSign(reader, 1);
    } else {  // 2 and 7: magnitudes; X = 15 is the four-bit code of (15, 15), both escaped
        const bool escaped = fx == 15;
        int32_t vx = static_cast<int32_t>(fx), vy = static_cast<int32_t>(fy);
        if (escaped) vx += static_cast<int32_t>(MP3_ReaderRead(reader, linbits));
        *x = withSign(reader, vx);
        if (escaped) vy += static_cast<int32_t>(MP3_ReaderRead(reader, linbits));
        *y = withSign(reader, vy);
    }
}

// Count1 table A: v, w, x, y packed as 2-bit two's-complement fields.
void unpackQuad(uint32_t packed, int32_t *q) {
    q[0] = signed2((packed >> 6) & 3u), q[1] = signed2((packed >> 4) & 3u);
    q[2] = signed2((packed >> 2) & 3u), q[3] = signed2(packed & 3u);
}

void decodeQuadA(MP3_BitReader *reader, int32_t *q) {
    const uint32_t p = MP3_ReaderPeek(reader, 6);
    if (p >= 32) {  // the 1-bit code of (0, 0, 0, 0)
        MP3_ReaderSkip(reader, 1);
        q[0] = q[1] = q[2] = q[3] = 0;
        return;
    }
    if (p >= 16) {  // 4-bit code and its sign; the sixth bit stays
        MP3_ReaderSkip(reader, 5);
        unpackQuad(MP3_Count1TableA[p], q);
        return;
    }
    MP3_ReaderSkip(reader, 6);
    if (p >= 6) {  // 5-bit code, first sign; the second sign picks the entry
        const uint32_t second = MP3_ReaderRead(reader, 1);
        unpackQuad(MP3_Count1TableA[MP3_Count1TableA[p] + second], q);
        return;
    }
    const uint32_t e = MP3_Count1TableA[p];
    const uint32_t kind = e & 7u;
    if (kind == 2) {
        q[0] = 0, q[1] = withSign(reader, 1), q[2] = 0, q[3] = withSign(reader, 1);
        return;
    }
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t magnitude = kind == 3 ? static_cast<int32_t>((e >> (6 - k)) & 1u) : 1;
        q[k] = magnitude != 0 ? withSign(reader, magnitude) : 0;
    }
}

void decodeQuadB(MP3_BitReader *reader, int32_t *q) {
    const uint32_t bits = MP3_ReaderRead(reader, 4);  // each bit is the inverse of a magnitude
    for (int32_t k = 0; k < 4; ++k) q[k] = ((bits >> (3 - k)) & 1u) != 0 ? 0 : 1;
    for (int32_t k = 0; k < 4; ++k)
        if (q[k] != 0) q[k] = withSign(reader, 1);
}

// Moves the reader by bits (either way), stopping at the reservoir's end.
void advanceReader(MP3_BitReader *reader, int32_t bits) {
    int64_t target = static_cast<int64_t>(MP3_ReaderPosition(reader)) + bits;
    const int64_t end = static_cast<int64_t>(reader->readable) * 8;
    if (target > end) target = end;
    if (target < 0) target = 0;
    MP3_ReaderSeek(reader, static_cast<int32_t>(target));
}

bool validTableSelect(int32_t t) { return t >= 0 && t <= 31; }

bool validRegionCounts(const MP3_GranuleInfo *g) {
    // Region 2 starts at long boundary region0_count + region1_count + 2.
    return g->region0_count >= 0 && g->region1_count >= 0 &&
           g->region0_count + g->region1_count + 2 < MP3_LONG_BOUNDARIES;
}

// The checks made before anything is written.
bool validGranule(const MP3_GranuleInfo *g, const MP3_FrameHeader *h, int32_t huffmanBits) {
    if (g->big_values < 0 || g->big_values > MP3_GRANULE_LINES / 2) return false;
    if (g->block_type < 0 || g->block_type > 3) return false;
    if (h->ID < 0 || h->ID > 1) return false;
    if (g->window_switching_flag < 0 || g->window_switching_flag > 1) return false;
    if (g->window_switching_flag == 1 && g->block_type == 0) return false;
    if (h->layer != 1) return false;
    if (g->count1table_select < 0 || g->count1table_select > 1) return false;
    if (h->sampling_frequency < 0 || h->sampling_frequency > 2) return false;
    return huffmanBits >= 0 && huffmanBits <= g->part2_3_length;
}

}  // namespace

void MP3_DecodeBigValues_ref(MP3_BitReader *reader, int32_t table, int32_t **out, int32_t count) {
    int32_t *at = *out;
    const int32_t pairs = count / 2;
    if (table >= 1 && table <= 12 && MP3_HuffSmallTables[table] != nullptr) {
        const uint8_t *codes = MP3_HuffSmallTables[table];
        for (int32_t k = 0; k < pairs; ++k, at += 2) decodePairSmall(reader, codes, at, at + 1);
    } else if (table >= 13 && table <= 31 && MP3_HuffLargeTables[table - 13] != nullptr) {
        const uint16_t *codes = MP3_HuffLargeTables[table - 13];
        const int32_t linbits = MP3_HuffLinbits[table - 13];
        for (int32_t k = 0; k < pairs; ++k, at += 2) decodePairLarge(reader, codes, linbits, at, at + 1);
    } else {  // tables 0, 4 and 14 have no codes: the region is zero
        MP3_FillWords(0, at, 2 * pairs);
        at += 2 * pairs;
    }
    *out = at;
}

int32_t MP3_Count1Tail(int32_t *out, int32_t end) {
    MP3_FillWords(0, out + end, MP3_GRANULE_LINES - end);
    while (end > 0 && out[end - 1] == 0) --end;
    return end;
}

namespace {

// After the quadruples, i the index past the last one and remaining the
// budget left: drops a last quadruple that ran past the granule's bits
// (zeroed below), lands exactly on the end of the granule's bits (back over
// an overrun, forward over stuffing), zeroes the rest and returns the bound.
int32_t finishCount1(MP3_BitReader *reader, int32_t *out, int32_t i, int32_t remaining, bool decoded) {
    if (remaining < 0 && decoded) i -= 4;
    if (remaining != 0) advanceReader(reader, remaining);
    return MP3_Count1Tail(out, i);
}

int32_t count1Start(int32_t start) { return start < 0 ? 0 : (start > MP3_GRANULE_LINES ? MP3_GRANULE_LINES : start); }

}  // namespace

int32_t MP3_DecodeCount1_ref(MP3_BitReader *reader, int32_t count1TableSelect, int32_t *out, int32_t start,
                             int32_t budget) {
    int32_t i = count1Start(start);
    int32_t remaining = budget < 0 ? 0 : budget;
    bool decoded = false;
    // A quadruple is started only while bits remain and all four values fit.
    while (remaining > 0 && i + 4 <= MP3_GRANULE_LINES) {
        const int32_t before = MP3_ReaderPosition(reader);
        if (count1TableSelect == 0)
            decodeQuadA(reader, out + i);
        else
            decodeQuadB(reader, out + i);
        remaining -= MP3_ReaderPosition(reader) - before;
        i += 4;
        decoded = true;
    }
    return finishCount1(reader, out, i, remaining, decoded);
}

int32_t MP3_DecodeSpectrum(MP3_GranuleContext *context, int32_t *out, int32_t *nonzeroBound,
                           const MP3_GranuleInfo *granule, int32_t huffmanBits) {
    if (context == nullptr || !MP3_CursorValid(&context->cursor) || context->header == nullptr ||
        context->bands.longRow == nullptr || context->bands.shortRow == nullptr || out == nullptr ||
        nonzeroBound == nullptr || granule == nullptr)
        return MP3_ERR_PARAM;
    if (!validGranule(granule, context->header, huffmanBits)) return MP3_ERR_PARAM;
    const int32_t *tables = granule->table_select;
    const bool switched = granule->window_switching_flag == 1;
    if (!validTableSelect(tables[0]) || !validTableSelect(tables[1])) return MP3_ERR_PARAM;
    if (!switched && !validRegionCounts(granule)) return MP3_ERR_PARAM;
    if (huffmanBits == 0) {
        if (!switched && !validTableSelect(tables[2])) return MP3_ERR_PARAM;
        MP3_FillWords(0, out, MP3_GRANULE_LINES);
        *nonzeroBound = 0;
        return 0;
    }

    const int32_t n = 2 * granule->big_values;
    const uint16_t *longRow = context->bands.longRow;
    int32_t b1 = 0, b2 = n;
    if (!switched) {
        b1 = longRow[granule->region0_count + 1];
        b2 = longRow[granule->region0_count + granule->region1_count + 2];
    } else if (granule->block_type == 2) {
        // Region 0 spans three short bands of every window: 36 lines, 72 at 8 kHz.
        b1 = MP3_WINDOWS * context->bands.shortRow[kShortRegion0Bands];
    } else {
        // Long bands 0..7 (region0_count 7): 36 lines in MPEG-1, 54 at the low
        // sampling frequencies, 108 at 8 kHz.
        b1 = longRow[kLongRegion0Bands];
    }
    if (b1 > n) b1 = n;
    if (b2 > n) b2 = n;

    MP3_BitReader reader;
    MP3_ReaderOpen(&reader, &context->cursor);
    const int32_t entryBit = context->cursor.bit;
    int32_t *at = out;
    if (b1 > 0) MP3_DecodeBigValues(&reader, tables[0], &at, b1);
    if (b2 > b1) MP3_DecodeBigValues(&reader, tables[1], &at, b2 - b1);
    if (!switched) {
        if (!validTableSelect(tables[2])) {
            MP3_ReaderStore(&reader, &context->cursor);
            return MP3_ERR_PARAM;
        }
        if (n > b2) MP3_DecodeBigValues(&reader, tables[2], &at, n - b2);
    }

    const int32_t remaining = huffmanBits - (MP3_ReaderPosition(&reader) - entryBit);
    if (remaining < 0) {  // the big values overran the granule
        MP3_ReaderStore(&reader, &context->cursor);
        return MP3_ERR_PARAM;
    }
    *nonzeroBound = MP3_DecodeCount1(&reader, granule->count1table_select, out, n, remaining);
    MP3_ReaderStore(&reader, &context->cursor);
    return 0;
}

}  // namespace mpfix
