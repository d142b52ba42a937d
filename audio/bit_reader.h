// The one bit reader of the decoder: most significant bit first, bounded by
// an end pointer, past which every read yields zero bits. The frame header
// parser reads the side information with it, the main-data parsers the bit
// reservoir, so no input, however corrupt, makes either touch memory outside
// its bytes.
#ifndef MPFIX_AUDIO_BIT_READER_H
#define MPFIX_AUDIO_BIT_READER_H

#include <cstddef>
#include <cstdint>

namespace mpfix {

// A position in main data that lives across parser calls: the frame driver
// starts it at the reservoir's first byte, each parser advances it.
struct MP3_BitCursor {
    const uint8_t *byte;  // current byte, never beyond end
    int32_t bit;          // 0..7 within that byte (0 = most significant bit)
    const uint8_t *end;   // one past the last readable byte
};

// Signed number of bits from one cursor position to a later one: what the
// driver subtracts from part2_3_length after the scalefactors.
inline int32_t MP3_CursorBitsBetween(const uint8_t *fromByte, int32_t fromBit, const uint8_t *toByte,
                                     int32_t toBit) {
    return static_cast<int32_t>(8 * (toByte - fromByte)) + toBit - fromBit;
}
inline int32_t MP3_CursorBitsBetween(const MP3_BitCursor &from, const MP3_BitCursor &to) {
    return MP3_CursorBitsBetween(from.byte, from.bit, to.byte, to.bit);
}

// A cursor the parsers accept: a byte pointer at or before the end, offset 0..7.
inline bool MP3_CursorValid(const MP3_BitCursor *cursor) {
    return cursor != nullptr && cursor->byte != nullptr && cursor->end != nullptr && cursor->byte <= cursor->end &&
           cursor->bit >= 0 && cursor->bit <= 7;
}

// Reader state of one parser call. Positions count bits from the most
// significant bit of the first byte.
struct MP3_BitReader {
    const uint8_t *start;  // first byte
    int32_t readable;      // bytes from start to the end
    int32_t fetched;       // bytes taken into the window (those past the end read as 0)
    int32_t held;          // valid bits in window
    uint64_t window;       // held bits, left-aligned
};

// Takes whole bytes into the window until it holds more than 56 bits.
inline void MP3_ReaderRefill(MP3_BitReader *reader) {
    while (reader->held <= 56) {
        const uint64_t b = reader->fetched < reader->readable ? reader->start[reader->fetched] : 0u;
        reader->window |= b << (56 - reader->held);
        reader->held += 8;
        ++reader->fetched;
    }
}

// Moves to a position (bits from start, at least 0).
inline void MP3_ReaderSeek(MP3_BitReader *reader, int32_t position) {
    reader->fetched = position >> 3;
    reader->held = 0;
    reader->window = 0;
    MP3_ReaderRefill(reader);
    reader->window <<= (position & 7);
    reader->held -= position & 7;
}

// Opens a reader on the bytes from byte to end (byte <= end), at bit 0..7 of the first.
inline void MP3_ReaderOpen(MP3_BitReader *reader, const uint8_t *byte, int32_t bit, const uint8_t *end) {
    const ptrdiff_t readable = end - byte;
    reader->start = byte;
    reader->readable = readable > (1 << 24) ? (1 << 24) : static_cast<int32_t>(readable);
    MP3_ReaderSeek(reader, bit);
}

// Opens a reader at a valid cursor (see MP3_CursorValid).
inline void MP3_ReaderOpen(MP3_BitReader *reader, const MP3_BitCursor *cursor) {
    MP3_ReaderOpen(reader, cursor->byte, cursor->bit, cursor->end);
}

inline int32_t MP3_ReaderPosition(const MP3_BitReader *reader) { return reader->fetched * 8 - reader->held; }

// The next n bits (1..32) without consuming them.
inline uint32_t MP3_ReaderPeek(MP3_BitReader *reader, int32_t n) {
    if (reader->held < n) MP3_ReaderRefill(reader);
    return static_cast<uint32_t>(reader->window >> (64 - n));
}

// Consumes n bits (0..32).
inline void MP3_ReaderSkip(MP3_BitReader *reader, int32_t n) {
    if (reader->held < n) MP3_ReaderRefill(reader);
    reader->window <<= n;
    reader->held -= n;
}

// Reads n bits (0..32) as an unsigned value.
inline uint32_t MP3_ReaderRead(MP3_BitReader *reader, int32_t n) {
    if (n == 0) return 0;
    const uint32_t value = MP3_ReaderPeek(reader, n);
    MP3_ReaderSkip(reader, n);
    return value;
}

// Writes the reader's current position back into the cursor it was opened
// at. A position past the end leaves the cursor at the end (bit 0), where
// every later read yields 0.
inline void MP3_ReaderStore(const MP3_BitReader *reader, MP3_BitCursor *cursor) {
    const int32_t position = MP3_ReaderPosition(reader);
    const int32_t bytes = position >> 3;
    if (bytes >= reader->readable) {
        cursor->byte = reader->start + reader->readable;
        cursor->bit = 0;
        return;
    }
    cursor->byte = reader->start + bytes;
    cursor->bit = position & 7;
}

}  // namespace mpfix

#endif  // MPFIX_AUDIO_BIT_READER_H
