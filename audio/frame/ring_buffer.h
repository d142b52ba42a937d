// Input ring of MP3_Stream: refill through the host callback, byte delivery,
// fill level and the frame sync search. writeIndex names the most recently
// stored byte, which is held back until a later refill stores bytes behind it;
// readIndex == writeIndex is the drained state. All index arithmetic is modulo
// MP3_RING_SIZE, and every index is masked before use, so no operation reaches
// outside the ring whatever the record holds.
#ifndef MPFIX_AUDIO_FRAME_RING_BUFFER_H
#define MPFIX_AUDIO_FRAME_RING_BUFFER_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Stores what the callback delivers into the free stretch(es) of the ring (at
// most two calls) and returns the number of bytes stored; 0 without a callback.
// A drained ring restarts at index 0; its held-back byte is kept in front
// only when it is 0xFF or 'I' (it may begin a sync pattern or an ID3v2 tag).
int32_t MP3_Refill(MP3_Stream *stream);

// Copies up to count deliverable bytes (readIndex up to, not including,
// writeIndex) to destination and returns how many it copied; 0 for count < 1.
int32_t MP3_ReadBytes(MP3_Stream *stream, uint8_t *destination, int32_t count);

// Stored bytes including the held-back one: 1..65536 (a drained ring gives 1).
int32_t MP3_BytesAvailable(const MP3_Stream *stream);

// Scans from readIndex for 0xFF followed by 0xF? (stores MP3_SYNC_FFF) or 0xE?
// (MP3_SYNC_FFE) and returns 1 with readIndex on the 0xFF byte. Without a
// pattern up to writeIndex it returns 0, drains the ring and stores
// MP3_SYNC_FFE.
int32_t MP3_FindSync(MP3_Stream *stream, int32_t *syncType);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_RING_BUFFER_H
