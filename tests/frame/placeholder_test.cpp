#include <gtest/gtest.h>
#include "mpfix.h"
TEST(Layout, DecoderRecordSize) { EXPECT_EQ(sizeof(MP3_Decoder), 24880u); }
