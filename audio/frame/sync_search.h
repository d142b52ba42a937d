// Finding frames in real streams: ID3v2 tags skipped whole (also across
// refills and between frames), sync patterns trusted only where the stream
// confirms them, and the frame length of free-format streams learnt from the
// distance between their sync patterns. The frame driver keeps what these
// need from frame to frame in a small record stored in the unused tail of
// MP3_Decoder::sideInfoBytes (a frame uses its first 38 bytes), so the
// decoder record keeps its layout.
#ifndef MPFIX_AUDIO_FRAME_SYNC_SEARCH_H
#define MPFIX_AUDIO_FRAME_SYNC_SEARCH_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

struct MP3_SyncMemory {
    uint32_t tagRemaining;      // bytes of an ID3v2 tag still to skip after the next refill
    uint16_t freeBytes;         // learnt free-format frame length without padding; 0: none
    uint8_t freeKey;            // MP3_FreeFormatKey of the headers that length belongs to
    uint8_t linked;             // 1: readIndex is where the last accepted frame ended, nothing skipped since
    uint8_t inputEnded;         // 1: the host's source has ended (set for one pass by MP3_DecodeFrame)
    uint8_t accepted;           // 1: acceptedHeader holds the header of an accepted frame
    uint8_t acceptedHeader[4];  // first four bytes of the most recently accepted frame
};

constexpr int32_t MP3_SYNC_MEMORY_OFFSET = 44;  // in sideInfoBytes, behind the 38 a frame uses
static_assert(MP3_SYNC_MEMORY_OFFSET + sizeof(MP3_SyncMemory) <= MP3_SIDE_INFO_BYTES);

MP3_SyncMemory MP3_LoadSyncMemory(const MP3_Decoder *decoder);
void MP3_StoreSyncMemory(MP3_Decoder *decoder, const MP3_SyncMemory &memory);
// A fresh decoder: nothing accepted, nothing linked, no tag pending.
void MP3_ClearSyncMemory(MP3_Decoder *decoder);

// Length of the ID3v2 tag whose header is bytes[0..9] ("ID3", version bytes
// below 0xFF, four size bytes below 0x80): 10 + size, plus 10 with the footer
// flag. 0 when the bytes are no such header.
uint32_t MP3_Id3v2TagBytes(const uint8_t *bytes);

enum class MP3_ScanResult {
    kFound,     // readIndex on the 0xFF byte of a sync pattern; syncType written
    kDrained,   // no pattern: every stored byte was skipped (a tag may continue)
    kNeedData,  // readIndex on what may be an ID3v2 header not yet stored whole
};

// Continues a pending tag skip, then scans from readIndex for the next sync
// pattern, skipping every ID3v2 tag met on the way. *skipped is set when any
// byte before the result position was passed over.
MP3_ScanResult MP3_ScanForSync(MP3_Stream *stream, MP3_SyncMemory *memory, int32_t *syncType, bool *skipped);

// 1 + ID + 2 x (sync 0xFFF) + 4 x sampling_frequency: headers whose
// free-format frames share one length.
uint8_t MP3_FreeFormatKey(const uint8_t *header);

enum class MP3_Confirmation { kConfirmed, kRejected, kNeedData };

// Whether the candidate at syncIndex (its header bytes `header`) is followed,
// frameBytes later, by a header of the same version, Layer III and
// sampling_frequency that passes the header checks. When the ring does not
// hold those bytes yet: kNeedData, or once the input has ended, kConfirmed
// only for a frame that ends exactly at the end of the input.
MP3_Confirmation MP3_ConfirmFrame(const MP3_Stream *stream, uint32_t syncIndex, int32_t frameBytes,
                                  const uint8_t *header, bool inputEnded);

// Learns a free-format frame length: the distance from the candidate at
// syncIndex to the next matching free-format header (minBytes..maxBytes
// away), corrected for both padding bits and confirmed by a third header
// where that length puts it. Returns the length without padding through
// *frameBytes and kConfirmed; kRejected when no distance passes; kNeedData
// when the ring holds too little and the input goes on.
MP3_Confirmation MP3_MeasureFreeFormat(const MP3_Stream *stream, uint32_t syncIndex, const uint8_t *header,
                                       int32_t minBytes, int32_t maxBytes, bool inputEnded, int32_t *frameBytes);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_SYNC_SEARCH_H
