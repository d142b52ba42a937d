// The frame driver on constructed frames: sync search results, rejected
// headers, the bit reservoir, incomplete frames and the held-back byte.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "audio/frame/decoder_state.h"
#include "audio/frame/frame_driver.h"
#include "audio/frame/ring_buffer.h"
#include "audio/frame/sync_search.h"
#include "support/frame_builder.h"
#include "support/memory_source.h"

using namespace mpfix;

namespace {

using mpfix::test::buildFrame;
using mpfix::test::buildFrames;
using mpfix::test::FrameFields;
using mpfix::test::Host;
using mpfix::test::mainDataBytes;

// A freshly reset host whose ring holds `bytes` (one refill).
std::unique_ptr<Host> loaded(const std::vector<uint8_t> &bytes) {
    auto host = std::make_unique<Host>(bytes);
    MP3_ResetDecoder(&host->decoder, &host->stream);
    MP3_Refill(&host->stream);
    return host;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int16_t> pcmBuffer() { return std::vector<int16_t>(2304, 0x5555); }

TEST(FrameDriver, DrainedRingNeedsData) {
    auto host = loaded({});
    host->decoder.syncType = 1234;
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NEED_DATA);
    EXPECT_EQ(host->decoder.syncType, 1234);  // nothing touched
}

TEST(FrameDriver, NonSyncBytesDrainTheRing) {
    auto host = loaded(std::vector<uint8_t>(300, 0x12));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NO_SYNC);
    EXPECT_EQ(host->stream.readIndex, host->stream.writeIndex);
    EXPECT_EQ(host->decoder.syncType, MP3_SYNC_FFE);
}

TEST(FrameDriver, RejectedLayerOneHeaderThenValidFrame) {
    const FrameFields fields;
    auto host = loaded(concat({0x12, 0xFF, 0xF6, 0x00}, buildFrames(fields, 2)));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_BAD_HEADER);
    EXPECT_EQ(host->stream.readIndex, 2u);  // the F6 byte
    EXPECT_EQ(host->decoder.header.layer, 3);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->stream.readIndex, 4u + 417u);
    EXPECT_EQ(host->decoder.frameSamples, 2304);
    for (int16_t s : pcm) ASSERT_EQ(s, 0);  // empty granules decode to silence
}

TEST(FrameDriver, HeadersWithoutFrameSizeAreRejected) {
    // bitrate_index 15, sampling_frequency 3 and the reserved version (sync
    // 0xFFE with ID 1) leave the reservoir alone and resume one byte after
    // the 0xFF. (Free format, bitrate_index 0, has its length learnt.)
    const uint8_t headerBytes[][2] = {{0xFB, 0xF0}, {0xFB, 0x9C}, {0xEB, 0x90}};
    for (const auto &b : headerBytes) {
        auto host = loaded({0xFF, b[0], b[1], 0x00, 0, 0, 0, 0, 0, 0});
        host->decoder.reservoirFill = 7;
        auto pcm = pcmBuffer();
        EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_BAD_HEADER);
        EXPECT_EQ(host->stream.readIndex, 1u);
        EXPECT_EQ(host->decoder.reservoirFill, 7);
    }
}

TEST(FrameDriver, ReservoirUnderflowThenRecovery) {
    FrameFields first;
    first.mainDataBegin = 100;
    FrameFields second;
    second.mainDataBegin = 50;
    auto host = loaded(concat(concat(buildFrame(first), buildFrame(second)), buildFrame(FrameFields{})));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NOT_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 381);
    EXPECT_EQ(host->stream.readIndex, 417u);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 50 + 381);
}

TEST(FrameDriver, MainDataLengthOfEachLayout) {
    // Each frame refers back further than the empty reservoir reaches, so it is
    // consumed but not decoded, and reservoirFill is its main-data length.
    struct Case {
        FrameFields fields;
        int length;
        int frameSamples;
    };
    std::vector<Case> cases;
    cases.push_back({FrameFields{}, 381, 2304});
    FrameFields crc;
    crc.crc = true;
    cases.push_back({crc, 379, 2304});
    FrameFields padded;
    padded.padding = 1;
    cases.push_back({padded, 382, 2304});
    FrameFields mpeg2;  // mono, 22.05 kHz, 64 kbit/s
    mpeg2.id = 0;
    mpeg2.bitrateIndex = 8;
    mpeg2.mode = 3;
    cases.push_back({mpeg2, 195, 576});
    FrameFields mpeg25mono = mpeg2;  // 8 kHz, 64 kbit/s
    mpeg25mono.mpeg25 = true;
    mpeg25mono.samplingFrequency = 2;
    cases.push_back({mpeg25mono, 563, 576});
    FrameFields mpeg25stereo = mpeg2;  // 11.025 kHz, 64 kbit/s: 417-byte frames
    mpeg25stereo.mpeg25 = true;
    mpeg25stereo.mode = 0;
    cases.push_back({mpeg25stereo, 417 - 4 - 17, 1152});
    for (Case c : cases) {
        c.fields.mainDataBegin = 1;
        ASSERT_EQ(mainDataBytes(c.fields), c.length);
        auto host = loaded(concat(buildFrame(c.fields), buildFrame(c.fields)));
        auto pcm = pcmBuffer();
        EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NOT_DECODED);
        EXPECT_EQ(host->decoder.reservoirFill, c.length);
        EXPECT_EQ(host->decoder.frameSamples, c.frameSamples);
        // The next frame starts right after this one.
        EXPECT_EQ(host->stream.buffer[host->stream.readIndex], 0xFF);
    }
}

TEST(FrameDriver, IncompleteFramePutsReadIndexBack) {
    const auto frame = buildFrame(FrameFields{});
    // Sync pattern as the last two stored bytes, a header cut short, side
    // information cut short, main data cut short.
    for (size_t stored : {2u, 5u, 20u, 416u}) {
        std::vector<uint8_t> bytes = {0x00, 0x11};
        bytes.insert(bytes.end(), frame.begin(), frame.begin() + static_cast<long>(stored));
        auto host = loaded(bytes);
        auto pcm = pcmBuffer();
        EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NEED_DATA) << stored;
        EXPECT_EQ(host->stream.readIndex, 0u) << stored;
        EXPECT_EQ(host->decoder.reservoirFill, 0) << stored;
    }
}

TEST(FrameDriver, LastMainDataByteOnTheHeldBackByte) {
    // The second frame ends exactly at writeIndex: its last byte is stored
    // but held back. It is part of the frame, so it reaches the reservoir,
    // and the ring is left drained. (The first frame is confirmed by the
    // header of the second; the second follows it directly.)
    FrameFields fields;
    fields.fill = 0xA5;
    auto host = loaded(concat(buildFrame(FrameFields{}), buildFrame(fields)));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 381);
    EXPECT_EQ(host->decoder.reservoir[380], 0xA5);
    EXPECT_EQ(host->stream.readIndex, host->stream.writeIndex);
}

TEST(FrameDriver, LoneFrameIsConfirmedByTheEndOfTheInput) {
    // Nothing follows the only frame: it waits for more input, and once the
    // input has ended it is taken, since it ends exactly at the end.
    auto host = loaded(buildFrame(FrameFields{}));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NEED_DATA);
    EXPECT_EQ(host->stream.readIndex, 0u);
    MP3_SyncMemory memory = MP3_LoadSyncMemory(&host->decoder);
    memory.inputEnded = 1;
    MP3_StoreSyncMemory(&host->decoder, memory);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    // One byte short of its length, it is rejected instead.
    auto cut = buildFrame(FrameFields{});
    cut.pop_back();
    auto shortHost = loaded(cut);
    MP3_StoreSyncMemory(&shortHost->decoder, memory);
    EXPECT_EQ(MP3_DecodeOneFrame(&shortHost->stream, pcm.data(), &shortHost->decoder), MP3_FRAME_BAD_HEADER);
}

TEST(FrameDriver, CandidatesNeedTheNextHeader) {
    // After junk, a header is taken only when another one of the same
    // version, layer and sampling frequency stands where its frame ends.
    const auto frame = buildFrame(FrameFields{});
    FrameFields other;  // 48 kHz: another sampling frequency
    other.samplingFrequency = 1;
    auto host = loaded(concat(concat({0x12}, frame), buildFrame(other)));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_BAD_HEADER);
    EXPECT_EQ(host->stream.readIndex, 2u);  // one byte after the rejected 0xFF
    auto good = loaded(concat(concat({0x12}, frame), frame));
    EXPECT_EQ(MP3_DecodeOneFrame(&good->stream, pcm.data(), &good->decoder), MP3_FRAME_DECODED);
}

TEST(FrameDriver, GapEmptiesTheReservoir) {
    // A frame after skipped bytes does not count back into the reservoir:
    // its main data is appended to an empty one and, reaching back, it is
    // not decoded; the frame after it is.
    FrameFields back;
    back.mainDataBegin = 50;
    auto host = loaded(concat(concat(buildFrames(FrameFields{}, 2), {0x00, 0x00}), buildFrames(back, 2)));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 381);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NOT_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 381);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->decoder.reservoirFill, 50 + 381);
}

TEST(FrameDriver, TagsAreSkippedWhole) {
    // An ID3v2 tag whose body holds two valid-looking frames, between
    // frames: the tag is skipped, so the frame after it decodes next.
    std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x07, 0x04};  // 10 + 900 bytes
    tag.resize(10 + 900, 0x00);
    const auto frame = buildFrame(FrameFields{});
    std::copy(frame.begin(), frame.end(), tag.begin() + 20);
    std::copy(frame.begin(), frame.end(), tag.begin() + 20 + 417);
    auto host = loaded(concat(concat(concat(concat(frame, frame), tag), frame), frame));
    auto pcm = pcmBuffer();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED) << i;
    EXPECT_EQ(host->stream.readIndex, 2 * 417u + 910u + 417u);
}

TEST(FrameDriver, FaultySideInformationDecodesAsSilence) {
    // Window switching with block_type 0 is a fault of the side information:
    // the frame is consumed and its samples written, as silence.
    auto frame = buildFrame(FrameFields{});
    frame[4 + 6] |= 0x04;  // gr0/ch0 window_switching_flag: side-information bit 20 + 12 + 9 + 8 + 4 = 53
    auto host = loaded(concat(concat(buildFrame(FrameFields{}), frame), buildFrame(FrameFields{})));
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    std::fill(pcm.begin(), pcm.end(), int16_t{0x5555});
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
    EXPECT_EQ(host->decoder.frameSamples, 2304);
    for (int16_t s : pcm) ASSERT_EQ(s, 0);
}

TEST(FrameDriver, FullRingDoesNotStall) {
    // A frame found in a full ring that does not fit in it: putting readIndex
    // back to its entry value would leave the ring full for ever. It restarts
    // at the sync pattern instead, so the refill makes room.
    const auto frame = buildFrame(FrameFields{});
    std::vector<uint8_t> bytes(MP3_RING_SIZE - 100, 0x00);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    bytes.insert(bytes.end(), frame.begin(), frame.end());  // confirms the first
    auto host = std::make_unique<Host>(bytes);
    MP3_ResetDecoder(&host->decoder, &host->stream);
    MP3_Refill(&host->stream);
    host->stream.readIndex = 1;  // make the ring completely full after one more refill
    host->stream.writeIndex = MP3_RING_SIZE - 1;
    host->source.position = MP3_RING_SIZE;
    MP3_Refill(&host->stream);
    ASSERT_EQ(MP3_BytesAvailable(&host->stream), MP3_RING_SIZE);
    auto pcm = pcmBuffer();
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_NEED_DATA);
    EXPECT_EQ(host->stream.readIndex, static_cast<uint32_t>(MP3_RING_SIZE - 100));
    EXPECT_GT(MP3_Refill(&host->stream), 0);
    EXPECT_EQ(MP3_DecodeOneFrame(&host->stream, pcm.data(), &host->decoder), MP3_FRAME_DECODED);
}

}  // namespace
