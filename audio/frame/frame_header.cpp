#include "audio/frame/frame_header.h"

#include "audio/bit_reader.h"
#include "audio/stream_constants.h"

namespace mpfix {

// floor(144 * bitrate / rate), bitrates 32..320 kbit/s of MPEG-1 Layer III.
const int32_t MP3_FrameBytesMpeg1[3][15] = {
    {0, 104, 130, 156, 182, 208, 261, 313, 365, 417, 522, 626, 731, 835, 1044},  // 44100 Hz
    {0, 96, 120, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960},     // 48000 Hz
    {0, 144, 180, 216, 252, 288, 360, 432, 504, 576, 720, 864, 1008, 1152, 1440}, // 32000 Hz
};

// floor(72 * bitrate / rate), bitrates 8..160 kbit/s of MPEG-2 Layer III.
const int32_t MP3_FrameBytesMpeg2[3][15] = {
    {0, 26, 52, 78, 104, 130, 156, 182, 208, 261, 313, 365, 417, 470, 522},  // 22050 Hz
    {0, 24, 48, 72, 96, 120, 144, 168, 192, 240, 288, 336, 384, 432, 480},   // 24000 Hz
    {0, 36, 72, 108, 144, 180, 216, 252, 288, 360, 432, 504, 576, 648, 720}, // 16000 Hz
};

// floor(72 * bitrate / rate), MPEG-2 bitrates at the halved rates. Twice the
// MPEG-2 entry falls one byte short at 11025 Hz for 40, 48, 56, 64, 112 and
// 128 kbit/s, which would shift every later main_data_begin.
const int32_t MP3_FrameBytesMpeg25[3][15] = {
    {0, 52, 104, 156, 208, 261, 313, 365, 417, 522, 626, 731, 835, 940, 1044},      // 11025 Hz
    {0, 48, 96, 144, 192, 240, 288, 336, 384, 480, 576, 672, 768, 864, 960},        // 12000 Hz
    {0, 72, 144, 216, 288, 360, 432, 504, 576, 720, 864, 1008, 1152, 1296, 1440},   // 8000 Hz
};

namespace {

// One side-information field of n bits (at most 12).
int32_t field(MP3_BitReader *bits, int32_t n) { return static_cast<int32_t>(MP3_ReaderRead(bits, n)); }

bool isMpeg1(const MP3_FrameHeader *header) { return header->ID == 1; }

// The fields after window_switching_flag of one granule record. Returns false
// for window switching with block_type 0, written up to block_type.
bool readBlockFields(MP3_BitReader *bits, MP3_GranuleInfo *g) {
    if (g->window_switching_flag != 0) {
        g->block_type = field(bits, 2);
        if (g->block_type == 0) return false;
        g->mixed_block_flag = field(bits, 1);
        g->table_select[0] = field(bits, 5);
        g->table_select[1] = field(bits, 5);
        for (int w = 0; w < 3; ++w) g->subblock_gain[w] = field(bits, 3);
        // Region boundaries are implicit with window switching.
        g->region0_count = (g->block_type == 2 && g->mixed_block_flag == 0) ? 8 : 7;
        g->region1_count = 20 - g->region0_count;
    } else {
        for (int r = 0; r < 3; ++r) g->table_select[r] = field(bits, 5);
        g->region0_count = field(bits, 4);
        g->region1_count = field(bits, 3);
        g->block_type = 0;
        g->mixed_block_flag = 0;
    }
    return true;
}

bool readGranule(MP3_BitReader *bits, MP3_GranuleInfo *g, bool mpeg1) {
    g->part2_3_length = field(bits, 12);
    g->big_values = field(bits, 9);
    g->global_gain = field(bits, 8);
    g->scalefac_compress = field(bits, mpeg1 ? 4 : 9);
    g->window_switching_flag = field(bits, 1);
    if (!readBlockFields(bits, g)) return false;
    if (mpeg1) g->preflag = field(bits, 1);  // MPEG-2 derives it from scalefac_compress
    g->scalefac_scale = field(bits, 1);
    g->count1table_select = field(bits, 1);
    return true;
}

}  // namespace

int32_t MP3_SideInfoLength(const MP3_FrameHeader *header) {
    const bool mono = channelsOfMode(header->mode) == 1;
    if (isMpeg1(header)) return mono ? 17 : 32;
    return mono ? 9 : 17;
}

void MP3_ParseHeader(const uint8_t **cursor, MP3_FrameHeader *header) {
    const uint8_t *p = *cursor;
    const int32_t b1 = p[1];
    const int32_t b2 = p[2];
    const int32_t b3 = p[3];
    header->ID = (b1 >> 3) & 1;
    header->layer = (b1 >> 1) & 3;
    header->protection_bit = b1 & 1;
    header->bitrate_index = (b2 >> 4) & 15;
    header->sampling_frequency = (b2 >> 2) & 3;
    header->padding_bit = (b2 >> 1) & 1;
    header->private_bit = b2 & 1;
    header->mode = (b3 >> 6) & 3;
    header->mode_extension = (b3 >> 4) & 3;
    header->copyright = (b3 >> 3) & 1;
    header->original_home = (b3 >> 2) & 1;
    header->emphasis = b3 & 3;
    if (header->protection_bit == 0) {
        header->crc_check = (static_cast<int32_t>(p[4]) << 8) | p[5];
        *cursor = p + 6;
    } else {
        *cursor = p + 4;
    }
}

int32_t MP3_ParseSideInfo(const uint8_t **cursor, MP3_GranuleInfo *granules, int32_t *mainDataBegin,
                          int32_t *privateBits, int32_t *scfsi, const MP3_FrameHeader *header) {
    if (header->layer != 1 || (header->ID != 0 && header->ID != 1)) return MP3_ERR_PARAM;
    const bool mpeg1 = isMpeg1(header);
    const int32_t nch = channelsOfMode(header->mode);
    // Every read stays inside the side information: its layout is fixed.
    MP3_BitReader reader;
    MP3_ReaderOpen(&reader, *cursor, 0, *cursor + MP3_SideInfoLength(header));
    MP3_BitReader *bits = &reader;
    if (mpeg1) {
        *mainDataBegin = field(bits, 9);
        *privateBits = field(bits, nch == 1 ? 5 : 3);
        for (int32_t ch = 0; ch < nch; ++ch) {
            for (int32_t group = 0; group < 4; ++group) scfsi[ch * 4 + group] = field(bits, 1);
        }
    } else {
        *mainDataBegin = field(bits, 8);
        *privateBits = field(bits, nch == 1 ? 1 : 2);
    }
    const int32_t ngr = granulesOfVersion(header->ID);
    for (int32_t gr = 0; gr < ngr; ++gr) {
        for (int32_t ch = 0; ch < nch; ++ch) {
            if (!readGranule(bits, &granules[gr * nch + ch], mpeg1)) return MP3_ERR_PARAM;
        }
    }
    *cursor += MP3_SideInfoLength(header);
    return 0;
}

}  // namespace mpfix
