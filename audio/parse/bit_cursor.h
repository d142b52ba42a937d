// The main-data bit cursor and the bounded reader behind every main-data
// parser. Main data is read most significant bit first from the decoder's
// 4096-byte bit reservoir. The cursor is a byte pointer plus a bit offset 0..7
// (0 = most significant bit); the parsers take both by address together with
// the reservoir's end, and read zero bits past that end, so no input, however
// corrupt, makes them touch memory outside the reservoir.
#ifndef MPFIX_AUDIO_PARSE_BIT_CURSOR_H
#define MPFIX_AUDIO_PARSE_BIT_CURSOR_H

#include <cstddef>
#include <cstdint>

namespace mpfix {

// Convenience record for the frame driver: pass &cursor.byte, &cursor.bit.
struct MP3_BitCursor {
    const uint8_t *byte;  // current byte, never beyond the reservoir's end
    int32_t bit;          // 0..7 within that byte
};

// Signed number of bits from one cursor position to a later one: what the
// driver subtracts from part2_3_length after the scalefactors.
inline int32_t MP3_CursorBitsBetween(const uint8_t *fromByte, int32_t fromBit, const uint8_t *toByte,
                                     int32_t toBit) {
    return static_cast<int32_t>(8 * (toByte - fromByte)) + toBit - fromBit;
}

// A cursor the parsers accept: a byte pointer at or before the end, offset 0..7.
inline bool MP3_CursorValid(const uint8_t *const *byte, const int32_t *bit, const uint8_t *end) {
    return byte != nullptr && bit != nullptr && *byte != nullptr && end != nullptr && *byte <= end &&
           *bit >= 0 && *bit <= 7;
}

// Reader state of one parser call. Positions count bits from the most
// significant bit of the cursor's byte on entry.
struct MP3_BitReader {
    const uint8_t *start;  // cursor byte on entry
    int32_t readable;      // bytes from start to the reservoir's end
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

// Opens a reader on a valid cursor (see MP3_CursorValid).
inline void MP3_ReaderOpen(MP3_BitReader *reader, const uint8_t *byte, int32_t bit, const uint8_t *end) {
    const ptrdiff_t readable = end - byte;
    reader->start = byte;
    reader->readable = readable > (1 << 24) ? (1 << 24) : static_cast<int32_t>(readable);
    MP3_ReaderSeek(reader, bit);
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

// Writes a position back into the cursor. A position past the reservoir's
// end leaves the cursor at the end (bit 0), where every later read yields 0.
inline void MP3_ReaderStore(const MP3_BitReader *reader, int32_t position, const uint8_t **byte, int32_t *bit) {
    const int32_t bytes = position >> 3;
    if (bytes >= reader->readable) {
        *byte = reader->start + reader->readable;
        *bit = 0;
        return;
    }
    *byte = reader->start + bytes;
    *bit = position & 7;
}

}  // namespace mpfix

#endif  // MPFIX_AUDIO_PARSE_BIT_CURSOR_H
