// Frame header and side-information parsing from bytes built field by field,
// and the frame size tables derived from their bitrate rule.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/frame/frame_header.h"
#include "mpfix.h"
#include "support/bit_writer.h"

using namespace mpfix;

namespace {

using mpfix::test::BitWriter;

constexpr int32_t kOld = -7777;  // marks fields that a parse must not write

MP3_FrameHeader oldHeader() {
    MP3_FrameHeader h;
    int32_t *fields = &h.ID;
    for (int i = 0; i < 13; ++i) fields[i] = kOld;
    return h;
}

MP3_GranuleInfo oldGranule() {
    MP3_GranuleInfo g;
    int32_t *fields = &g.part2_3_length;
    for (int i = 0; i < 18; ++i) fields[i] = kOld;
    return g;
}

bool sameGranule(const MP3_GranuleInfo &a, const MP3_GranuleInfo &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expectHeader(const MP3_FrameHeader &got, const MP3_FrameHeader &want) {
    const int32_t *g = &got.ID;
    const int32_t *w = &want.ID;
    for (int i = 0; i < 13; ++i) EXPECT_EQ(g[i], w[i]) << "header field " << i + 1;
}

// ---- Header ---------------------------------------------------------------

TEST(FrameHeader, ParsesListedHeaders) {
    const struct {
        std::vector<uint8_t> bytes;
        MP3_FrameHeader want;  // ID .. emphasis, crc_check
        long advance;
    } cases[] = {
        {{0xFF, 0xFB, 0x90, 0x64}, {1, 1, 1, 9, 0, 0, 0, 1, 2, 0, 1, 0, kOld}, 4},
        {{0xFF, 0xFA, 0x92, 0xC4, 0x12, 0x34}, {1, 1, 0, 9, 0, 1, 0, 3, 0, 0, 1, 0, 0x1234}, 6},
        {{0xFF, 0xE3, 0x5D, 0x3F}, {0, 1, 1, 5, 3, 0, 1, 0, 3, 1, 1, 3, kOld}, 4},
        {{0xFF, 0xF6, 0xFF, 0xFF, 0xFF, 0xFE}, {0, 3, 0, 15, 3, 1, 1, 3, 3, 1, 1, 3, 0xFFFE}, 6},
    };
    for (const auto &c : cases) {
        MP3_FrameHeader h = oldHeader();
        const uint8_t *cursor = c.bytes.data();
        MP3_ParseHeader(&cursor, &h);
        EXPECT_EQ(cursor - c.bytes.data(), c.advance);
        expectHeader(h, c.want);
    }
}

// Random field values written MSB first come back unchanged.
TEST(FrameHeader, RoundTripsEveryFieldWidth) {
    uint32_t seed = 7;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const uint32_t r = seed;
        MP3_FrameHeader want = {static_cast<int32_t>(r & 1), static_cast<int32_t>((r >> 1) & 3),
                                static_cast<int32_t>((r >> 3) & 1), static_cast<int32_t>((r >> 4) & 15),
                                static_cast<int32_t>((r >> 8) & 3), static_cast<int32_t>((r >> 10) & 1),
                                static_cast<int32_t>((r >> 11) & 1), static_cast<int32_t>((r >> 12) & 3),
                                static_cast<int32_t>((r >> 14) & 3), static_cast<int32_t>((r >> 16) & 1),
                                static_cast<int32_t>((r >> 17) & 1), static_cast<int32_t>((r >> 18) & 3),
                                static_cast<int32_t>(r >> 20 & 0xFFFF)};
        BitWriter w;
        w.put(0xFFE, 12);  // sync bits: not part of the parse
        w.put(static_cast<uint32_t>(want.ID), 1);
        w.put(static_cast<uint32_t>(want.layer), 2);
        w.put(static_cast<uint32_t>(want.protection_bit), 1);
        w.put(static_cast<uint32_t>(want.bitrate_index), 4);
        w.put(static_cast<uint32_t>(want.sampling_frequency), 2);
        w.put(static_cast<uint32_t>(want.padding_bit), 1);
        w.put(static_cast<uint32_t>(want.private_bit), 1);
        w.put(static_cast<uint32_t>(want.mode), 2);
        w.put(static_cast<uint32_t>(want.mode_extension), 2);
        w.put(static_cast<uint32_t>(want.copyright), 1);
        w.put(static_cast<uint32_t>(want.original_home), 1);
        w.put(static_cast<uint32_t>(want.emphasis), 2);
        if (want.protection_bit == 0) {
            w.put(static_cast<uint32_t>(want.crc_check), 16);
        } else {
            want.crc_check = kOld;  // not transmitted, not written
        }
        const std::vector<uint8_t> bytes = w.bytes();  // exactly 4 or 6 bytes
        MP3_FrameHeader h = oldHeader();
        const uint8_t *cursor = bytes.data();
        MP3_ParseHeader(&cursor, &h);
        EXPECT_EQ(cursor, bytes.data() + bytes.size());
        expectHeader(h, want);
    }
}

// ---- Side information ------------------------------------------------------

// The transmitted fields of one granule and channel.
struct GranuleFields {
    uint32_t part2_3_length, big_values, global_gain, scalefac_compress;
    uint32_t window_switching_flag, block_type, mixed_block_flag;
    uint32_t table_select[3], subblock_gain[3];
    uint32_t region0_count, region1_count;
    uint32_t preflag, scalefac_scale, count1table_select;
};

struct Format {
    const char *name;
    std::vector<uint8_t> header;  // 4 bytes, or 6 with the CRC word
    bool mpeg1;
    int nch;
    int sideBytes;
};

const Format kFormats[] = {
    {"MPEG-1 stereo", {0xFF, 0xFB, 0x90, 0x44}, true, 2, 32},
    {"MPEG-1 stereo with CRC", {0xFF, 0xFA, 0x90, 0x04, 0xAB, 0xCD}, true, 2, 32},
    {"MPEG-1 mono with CRC", {0xFF, 0xFA, 0x90, 0xC4, 0x12, 0x34}, true, 1, 17},
    {"MPEG-1 mono", {0xFF, 0xFB, 0x90, 0xC4}, true, 1, 17},
    {"MPEG-2 stereo with CRC", {0xFF, 0xF2, 0x80, 0x84, 0x00, 0x01}, false, 2, 17},
    {"MPEG-2 mono", {0xFF, 0xF3, 0x80, 0xC4}, false, 1, 9},
    {"MPEG-2.5 stereo", {0xFF, 0xE3, 0x84, 0x64}, false, 2, 17},
    {"MPEG-2.5 mono with CRC", {0xFF, 0xE2, 0x84, 0xC4, 0xFF, 0xFF}, false, 1, 9},
};

struct Lcg {
    uint32_t state;
    uint32_t bits(int n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 7) & ((1u << n) - 1u);
    }
};

// Record i: plain blocks, short blocks, mixed short blocks, start/stop blocks.
GranuleFields randomGranule(Lcg &rng, bool mpeg1, int record) {
    GranuleFields f{};
    f.part2_3_length = rng.bits(12);
    f.big_values = rng.bits(9);
    f.global_gain = rng.bits(8);
    f.scalefac_compress = rng.bits(mpeg1 ? 4 : 9);
    f.window_switching_flag = record % 4 == 0 ? 0 : 1;
    const uint32_t blockTypes[4] = {0, 2, 2, 1 + 2 * rng.bits(1)};
    f.block_type = blockTypes[record % 4];
    f.mixed_block_flag = record % 4 == 2 ? 1 : 0;
    for (auto &t : f.table_select) t = rng.bits(5);
    for (auto &s : f.subblock_gain) s = rng.bits(3);
    f.region0_count = rng.bits(4);
    f.region1_count = rng.bits(3);
    f.preflag = rng.bits(1);
    f.scalefac_scale = rng.bits(1);
    f.count1table_select = rng.bits(1);
    return f;
}

// Writes one granule record in ISO/IEC 11172-3 / 13818-3 order.
void writeGranule(BitWriter &w, const GranuleFields &f, bool mpeg1) {
    w.put(f.part2_3_length, 12);
    w.put(f.big_values, 9);
    w.put(f.global_gain, 8);
    w.put(f.scalefac_compress, mpeg1 ? 4 : 9);
    w.put(f.window_switching_flag, 1);
    if (f.window_switching_flag) {
        w.put(f.block_type, 2);
        w.put(f.mixed_block_flag, 1);
        for (int i = 0; i < 2; ++i) w.put(f.table_select[i], 5);
        for (int i = 0; i < 3; ++i) w.put(f.subblock_gain[i], 3);
    } else {
        for (int i = 0; i < 3; ++i) w.put(f.table_select[i], 5);
        w.put(f.region0_count, 4);
        w.put(f.region1_count, 3);
    }
    if (mpeg1) w.put(f.preflag, 1);
    w.put(f.scalefac_scale, 1);
    w.put(f.count1table_select, 1);
}

// What the record must hold after the parse, starting from `old`.
MP3_GranuleInfo expectedRecord(MP3_GranuleInfo g, const GranuleFields &f, bool mpeg1) {
    auto i = [](uint32_t v) { return static_cast<int32_t>(v); };
    g.part2_3_length = i(f.part2_3_length);
    g.big_values = i(f.big_values);
    g.global_gain = i(f.global_gain);
    g.scalefac_compress = i(f.scalefac_compress);
    g.window_switching_flag = i(f.window_switching_flag);
    g.table_select[0] = i(f.table_select[0]);
    g.table_select[1] = i(f.table_select[1]);
    if (f.window_switching_flag) {
        g.block_type = i(f.block_type);
        g.mixed_block_flag = i(f.mixed_block_flag);
        for (int k = 0; k < 3; ++k) g.subblock_gain[k] = i(f.subblock_gain[k]);
        // Short blocks without mixing: 8 and 12; every other switched block: 7 and 13.
        const bool pureShort = f.block_type == 2 && f.mixed_block_flag == 0;
        g.region0_count = pureShort ? 8 : 7;
        g.region1_count = pureShort ? 12 : 13;
    } else {
        g.block_type = 0;
        g.mixed_block_flag = 0;
        g.table_select[2] = i(f.table_select[2]);
        g.region0_count = i(f.region0_count);
        g.region1_count = i(f.region1_count);
    }
    if (mpeg1) g.preflag = i(f.preflag);
    g.scalefac_scale = i(f.scalefac_scale);
    g.count1table_select = i(f.count1table_select);
    return g;
}

struct ParseOutput {
    MP3_FrameHeader header = oldHeader();
    MP3_GranuleInfo granules[4] = {oldGranule(), oldGranule(), oldGranule(), oldGranule()};
    int32_t mainDataBegin = kOld;
    int32_t privateBits = kOld;
    int32_t scfsi[2][4] = {{kOld, kOld, kOld, kOld}, {kOld, kOld, kOld, kOld}};
};

TEST(SideInfo, EveryFieldComesBackAndTheCursorAdvancesByTheLength) {
    for (const Format &format : kFormats) {
        SCOPED_TRACE(format.name);
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            Lcg rng{seed};
            const int ngr = format.mpeg1 ? 2 : 1;
            const uint32_t mainDataBegin = rng.bits(format.mpeg1 ? 9 : 8);
            const uint32_t privateBits = rng.bits(format.mpeg1 ? (format.nch == 1 ? 5 : 3) : format.nch);
            uint32_t scfsi[2][4];
            GranuleFields fields[4];
            BitWriter w;
            for (uint8_t b : format.header) w.put(b, 8);
            w.put(mainDataBegin, format.mpeg1 ? 9 : 8);
            w.put(privateBits, format.mpeg1 ? (format.nch == 1 ? 5 : 3) : format.nch);
            for (int ch = 0; format.mpeg1 && ch < format.nch; ++ch) {
                for (auto &flag : scfsi[ch]) w.put(flag = rng.bits(1), 1);
            }
            for (int record = 0; record < ngr * format.nch; ++record) {
                fields[record] = randomGranule(rng, format.mpeg1, record + static_cast<int>(seed));
                writeGranule(w, fields[record], format.mpeg1);
            }
            // Exactly the frame's bytes: any read past them is out of bounds.
            ASSERT_EQ(w.bitCount() % 8, 0u);
            ASSERT_EQ(w.bytes().size(), format.header.size() + static_cast<size_t>(format.sideBytes));
            const std::vector<uint8_t> bytes = w.bytes();

            ParseOutput out;
            const uint8_t *cursor = bytes.data();
            MP3_ParseHeader(&cursor, &out.header);
            ASSERT_EQ(cursor - bytes.data(), static_cast<long>(format.header.size()));
            EXPECT_EQ(MP3_SideInfoLength(&out.header), format.sideBytes);
            ASSERT_EQ(MP3_ParseSideInfo(&cursor, out.granules, &out.mainDataBegin, &out.privateBits,
                                        &out.scfsi[0][0], &out.header),
                      0);
            EXPECT_EQ(cursor, bytes.data() + bytes.size());
            EXPECT_EQ(out.mainDataBegin, static_cast<int32_t>(mainDataBegin));
            EXPECT_EQ(out.privateBits, static_cast<int32_t>(privateBits));
            for (int ch = 0; ch < 2; ++ch) {
                for (int k = 0; k < 4; ++k) {
                    const bool sent = format.mpeg1 && ch < format.nch;
                    EXPECT_EQ(out.scfsi[ch][k], sent ? static_cast<int32_t>(scfsi[ch][k]) : kOld) << ch << k;
                }
            }
            for (int record = 0; record < 4; ++record) {
                const MP3_GranuleInfo want = record < ngr * format.nch
                                                 ? expectedRecord(oldGranule(), fields[record], format.mpeg1)
                                                 : oldGranule();
                EXPECT_TRUE(sameGranule(out.granules[record], want)) << "record " << record << " seed " << seed;
            }
        }
    }
}

// Region counts derived for every switched block type, and the listed example.
TEST(SideInfo, SwitchedBlocksDeriveTheirRegions) {
    const struct {
        uint32_t blockType, mixed;
        int32_t region0, region1;
    } cases[] = {{2, 0, 8, 12}, {2, 1, 7, 13}, {1, 0, 7, 13}, {3, 0, 7, 13}, {1, 1, 7, 13}, {3, 1, 7, 13}};
    for (const auto &c : cases) {
        GranuleFields f{};
        f.window_switching_flag = 1;
        f.block_type = c.blockType;
        f.mixed_block_flag = c.mixed;
        f.region0_count = 15;  // not transmitted with window switching
        f.region1_count = 7;
        BitWriter w;
        w.put(0, 8);  // main_data_begin
        w.put(0, 1);  // private_bits
        writeGranule(w, f, false);
        w.align();
        ASSERT_EQ(w.bytes().size(), 9u);
        const std::vector<uint8_t> bytes = w.bytes();
        ParseOutput out;
        out.header = {0, 1, 1, 1, 1, 0, 0, 3, 0, 0, 0, 0, 0};
        out.granules[0].table_select[2] = 21;
        const uint8_t *cursor = bytes.data();
        ASSERT_EQ(MP3_ParseSideInfo(&cursor, out.granules, &out.mainDataBegin, &out.privateBits, &out.scfsi[0][0],
                                    &out.header),
                  0);
        EXPECT_EQ(out.granules[0].block_type, static_cast<int32_t>(c.blockType));
        EXPECT_EQ(out.granules[0].mixed_block_flag, static_cast<int32_t>(c.mixed));
        EXPECT_EQ(out.granules[0].region0_count, c.region0);
        EXPECT_EQ(out.granules[0].region1_count, c.region1);
        EXPECT_EQ(out.granules[0].table_select[2], 21);
        EXPECT_EQ(out.granules[0].preflag, kOld);
    }
}

// Window switching with block_type 0 in the second channel of granule 0:
// everything before it written, the faulty record up to block_type, the rest
// untouched, and the cursor where it was.
TEST(SideInfo, ForbiddenBlockTypeStopsAfterWritingIt) {
    const struct {
        const char *name;
        bool mpeg1;
        int nch;
        int faulty;
        std::vector<uint8_t> header;
    } cases[] = {
        {"MPEG-1 stereo, gr0 ch1", true, 2, 1, {0xFF, 0xFB, 0x90, 0x44}},
        {"MPEG-1 mono, gr1", true, 1, 1, {0xFF, 0xFB, 0x90, 0xC4}},
        {"MPEG-2 stereo, ch0", false, 2, 0, {0xFF, 0xF3, 0x80, 0x04}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Lcg rng{99};
        GranuleFields fields[4];
        BitWriter w;
        w.put(0x1A5, c.mpeg1 ? 9 : 8);
        const int privateWidth = c.mpeg1 ? (c.nch == 1 ? 5 : 3) : c.nch;
        const int32_t privateBits = 0x15 & ((1 << privateWidth) - 1);
        w.put(static_cast<uint32_t>(privateBits), privateWidth);
        for (int ch = 0; c.mpeg1 && ch < c.nch; ++ch) w.put(0xA, 4);
        const int records = (c.mpeg1 ? 2 : 1) * c.nch;
        for (int record = 0; record < records; ++record) {
            fields[record] = randomGranule(rng, c.mpeg1, 1);
            if (record == c.faulty) fields[record].block_type = 0;
            writeGranule(w, fields[record], c.mpeg1);
        }
        const std::vector<uint8_t> bytes = w.bytes();
        ASSERT_EQ(bytes.size(), static_cast<size_t>(c.mpeg1 ? (c.nch == 1 ? 17 : 32) : (c.nch == 1 ? 9 : 17)));

        ParseOutput out;
        const uint8_t *headerCursor = c.header.data();
        MP3_ParseHeader(&headerCursor, &out.header);
        const uint8_t *cursor = bytes.data();
        EXPECT_EQ(MP3_ParseSideInfo(&cursor, out.granules, &out.mainDataBegin, &out.privateBits, &out.scfsi[0][0],
                                    &out.header),
                  MP3_ERR_PARAM);
        EXPECT_EQ(cursor, bytes.data());
        EXPECT_EQ(out.mainDataBegin, c.mpeg1 ? 0x1A5 : 0xA5);
        EXPECT_EQ(out.privateBits, privateBits);
        EXPECT_EQ(out.scfsi[0][0], c.mpeg1 ? 1 : kOld);
        EXPECT_EQ(out.scfsi[1][3], c.mpeg1 && c.nch == 2 ? 0 : kOld);
        for (int record = 0; record < 4; ++record) {
            MP3_GranuleInfo want = oldGranule();
            if (record < c.faulty) want = expectedRecord(oldGranule(), fields[record], c.mpeg1);
            if (record == c.faulty) {
                want.part2_3_length = static_cast<int32_t>(fields[record].part2_3_length);
                want.big_values = static_cast<int32_t>(fields[record].big_values);
                want.global_gain = static_cast<int32_t>(fields[record].global_gain);
                want.scalefac_compress = static_cast<int32_t>(fields[record].scalefac_compress);
                want.window_switching_flag = 1;
                want.block_type = 0;
            }
            EXPECT_TRUE(sameGranule(out.granules[record], want)) << "record " << record;
        }
    }
}

// A header that is not Layer III, or an ID outside 0..1, writes nothing.
TEST(SideInfo, RejectsOtherLayersAndIdsBeforeWriting) {
    const struct {
        int32_t ID, layer;
    } cases[] = {{1, 0}, {1, 2}, {0, 3}, {2, 1}, {-1, 1}, {kOld, 1}};
    const std::vector<uint8_t> bytes(32, 0xFF);
    for (const auto &c : cases) {
        ParseOutput out;
        out.header = {c.ID, c.layer, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
        const uint8_t *cursor = bytes.data();
        EXPECT_EQ(MP3_ParseSideInfo(&cursor, out.granules, &out.mainDataBegin, &out.privateBits, &out.scfsi[0][0],
                                    &out.header),
                  MP3_ERR_PARAM)
            << c.ID << "/" << c.layer;
        EXPECT_EQ(cursor, bytes.data());
        EXPECT_EQ(out.mainDataBegin, kOld);
        EXPECT_EQ(out.privateBits, kOld);
        EXPECT_EQ(out.scfsi[0][0], kOld);
        EXPECT_TRUE(sameGranule(out.granules[0], oldGranule()));
    }
}

// ---- Frame sizes -----------------------------------------------------------

TEST(FrameSizes, EveryEntryFollowsTheBitrateRule) {
    const int64_t mpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const int64_t mpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int64_t rates1[3] = {44100, 48000, 32000};
    const int64_t rates2[3] = {22050, 24000, 16000};
    const int64_t rates25[3] = {11025, 12000, 8000};
    for (int sf = 0; sf < 3; ++sf) {
        for (int bi = 0; bi < 15; ++bi) {
            EXPECT_EQ(MP3_FrameBytesMpeg1[sf][bi], 144 * mpeg1Kbps[bi] * 1000 / rates1[sf]) << sf << "," << bi;
            EXPECT_EQ(MP3_FrameBytesMpeg2[sf][bi], 72 * mpeg2Kbps[bi] * 1000 / rates2[sf]) << sf << "," << bi;
            EXPECT_EQ(MP3_FrameBytesMpeg25[sf][bi], 72 * mpeg2Kbps[bi] * 1000 / rates25[sf]) << sf << "," << bi;
        }
    }
    EXPECT_EQ(MP3_FrameBytesMpeg1[0][9], 417);   // 128 kbit/s, 44100 Hz
    EXPECT_EQ(MP3_FrameBytesMpeg2[1][1], 24);    // 8 kbit/s, 24000 Hz
    EXPECT_EQ(MP3_FrameBytesMpeg25[0][8], 417);  // 64 kbit/s, 11025 Hz
    EXPECT_EQ(MP3_FrameBytesMpeg25[2][8], 576);  // 64 kbit/s, 8000 Hz
}

// At 12000 and 8000 Hz the MPEG-2.5 size is twice the MPEG-2 one; at 11025 Hz
// it is one byte more exactly at 40, 48, 56, 64, 112 and 128 kbit/s.
TEST(FrameSizes, Mpeg25AgainstTwiceMpeg2) {
    const bool oneMore[15] = {false, false, false, false, false, true, true, true,
                              true,  false, false, true, true, false, false};
    for (int bi = 0; bi < 15; ++bi) {
        EXPECT_EQ(MP3_FrameBytesMpeg25[0][bi], 2 * MP3_FrameBytesMpeg2[0][bi] + (oneMore[bi] ? 1 : 0)) << bi;
        EXPECT_EQ(MP3_FrameBytesMpeg25[1][bi], 2 * MP3_FrameBytesMpeg2[1][bi]) << bi;
        EXPECT_EQ(MP3_FrameBytesMpeg25[2][bi], 2 * MP3_FrameBytesMpeg2[2][bi]) << bi;
    }
}

}  // namespace
