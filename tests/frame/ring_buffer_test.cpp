// Input ring: refill calls and index updates, delivery with the held-back
// byte, fill level, the sync search, and a round trip of a long byte stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/frame/ring_buffer.h"
#include "mpfix.h"

using namespace mpfix;

namespace {

struct Call {
    long offset;  // destination - buffer
    int32_t maxBytes;
    bool operator==(const Call &) const = default;
};

// A host source that answers each call with the next planned count, records
// every call, and writes a numbered byte stream so the contents can be checked.
struct ScriptedSource {
    MP3_Stream *stream = nullptr;
    std::vector<int32_t> plan;
    size_t nextPlan = 0;
    std::vector<Call> calls;
    uint32_t serial = 0;  // number of bytes produced so far
    bool keepContract = false;  // clamp answers to maxBytes; off to test a faulty host

    static uint8_t byteOf(uint32_t serial) { return static_cast<uint8_t>((serial * 131u) ^ (serial >> 8)); }

    static int32_t read(uint8_t *destination, int32_t maxBytes, void *userData) {
        auto *self = static_cast<ScriptedSource *>(userData);
        self->calls.push_back({static_cast<long>(destination - self->stream->buffer), maxBytes});
        int32_t n = self->nextPlan < self->plan.size() ? self->plan[self->nextPlan++] : 0;
        if (self->keepContract) n = std::clamp(n, 0, maxBytes);
        for (int32_t i = 0; i < n && i < maxBytes; ++i) destination[i] = byteOf(self->serial++);
        return n;
    }
};

class RingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(stream.get(), 0, sizeof(MP3_Stream));
        source = ScriptedSource{};
        stream->size = MP3_RING_SIZE;
        source.stream = stream.get();
        stream->readFn = &ScriptedSource::read;
        stream->userData = &source;
    }
    void setIndexes(uint32_t r, uint32_t w) {
        stream->readIndex = r;
        stream->writeIndex = w;
    }
    // Ring bytes hold a function of their index.
    void fillByIndex() {
        for (uint32_t i = 0; i < MP3_RING_SIZE; ++i) stream->buffer[i] = static_cast<uint8_t>(i * 7u + (i >> 8));
    }

    std::unique_ptr<MP3_Stream> stream = std::make_unique<MP3_Stream>();
    ScriptedSource source;
};

struct RefillCase {
    const char *name;
    uint32_t readIndex, writeIndex;
    std::vector<int32_t> plan;
    std::vector<Call> expectedCalls;
    uint32_t expectedRead, expectedWrite;
    int32_t expectedResult;
};

TEST_F(RingTest, RefillCallsAndIndexes) {
    const RefillCase cases[] = {
        {"drained at 0, 100 bytes", 0, 0, {100}, {{0, 65536}}, 0, 99, 100},
        {"drained elsewhere restarts at 0", 777, 777, {50}, {{0, 65536}}, 0, 49, 50},
        {"drained, whole ring", 0, 0, {65536}, {{0, 65536}}, 0, 65535, 65536},
        {"drained, nothing", 0, 0, {0}, {{0, 65536}}, 0, 0, 0},
        {"wraps to a full ring", 10, 99, {65436, 10}, {{100, 65436}, {0, 10}}, 10, 9, 65446},
        {"wraps, second call empty", 10, 99, {65436, 0}, {{100, 65436}, {0, 10}}, 10, 65535, 65436},
        {"wraps, second call short", 10, 99, {65436, 4}, {{100, 65436}, {0, 10}}, 10, 3, 65440},
        {"tail short, no second call", 10, 99, {1000}, {{100, 65436}}, 10, 1099, 1000},
        {"read at 0, tail only", 0, 99, {65436}, {{100, 65436}}, 0, 65535, 65436},
        {"gap before readIndex", 500, 99, {400}, {{100, 400}}, 500, 499, 400},
        {"gap, short", 500, 99, {150}, {{100, 400}}, 500, 249, 150},
        {"full ring asks for 0", 500, 499, {0}, {{500, 0}}, 500, 499, 0},
        {"full ring at the end", 0, 65535, {0}, {{0, 0}}, 0, 65535, 0},
        {"write at 65535", 300, 65535, {0, 300}, {{0, 0}, {0, 300}}, 300, 299, 300},
        {"write at 65535, nothing", 300, 65535, {0, 0}, {{0, 0}, {0, 300}}, 300, 65535, 0},
    };
    for (const RefillCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        setIndexes(c.readIndex, c.writeIndex);
        source.plan = c.plan;
        EXPECT_EQ(MP3_Refill(stream.get()), c.expectedResult);
        EXPECT_EQ(source.calls, c.expectedCalls);
        EXPECT_EQ(stream->readIndex, c.expectedRead);
        EXPECT_EQ(stream->writeIndex, c.expectedWrite);
    }
}

TEST_F(RingTest, DrainedRingWithoutInputStaysDrainedAndAsksAgain) {
    source.plan = {0, 0};
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(source.calls, (std::vector<Call>{{0, 65536}, {0, 65536}}));
    EXPECT_EQ(stream->readIndex, 0u);
    EXPECT_EQ(stream->writeIndex, 0u);
    uint8_t out[4];
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out, 4), 0);
}

TEST_F(RingTest, NullCallbackChangesNothing) {
    fillByIndex();
    setIndexes(123, 45);
    stream->readFn = nullptr;
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(stream->readIndex, 123u);
    EXPECT_EQ(stream->writeIndex, 45u);
    for (uint32_t i = 0; i < MP3_RING_SIZE; ++i) ASSERT_EQ(stream->buffer[i], static_cast<uint8_t>(i * 7u + (i >> 8)));
}

// A callback that breaks its contract cannot push writeIndex outside the ring
// or past readIndex.
TEST_F(RingTest, CallbackResultsOutsideTheContractAreClamped) {
    source.plan = {-5};
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(stream->writeIndex, 0u);

    SetUp();
    setIndexes(500, 99);
    source.plan = {100000};
    EXPECT_EQ(MP3_Refill(stream.get()), 400);
    EXPECT_EQ(stream->writeIndex, 499u);
}

// The 100th byte is held back until a later refill stores bytes behind it.
TEST_F(RingTest, LastStoredByteIsHeldBack) {
    source.plan = {100, 5};
    ASSERT_EQ(MP3_Refill(stream.get()), 100);
    std::vector<uint8_t> out(200);
    EXPECT_EQ(MP3_BytesAvailable(stream.get()), 100);
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out.data(), 60), 60);
    ASSERT_EQ(MP3_Refill(stream.get()), 5);
    EXPECT_EQ(source.calls.back(), (Call{100, 65436}));
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out.data() + 60, 200), 44);
    EXPECT_EQ(stream->readIndex, 104u);
    for (uint32_t i = 0; i < 104; ++i) ASSERT_EQ(out[i], ScriptedSource::byteOf(i)) << i;
}

// Reading up to the held-back byte drains the ring; the next refill restarts
// it at index 0 and that byte is never delivered.
TEST_F(RingTest, RefillOfADrainedRingDropsTheHeldBackByte) {
    source.plan = {100, 5};
    ASSERT_EQ(MP3_Refill(stream.get()), 100);
    std::vector<uint8_t> out(200);
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out.data(), 200), 99);
    EXPECT_EQ(MP3_BytesAvailable(stream.get()), 1);
    ASSERT_EQ(MP3_Refill(stream.get()), 5);
    EXPECT_EQ(source.calls.back(), (Call{0, 65536}));
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out.data(), 200), 4);
    EXPECT_EQ(out[0], ScriptedSource::byteOf(100));
}

// A held-back 0xFF may be the first byte of a sync pattern whose second byte
// has not arrived: the restarted ring keeps it in front of the new bytes.
TEST_F(RingTest, RefillOfADrainedRingKeepsAHeldBack0xFF) {
    setIndexes(777, 777);
    stream->buffer[777] = 0xFF;
    source.plan = {0, 5};
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(source.calls.back(), (Call{1, 65535}));
    EXPECT_EQ(stream->readIndex, 0u);  // still drained, the 0xFF still held
    EXPECT_EQ(stream->writeIndex, 0u);
    ASSERT_EQ(MP3_Refill(stream.get()), 5);
    EXPECT_EQ(source.calls.back(), (Call{1, 65535}));
    EXPECT_EQ(stream->writeIndex, 5u);
    std::vector<uint8_t> out(10);
    ASSERT_EQ(MP3_ReadBytes(stream.get(), out.data(), 10), 5);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], ScriptedSource::byteOf(0));
}

// So may a held-back 'I', the first byte of an ID3v2 tag.
TEST_F(RingTest, RefillOfADrainedRingKeepsAHeldBackTagStart) {
    setIndexes(300, 300);
    stream->buffer[300] = 'I';
    source.plan = {5};
    ASSERT_EQ(MP3_Refill(stream.get()), 5);
    EXPECT_EQ(source.calls.back(), (Call{1, 65535}));
    std::vector<uint8_t> out(10);
    ASSERT_EQ(MP3_ReadBytes(stream.get(), out.data(), 10), 5);
    EXPECT_EQ(out[0], 'I');
}

TEST_F(RingTest, BytesAvailableCountsTheHeldBackByte) {
    const struct {
        uint32_t r, w;
        int32_t expected;
    } cases[] = {{0, 10, 11}, {10, 0, 65527}, {0, 65535, 65536}, {65535, 0, 2}, {5, 5, 1}, {500, 499, 65536}};
    for (const auto &c : cases) {
        setIndexes(c.r, c.w);
        EXPECT_EQ(MP3_BytesAvailable(stream.get()), c.expected) << c.r << "/" << c.w;
    }
}

TEST_F(RingTest, ReadBytesStopsAtCountOrWriteIndexAcrossTheWrap) {
    fillByIndex();
    const struct {
        uint32_t r, w;
        int32_t count, expected;
        uint32_t readAfter;
    } cases[] = {
        {65534, 2, 6, 4, 2},    // offsets 65534, 65535, 0, 1
        {65534, 2, 3, 3, 1},    // count reached first
        {0, 10, 3, 3, 3},
        {7, 7, 5, 0, 7},        // drained
        {500, 499, 70000, 65535, 499},  // full ring: all but the held-back byte
        {10, 20, 0, 0, 10},     // nothing asked, nothing copied
        {10, 20, -3, 0, 10},
    };
    std::vector<uint8_t> out(70001);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.r << "/" << c.w << " count " << c.count);
        setIndexes(c.r, c.w);
        std::fill(out.begin(), out.end(), 0xA5);
        EXPECT_EQ(MP3_ReadBytes(stream.get(), out.data(), c.count), c.expected);
        EXPECT_EQ(stream->readIndex, c.readAfter);
        for (int32_t i = 0; i < c.expected; ++i) {
            const uint32_t at = (c.r + static_cast<uint32_t>(i)) & 65535u;
            ASSERT_EQ(out[static_cast<size_t>(i)], stream->buffer[at]) << i;
        }
        EXPECT_EQ(out[static_cast<size_t>(c.expected)], 0xA5) << "wrote past the delivered bytes";
    }
}

// Indexes beyond the ring (a corrupt record) are taken modulo its size.
TEST_F(RingTest, OutOfRangeIndexesStayInsideTheRing) {
    fillByIndex();
    setIndexes(65536u + 10u, 0xFFFF0000u + 99u);
    EXPECT_EQ(MP3_BytesAvailable(stream.get()), 90);
    uint8_t out[100];
    EXPECT_EQ(MP3_ReadBytes(stream.get(), out, 100), 89);
    EXPECT_EQ(out[0], stream->buffer[10]);
    EXPECT_EQ(stream->readIndex, 99u);

    setIndexes(0x7FFF0000u + 10u, 0xFFFF0000u + 99u);
    source.plan = {0};
    EXPECT_EQ(MP3_Refill(stream.get()), 0);
    EXPECT_EQ(source.calls.back(), (Call{100, 65436}));

    setIndexes(0x12345678u, 0x9ABCDEF0u);
    int32_t syncType = 0;
    MP3_FindSync(stream.get(), &syncType);
    EXPECT_LT(stream->readIndex, 65536u);
}

struct SyncCase {
    const char *name;
    uint32_t start;                // readIndex; the bytes are stored from here
    std::vector<uint8_t> bytes;    // the last one is at writeIndex
    int32_t found;
    uint32_t readAfter;            // offset from start, modulo the ring
    int32_t syncType;
};

TEST_F(RingTest, FindSyncOnBytePatterns) {
    const SyncCase cases[] = {
        {"MPEG-1/2 sync", 100, {0x00, 0x12, 0xFF, 0xFB, 0x90, 0x64}, 1, 2, MP3_SYNC_FFF},
        {"MPEG-2.5 sync", 100, {0x00, 0x12, 0xFF, 0xE3, 0x90, 0x64}, 1, 2, MP3_SYNC_FFE},
        {"no sync", 100, {0x00, 0x12, 0xFF, 0xD3, 0x90, 0x64}, 0, 5, MP3_SYNC_FFE},
        {"FF FF FB matches at the first FF", 100, {0xFF, 0xFF, 0xFB, 0x00}, 1, 0, MP3_SYNC_FFF},
        {"second byte is the held-back byte", 100, {0x00, 0x00, 0xFF, 0xF3}, 1, 2, MP3_SYNC_FFF},
        {"held-back FF alone", 100, {0x00, 0x00, 0xFF}, 0, 2, MP3_SYNC_FFE},
        {"only the sync bits count", 100, {0x01, 0xFF, 0xF0}, 1, 1, MP3_SYNC_FFF},
        {"FF E8", 100, {0x01, 0xFF, 0xE8}, 1, 1, MP3_SYNC_FFE},
        {"first FF E? wins over a later FF F?", 100, {0xFF, 0xE2, 0xFF, 0xFB}, 1, 0, MP3_SYNC_FFE},
        {"pattern across the wrap", 65533, {0x00, 0x00, 0xFF, 0xFA, 0x00}, 1, 2, MP3_SYNC_FFF},
        {"drained ring", 100, {0x00}, 0, 0, MP3_SYNC_FFE},
    };
    for (const SyncCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (size_t i = 0; i < c.bytes.size(); ++i) stream->buffer[(c.start + i) & 65535u] = c.bytes[i];
        setIndexes(c.start, (c.start + static_cast<uint32_t>(c.bytes.size()) - 1u) & 65535u);
        int32_t syncType = -1;
        EXPECT_EQ(MP3_FindSync(stream.get(), &syncType), c.found);
        EXPECT_EQ(stream->readIndex, (c.start + c.readAfter) & 65535u);
        EXPECT_EQ(syncType, c.syncType);
        EXPECT_EQ(stream->writeIndex, (c.start + static_cast<uint32_t>(c.bytes.size()) - 1u) & 65535u);
    }
}

// An 0xFF just before readIndex does not pair with the byte at readIndex.
TEST_F(RingTest, FindSyncIgnoresTheByteBeforeReadIndex) {
    stream->buffer[99] = 0xFF;
    stream->buffer[100] = 0xFB;
    setIndexes(100, 103);
    int32_t syncType = 0;
    EXPECT_EQ(MP3_FindSync(stream.get(), &syncType), 0);
    EXPECT_EQ(stream->readIndex, 103u);
    EXPECT_EQ(syncType, MP3_SYNC_FFE);
}

// A consumer that reads in uneven chunks between uneven refills gets the
// host's bytes in order. The only bytes lost are held-back bytes of drained
// rings (other than 0xFF and 'I'), one per refill that restarts the ring
// after bytes were stored.
TEST_F(RingTest, RoundTripOfAByteStream) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t limit) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % limit;
    };
    source.keepContract = true;
    uint32_t expectedSerial = 0;
    std::vector<uint8_t> out(40000);
    for (int step = 0; step < 120; ++step) {
        const bool drained = (stream->readIndex & 65535u) == (stream->writeIndex & 65535u);
        if (drained && source.serial > expectedSerial) {
            ASSERT_EQ(source.serial, expectedSerial + 1) << "a drained ring holds exactly one undelivered byte";
            // The restart drops that byte, unless it may begin a sync pattern or a tag.
            const uint8_t held = ScriptedSource::byteOf(expectedSerial);
            if (held != 0xFF && held != 'I') expectedSerial = source.serial;
        }
        source.plan.assign({static_cast<int32_t>(next(30000)), static_cast<int32_t>(next(30000))});
        source.nextPlan = 0;
        const size_t callsBefore = source.calls.size();
        const uint32_t serialBefore = source.serial;
        const int32_t got = MP3_Refill(stream.get());
        ASSERT_EQ(static_cast<uint32_t>(got), source.serial - serialBefore);
        ASSERT_LE(source.calls.size() - callsBefore, 2u);
        ASSERT_GE(MP3_BytesAvailable(stream.get()), 1);

        const int32_t want = static_cast<int32_t>(1 + next(static_cast<uint32_t>(out.size()) - 1));
        const int32_t avail = MP3_BytesAvailable(stream.get());
        const int32_t n = MP3_ReadBytes(stream.get(), out.data(), want);
        ASSERT_EQ(n, std::min(want, avail - 1));
        for (int32_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[static_cast<size_t>(i)], ScriptedSource::byteOf(expectedSerial)) << "serial " << expectedSerial;
            ++expectedSerial;
        }
    }
    EXPECT_GT(expectedSerial, 200000u) << "the stream wrapped the ring several times";
}

}  // namespace
