// Decoder reset on records filled with a byte pattern: exactly the carried
// state is cleared, and the stream is drained at 0/0.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "audio/frame/decoder_state.h"
#include "mpfix.h"

using namespace mpfix;

namespace {

constexpr uint8_t kPattern = 0xA7;

int32_t dummyRead(uint8_t *, int32_t, void *) { return 0; }

// [offset, offset + size) of a field of MP3_Decoder.
struct Span {
    const char *name;
    size_t offset, size;
};

#define FIELD(f) Span{#f, offsetof(MP3_Decoder, f), sizeof(MP3_Decoder::f)}
#define HEADER_FIELD(f) Span{"header." #f, offsetof(MP3_Decoder, header) + offsetof(MP3_FrameHeader, f), 4}

TEST(DecoderReset, ClearsExactlyTheCarriedState) {
    const Span cleared[] = {
        HEADER_FIELD(ID), HEADER_FIELD(layer), HEADER_FIELD(protection_bit), HEADER_FIELD(bitrate_index),
        HEADER_FIELD(sampling_frequency), HEADER_FIELD(padding_bit), HEADER_FIELD(private_bit),
        HEADER_FIELD(mode), HEADER_FIELD(mode_extension), HEADER_FIELD(crc_check),
        FIELD(granules), FIELD(scalefactors), FIELD(scfsi), FIELD(spectrum), FIELD(nonzeroCount),
        FIELD(reorderScratch), FIELD(hybridOut), FIELD(overlap), FIELD(prevSubbands), FIELD(synthV),
        FIELD(synthIndex), FIELD(reservoir), FIELD(reservoirFill), FIELD(channels), FIELD(frameSamples),
    };
    auto decoder = std::make_unique<MP3_Decoder>();
    auto stream = std::make_unique<MP3_Stream>();
    std::memset(decoder.get(), kPattern, sizeof(MP3_Decoder));
    std::memset(stream.get(), kPattern, sizeof(MP3_Stream));
    int userValue = 0;
    stream->readFn = &dummyRead;
    stream->userData = &userValue;

    EXPECT_EQ(MP3_ResetDecoder(decoder.get(), stream.get()), 1);

    // Every byte of the record is either in a cleared field (zero) or kept.
    const auto *bytes = reinterpret_cast<const uint8_t *>(decoder.get());
    for (size_t i = 0; i < sizeof(MP3_Decoder); ++i) {
        const char *owner = nullptr;
        for (const Span &s : cleared) {
            if (i >= s.offset && i < s.offset + s.size) owner = s.name;
        }
        if (owner) {
            ASSERT_EQ(bytes[i], 0) << owner << " byte " << i;
        } else {
            ASSERT_EQ(bytes[i], kPattern) << "byte " << i << " should be kept";
        }
    }
    // The kept fields, named.
    const int32_t patternWord = static_cast<int32_t>(0xA7A7A7A7u);
    EXPECT_EQ(decoder->header.copyright, patternWord);
    EXPECT_EQ(decoder->header.original_home, patternWord);
    EXPECT_EQ(decoder->header.emphasis, patternWord);
    EXPECT_EQ(decoder->syncType, patternWord);
    EXPECT_EQ(decoder->sideInfoBytes[0], kPattern);
    EXPECT_EQ(decoder->sideInfoBytes[MP3_SIDE_INFO_BYTES - 1], kPattern);

    EXPECT_EQ(stream->readIndex, 0u);
    EXPECT_EQ(stream->writeIndex, 0u);
    EXPECT_EQ(stream->size, MP3_RING_SIZE);
    EXPECT_EQ(stream->readFn, &dummyRead);
    EXPECT_EQ(stream->userData, &userValue);
    for (uint32_t i = 0; i < MP3_RING_SIZE; ++i) ASSERT_EQ(stream->buffer[i], kPattern) << i;
}

TEST(DecoderReset, RecordLayoutHasNoGaps) { EXPECT_EQ(sizeof(MP3_Decoder), 24880u); }

}  // namespace
