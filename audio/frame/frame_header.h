// Layer III frame header, side information and frame sizes (ISO/IEC 11172-3,
// ISO/IEC 13818-3, and the MPEG-2.5 extension, which uses the MPEG-2 side
// information). The parsers work on the raw bytes that the frame driver copies
// out of the ring into MP3_Decoder::sideInfoBytes.
#ifndef MPFIX_AUDIO_FRAME_FRAME_HEADER_H
#define MPFIX_AUDIO_FRAME_FRAME_HEADER_H

#include <cstdint>

#include "mpfix.h"

namespace mpfix {

// Bytes per frame without padding, [sampling_frequency 0..2][bitrate_index
// 0..14]; index 0 (free format) holds 0.
extern const int32_t MP3_FrameBytesMpeg1[3][15];   // MPEG-1, 44100/48000/32000 Hz
extern const int32_t MP3_FrameBytesMpeg2[3][15];   // MPEG-2, 22050/24000/16000 Hz
extern const int32_t MP3_FrameBytesMpeg25[3][15];  // MPEG-2.5, 11025/12000/8000 Hz

// Side-information bytes of a frame: MPEG-1 (ID 1) 17 single channel or 32,
// otherwise 9 single channel or 17.
int32_t MP3_SideInfoLength(const MP3_FrameHeader *header);

// Parses the 4 header bytes at *cursor (the first is the 0xFF sync byte, not
// looked at) and, when protection_bit is 0, the CRC word after them into
// crc_check. Advances *cursor by 4 or 6. Validates nothing.
void MP3_ParseHeader(const uint8_t **cursor, MP3_FrameHeader *header);

// Parses the side information at *cursor for the frame described by header
// (reads ID, layer and mode): main_data_begin, private_bits, the scfsi flags
// (MPEG-1 only; scfsi points at 2 x 4 flags, [ch][band group]) and the granule
// records, element granule * channels + channel. Fields a granule does not
// transmit keep their values. Reads exactly MP3_SideInfoLength bytes.
// Returns 0 and advances *cursor by that length, or MP3_ERR_PARAM with
// *cursor unchanged: at once for a layer other than III or an ID other than
// 0/1, or after writing block_type of a window-switching granule whose
// block_type is 0 (earlier records stay written, later ones untouched).
int32_t MP3_ParseSideInfo(const uint8_t **cursor, MP3_GranuleInfo *granules, int32_t *mainDataBegin,
                          int32_t *privateBits, int32_t *scfsi, const MP3_FrameHeader *header);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_FRAME_FRAME_HEADER_H
