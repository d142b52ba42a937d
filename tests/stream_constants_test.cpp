// The stream shape every stage shares, against its definition.
#include <gtest/gtest.h>

#include <cstdint>

#include "audio/stream_constants.h"

using namespace mpfix;

namespace {

TEST(StreamConstants, SubbandsOfLinesIsTheCeilingOfAnEighteenth) {
    // Exact wherever it is used (lines up to 576 plus the alias reach) and well beyond.
    for (int32_t lines = 0; lines <= 32000; ++lines) {
        ASSERT_EQ(subbandsOfLines(lines), (lines + MP3_SLOTS - 1) / MP3_SLOTS) << lines;
    }
}

TEST(StreamConstants, WhatModeAndIdImply) {
    const int32_t channels[4] = {2, 2, 2, 1};  // stereo, joint stereo, dual channel, single channel
    for (int32_t mode = 0; mode < 4; ++mode) EXPECT_EQ(channelsOfMode(mode), channels[mode]) << mode;
    EXPECT_EQ(granulesOfVersion(1), 2);
    EXPECT_EQ(granulesOfVersion(0), 1);
    EXPECT_EQ(mixedLongBandsOf(1), 8);
    EXPECT_EQ(mixedLongBandsOf(0), 6);
    EXPECT_EQ(MP3_MIXED_LONG_VALUES, 2 * MP3_SLOTS);
    EXPECT_EQ(MP3_WINDOWS * MP3_WINDOW_LINES, MP3_GRANULE_LINES);
}

}  // namespace
