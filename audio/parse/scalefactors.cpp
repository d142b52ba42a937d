// Scalefactor decoding for MPEG-1 (ISO/IEC 11172-3) and the low sampling
// frequencies of MPEG-2 and MPEG-2.5 (ISO/IEC 13818-3).
#include "audio/parse/scalefactors.h"

#include <algorithm>

#include "audio/bit_reader.h"
#include "audio/stream_constants.h"

namespace mpfix {

// ISO/IEC 11172-3 scalefac_compress table: (0, c) for c < 4, (3, 0) for 4, then
// (1..3, 1..3) in order for 5..13, and (4, 2), (4, 3).
const uint8_t MP3_ScalefacSlen[2][16] = {
    {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
    {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3},
};

// ISO/IEC 13818-3 nr_of_sfb_block: per range, long blocks hold 21 values, short
// 36 (12 bands x 3 windows) and mixed 33 (6 long bands, then short bands 3..11).
const uint8_t nr_of_sfb[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
    {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
    {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
    {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

namespace {

// Zero bytes after the values of the short and mixed layouts and of the
// low-sampling-frequency syntax (MPEG-1 long blocks store one, for band 21).
constexpr int32_t kZerosAfterValues = 3;

bool validFields(const MP3_GranuleInfo *granule, const int32_t *scfsi, const MP3_FrameHeader *header) {
    const int32_t id = header->ID;
    if (id < 0 || id > 1) return false;
    if (granule->mixed_block_flag < 0 || granule->mixed_block_flag > 1) return false;
    if (granule->block_type < 0 || granule->block_type > 3) return false;
    if (id == 1) {
        if (granule->block_type != 2) {
            for (int g = 0; g < 4; ++g)
                if (scfsi[g] < 0 || scfsi[g] > 1) return false;
        }
        return granule->scalefac_compress >= 0 && granule->scalefac_compress <= 15;
    }
    return granule->scalefac_compress >= 0 && granule->scalefac_compress <= 511 && header->mode_extension >= 0 &&
           header->mode_extension <= 3;
}

// Stores count values of slen bits from position at; returns the next position.
int32_t readRun(MP3_BitReader *reader, uint8_t *out, int32_t at, int32_t count, int32_t slen) {
    for (int32_t i = 0; i < count; ++i) out[at + i] = static_cast<uint8_t>(MP3_ReaderRead(reader, slen));
    return at + count;
}

void decodeMpeg1(MP3_BitReader *reader, uint8_t *out, const MP3_GranuleInfo *granule, const int32_t *scfsi,
                 int32_t gr) {
    const int32_t slen1 = MP3_ScalefacSlen[0][granule->scalefac_compress];
    const int32_t slen2 = MP3_ScalefacSlen[1][granule->scalefac_compress];
    if (granule->block_type == 2) {
        // Short or mixed: scfsi does not apply.
        int32_t at = readRun(reader, out, 0, granule->mixed_block_flag == 1 ? 17 : 18, slen1);
        at = readRun(reader, out, at, 18, slen2);
        std::fill_n(out + at, kZerosAfterValues, uint8_t{0});
        return;
    }
    // Long bands 0-5, 6-10, 11-15, 16-20; granule 1 keeps the groups scfsi marks.
    static constexpr int32_t kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int32_t g = 0; g < 4; ++g) {
        if (gr == 1 && scfsi[g] == 1) continue;
        readRun(reader, out, kGroupStart[g], kGroupStart[g + 1] - kGroupStart[g], g < 2 ? slen1 : slen2);
    }
    out[MP3_LONG_BANDS - 1] = 0;  // band 21 has no scalefactor
}

void decodeLowSamplingFrequency(MP3_BitReader *reader, uint8_t *out, MP3_GranuleInfo *granule,
                                const MP3_FrameHeader *header, int32_t ch) {
    const int32_t kind = granule->block_type != 2 ? 0 : (granule->mixed_block_flag == 0 ? 1 : 2);
    const bool intensity = ch == 1 && (header->mode_extension & 1) != 0;
    const int32_t c = granule->scalefac_compress;
    int32_t slen[4] = {0, 0, 0, 0};
    int32_t range = 0;
    if (!intensity) {
        if (c < 400) {
            slen[0] = (c >> 4) / 5, slen[1] = (c >> 4) % 5, slen[2] = (c & 15) >> 2, slen[3] = c & 3;
            range = 0;
        } else if (c < 500) {
            const int32_t t = c - 400;
            slen[0] = (t >> 2) / 5, slen[1] = (t >> 2) % 5, slen[2] = t & 3;
            range = 1;
        } else {
            const int32_t t = c - 500;
            slen[0] = t / 3, slen[1] = t % 3;
            range = 2;
        }
        granule->preflag = c >= 500 ? 1 : 0;
    } else {
        // The low bit of scalefac_compress carries the intensity-stereo mode, not a width.
        const int32_t i = c >> 1;
        if (i < 180) {
            slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6;
            range = 3;
        } else if (i < 244) {
            const int32_t t = i - 180;
            slen[0] = (t & 63) >> 4, slen[1] = (t & 15) >> 2, slen[2] = t & 3;
            range = 4;
        } else {
            const int32_t t = i - 244;
            slen[0] = t / 3, slen[1] = t % 3;
            range = 5;
        }
        granule->preflag = 0;
    }
    int32_t at = 0;
    for (int32_t g = 0; g < 4; ++g) {
        const int32_t count = nr_of_sfb[range][kind][g];
        const int32_t max = (1 << slen[g]) - 1;
        for (int32_t k = 0; k < count; ++k) {
            int32_t v = static_cast<int32_t>(MP3_ReaderRead(reader, slen[g]));
            // The all-ones value marks an illegal intensity position.
            if (intensity && v == max) v = -v;
            out[at++] = static_cast<uint8_t>(v);
        }
    }
    std::fill_n(out + at, kZerosAfterValues, uint8_t{0});
}

}  // namespace

int32_t MP3_DecodeScalefactors(MP3_GranuleContext *context, uint8_t *scalefactors, MP3_GranuleInfo *granule,
                               const int32_t *scfsi, int32_t ch) {
    if (context == nullptr || !MP3_CursorValid(&context->cursor) || context->header == nullptr ||
        scalefactors == nullptr || granule == nullptr || scfsi == nullptr)
        return MP3_ERR_PARAM;
    const MP3_FrameHeader *header = context->header;
    if (!validFields(granule, scfsi, header)) return MP3_ERR_PARAM;
    MP3_BitReader reader;
    MP3_ReaderOpen(&reader, &context->cursor);
    if (header->ID == 1)
        decodeMpeg1(&reader, scalefactors, granule, scfsi, context->gr);
    else
        decodeLowSamplingFrequency(&reader, scalefactors, granule, header, ch);
    MP3_ReaderStore(&reader, &context->cursor);
    return 0;
}

}  // namespace mpfix
