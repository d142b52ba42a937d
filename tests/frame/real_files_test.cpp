// Real files are not clean: tags before, between and after the frames, junk
// in front, damaged bytes, free format. Every case goes through the public API
// as a host would (MP3_InitDecoder, source rewound, MP3_DecodeFrame until
// exhausted) and is compared with the decode of the clean stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/memory_source.h"
#include "support/random.h"
#include "support/pcm_compare.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mpfix::test::comparePcm;
using mpfix::test::decodeStream;
using mpfix::test::DecodeResult;
using mpfix::test::fixtureDir;
using mpfix::test::loadBytes;
using mpfix::test::loadPcm16;

// The same bytes on every platform.
struct Random : mpfix::test::SplitMix64 {
    explicit Random(uint64_t seed) : SplitMix64{seed} {}
    Bytes bytes(size_t n) {
        Bytes out(n);
        for (auto &b : out) b = byte();
        return out;
    }
};

Bytes fixture(const std::string &stem) { return loadBytes(fixtureDir() + "/" + stem + ".mp3"); }

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// ID3v2 tag around `payload` (random bytes, as a cover image is to a decoder):
// "ID3", version 4.0, flags, a 28-bit size in four 7-bit bytes, and with the
// footer flag a 10-byte footer "3DI" after the payload.
Bytes id3v2(const Bytes &payload, bool footer = false) {
    const uint32_t size = static_cast<uint32_t>(payload.size());
    Bytes head = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(footer ? 0x10 : 0x00),
                  static_cast<uint8_t>((size >> 21) & 0x7F), static_cast<uint8_t>((size >> 14) & 0x7F),
                  static_cast<uint8_t>((size >> 7) & 0x7F), static_cast<uint8_t>(size & 0x7F)};
    Bytes tag = join({head, payload});
    if (footer) {
        Bytes foot = head;
        foot[0] = '3';
        foot[1] = 'D';
        foot[2] = 'I';
        tag = join({tag, foot});
    }
    return tag;
}

// ID3v1: "TAG" and 125 bytes of fields; random ones here, with a planted
// Layer III header among them.
Bytes id3v1(Random &random) {
    Bytes tag = random.bytes(128);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    const Bytes header = {0xFF, 0xFB, 0x90, 0x64};
    std::copy(header.begin(), header.end(), tag.begin() + 40);
    tag[127] = 0xFF;  // genre "none"
    return tag;
}

// APE tag version 2.000 with a header, one binary item and a footer.
Bytes apeTag(Random &random) {
    auto le32 = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)};
    };
    Bytes value = random.bytes(1500);
    const Bytes header = {0xFF, 0xF3, 0x48, 0xC4};  // a plausible MPEG-2 header inside the item
    std::copy(header.begin(), header.end(), value.begin() + 100);
    const Bytes item = join({le32(static_cast<uint32_t>(value.size())), le32(2u << 1), Bytes{'C', 'o', 'v', 'e', 'r', 0},
                             value});
    const uint32_t tagSize = static_cast<uint32_t>(item.size() + 32);
    auto block = [&](uint32_t flags) {
        return join({Bytes{'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'}, le32(2000), le32(tagSize), le32(1), le32(flags),
                     Bytes(8, 0)});
    };
    return join({block(0xA0000000u), item, block(0x80000000u)});
}

// Frame starts of a gap-free stream, from its headers (standard frame sizes).
std::vector<size_t> frameStarts(const Bytes &s) {
    static const int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kLsf[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kRates[] = {44100, 48000, 32000};
    std::vector<size_t> starts;
    size_t at = 0;
    while (at + 4 <= s.size() && s[at] == 0xFF && (s[at + 1] & 0xE0) == 0xE0) {
        const bool mpeg1 = (s[at + 1] & 0x08) != 0;
        const bool mpeg25 = (s[at + 1] & 0x10) == 0;
        const int index = s[at + 2] >> 4;
        const int rate = kRates[(s[at + 2] >> 2) & 3] / (mpeg1 ? 1 : (mpeg25 ? 4 : 2));
        const int kbps = mpeg1 ? kMpeg1[index] : kLsf[index];
        if (index == 0 || index == 15) break;
        starts.push_back(at);
        at += static_cast<size_t>((mpeg1 ? 144 : 72) * kbps * 1000 / rate + ((s[at + 2] >> 1) & 1));
    }
    return starts;
}

struct RealFileCase {
    std::string name;
    Bytes input;
    Bytes clean;  // the stream without tags, junk and joins' gaps
    int32_t pieceBytes = 0;
};

std::vector<RealFileCase> realFileCases() {
    std::vector<RealFileCase> cases;
    const char *streams[] = {"mpeg1_44k_joint_cbr128", "mpeg2_24k_mono_vbr", "mpeg25_11k_stereo_cbr64",
                             "mpeg1_32k_mono_crc"};
    Random random(0x7265616C66696C65ull);
    for (const char *stem : streams) {
        const Bytes clean = fixture(stem);
        const std::string s = stem;
        cases.push_back({s + ": 60 KB ID3v2 tag", join({id3v2(random.bytes(60000)), clean}), clean});
        cases.push_back({s + ": 70 KB ID3v2 tag with footer", join({id3v2(random.bytes(70000), true), clean}), clean});
        cases.push_back({s + ": 100 KB ID3v2 tag, 1000-byte reads", join({id3v2(random.bytes(100000)), clean}), clean,
                         1000});
        cases.push_back({s + ": two ID3v2 tags", join({id3v2(random.bytes(3000)), id3v2(random.bytes(200)), clean}),
                         clean});
        cases.push_back({s + ": tag between joined streams", join({clean, id3v2(random.bytes(20000)), clean}),
                         join({clean, clean})});
        cases.push_back({s + ": ID3v1 tag at the end", join({clean, id3v1(random)}), clean});
        cases.push_back({s + ": APE tag at the end", join({clean, apeTag(random)}), clean});
        cases.push_back({s + ": APE and ID3v1 tags at the end", join({clean, apeTag(random), id3v1(random)}), clean});
        // A few frames, then junk: the probe meets rejected headers and ends
        // with a failed search, yet reports the frames it decoded.
        const auto starts = frameStarts(clean);
        const Bytes head(clean.begin(), clean.begin() + static_cast<long>(starts.at(4)));
        cases.push_back({s + ": four frames, then junk", join({head, random.bytes(3000)}), head});
    }
    // Random junk in front: many seeds, several lengths (the first frame may
    // land anywhere in the first refill, or beyond it).
    for (int seed = 0; seed < 40; ++seed) {
        const char *stem = streams[seed % 4];
        const Bytes clean = fixture(stem);
        Random junk(1000 + static_cast<uint64_t>(seed));
        const size_t length = seed < 36 ? 10000 : 65536 + static_cast<size_t>(seed);
        cases.push_back({std::string(stem) + ": junk in front, seed " + std::to_string(seed),
                         join({junk.bytes(length), clean}), clean});
    }
    return cases;
}

TEST(RealFiles, DecodeLikeTheCleanStream) {
    for (const RealFileCase &c : realFileCases()) {
        ASSERT_FALSE(c.clean.empty()) << c.name;
        const DecodeResult clean = decodeStream(c.clean);
        const DecodeResult r = decodeStream(c.input, c.pieceBytes);
        EXPECT_EQ(r.sampleRate, clean.sampleRate) << c.name;
        EXPECT_EQ(r.channels, clean.channels) << c.name;
        EXPECT_EQ(r.bufferBytes, clean.bufferBytes) << c.name;
        EXPECT_EQ(r.pcm.size(), clean.pcm.size()) << c.name;
        EXPECT_TRUE(r.pcm == clean.pcm) << c.name << ": largest difference "
                                        << comparePcm(r.pcm, clean.pcm).maxAbsDiff;
    }
}

// A live source: it delivers the input in the given pieces and has nothing
// for a while between them (returns 0 for 50 calls), so the decoder drains
// its ring and the host calls MP3_DecodeFrame again later.
struct PausingSource {
    Bytes data;
    std::vector<size_t> pieces;  // bytes delivered before each pause; the rest after the last
    size_t position = 0;
    size_t piece = 0;
    size_t left = 0;
    int paused = 0;

    static int32_t read(uint8_t *destination, int32_t maxBytes, void *userData) {
        auto *self = static_cast<PausingSource *>(userData);
        if (self->left == 0 && self->position < self->data.size()) {
            if (self->position > 0 && self->paused++ < 50) return 0;
            self->paused = 0;
            self->left = self->piece < self->pieces.size() ? self->pieces[self->piece++]
                                                           : self->data.size() - self->position;
        }
        const size_t n = std::min({static_cast<size_t>(maxBytes), self->left, self->data.size() - self->position});
        std::copy(self->data.begin() + static_cast<long>(self->position),
                  self->data.begin() + static_cast<long>(self->position + n), destination);
        self->position += n;
        self->left -= n;
        return static_cast<int32_t>(n);
    }
};

TEST(RealFiles, TagAfterAPauseInTheInput) {
    // The source pauses right after the first byte of a tag between two
    // streams, so that byte is the held-back one of a drained ring. The tag
    // holds two frames of the stream, which must not be heard.
    const Bytes clean = fixture("mpeg1_44k_joint_cbr128");
    const auto starts = frameStarts(clean);
    Random random(99);
    Bytes payload = random.bytes(5000);
    std::copy(clean.begin(), clean.begin() + static_cast<long>(starts.at(2)), payload.begin() + 100);
    const Bytes input = join({clean, id3v2(payload), clean});
    for (size_t firstPiece : {clean.size() + 1, clean.size() + 2, clean.size() + 7, clean.size() + 600}) {
        auto stream = std::make_unique<MP3_Stream>();
        auto decoder = std::make_unique<MP3_Decoder>();
        PausingSource source{input, {firstPiece}};
        stream->readFn = &PausingSource::read;
        stream->userData = &source;
        int32_t bytes = 0, rate = 0, channels = 0;
        MP3_InitDecoder(stream.get(), decoder.get(), &bytes, &rate, &channels);
        source = PausingSource{input, {firstPiece}};
        std::vector<int16_t> pcm, buffer(25 * 2304);
        for (int calls = 0; calls < 200; ++calls) {
            int32_t samples = 0;
            MP3_DecodeFrame(stream.get(), buffer.data(), &samples, 25, decoder.get());
            pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + samples);
        }
        EXPECT_TRUE(pcm == decodeStream(join({clean, clean})).pcm) << "first piece " << firstPiece;
    }
}

// ---- Damage -----------------------------------------------------------------

// How the damaged decode relates to the clean one: samples equal at the start
// and at the end (aligned at the end, so lost frames do not shift it);
// differ = frames of output between the two that are not the clean decode
// (what is heard as damage); heal = clean frames from the one holding the
// last damaged byte to the first from which the output is the clean decode
// again (frames skipped while the reservoir refills count here).
struct Healing {
    size_t prefix = 0;
    size_t suffix = 0;
    int differ = 0;
    int heal = 0;
};

Healing measure(const std::vector<int16_t> &damaged, const std::vector<int16_t> &clean, size_t frameSamples,
                size_t damagedFrame) {
    Healing h;
    const size_t n = std::min(damaged.size(), clean.size());
    while (h.prefix < n && damaged[h.prefix] == clean[h.prefix]) ++h.prefix;
    while (h.suffix < n && damaged[damaged.size() - 1 - h.suffix] == clean[clean.size() - 1 - h.suffix]) ++h.suffix;
    const size_t middle = damaged.size() - h.prefix - std::min(h.suffix, damaged.size() - h.prefix);
    h.differ = static_cast<int>((middle + frameSamples - 1) / frameSamples);
    const size_t frames = clean.size() / frameSamples;
    const size_t intactTail = std::min(frames, h.suffix / frameSamples);
    const long healFrame = static_cast<long>(frames - intactTail);
    h.heal = static_cast<int>(std::max(0L, healFrame - static_cast<long>(damagedFrame)));
    return h;
}

struct DamageStream {
    std::string name;
    Bytes clean;
};

std::vector<DamageStream> damageStreams() {
    std::vector<DamageStream> list;
    for (const char *stem : {"mpeg1_44k_joint_cbr128", "mpeg1_48k_stereo_vbr", "mpeg1_32k_mono_crc",
                             "mpeg2_22k_joint_cbr64", "mpeg2_24k_mono_vbr", "mpeg2_16k_stereo_crc",
                             "mpeg25_8k_mono_transients", "mpeg25_11k_stereo_cbr64", "mpeg25_12k_joint_vbr"}) {
        list.push_back({stem, fixture(stem)});
    }
    // Longer than the ring, so that damage meets the wrap-around refills.
    const Bytes one = fixture("mpeg1_44k_joint_cbr128");
    list.push_back({"mpeg1_44k_joint_cbr128 x6", join({one, one, one, one, one, one})});
    return list;
}

// Worst cases seen in the sweep below (its printout), plus one frame.
// Damaged output: almost always at most 4 frames; the worst is a flip of a
// mode bit in a header of a single-channel stream, which makes one frame
// stereo (its side information 8 bytes longer, its main data 8 bytes
// shorter). Such a frame follows its predecessor directly and is trusted
// (streams do switch channel modes), so the bytes kept in the reservoir are
// shifted until no frame reaches back over it any more: 11 frames at 24 kHz.
// Healing is longest in the same stream: its 8-16 kbit/s frames (24-48
// bytes) reach back up to 255 bytes, so after a gap about ten of them cannot
// be decoded until the emptied reservoir has filled again.
constexpr int kDifferBound = 12;
constexpr int kHealBound = 12;

TEST(RealFiles, DamageStaysLocal) {
    int worstHeal = 0, worstDiffer = 0;
    int decodes = 0;
    std::vector<int> heals(32, 0), differs(32, 0);
    for (const DamageStream &s : damageStreams()) {
        ASSERT_FALSE(s.clean.empty()) << s.name;
        const auto starts = frameStarts(s.clean);
        ASSERT_GT(starts.size(), 10u) << s.name;
        const DecodeResult clean = decodeStream(s.clean);
        const size_t frameSamples = clean.pcm.size() / starts.size();
        ASSERT_EQ(frameSamples * starts.size(), clean.pcm.size()) << s.name;
        auto frameOf = [&](size_t byte) {
            return static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), byte) - starts.begin() - 1);
        };
        Random random(0xDA3A6E00ull + s.clean.size());
        // Damage anywhere past the first few frames. Healing counts from the
        // frame that holds the last damaged byte.
        // In the stream longer than the ring, damage where the ring wraps.
        const bool longStream = s.clean.size() > MP3_RING_SIZE;
        const size_t from = longStream ? MP3_RING_SIZE - 3000 : starts[4];
        auto position = [&]() { return from + random.below(static_cast<uint32_t>(s.clean.size() - from - 600)); };
        for (int kind = 0; kind < 3; ++kind) {
            for (int round = 0; round < (longStream ? 3 : 7); ++round) {
                Bytes bytes = s.clean;
                size_t at = position();
                size_t last = at;  // last damaged byte of the clean stream
                const char *what = "";
                if (kind == 0) {  // a single bit flip, often in a header
                    if (round % 3 == 0) at = starts[frameOf(at)] + 1 + random.below(3);
                    bytes[at] ^= static_cast<uint8_t>(1u << random.below(8));
                    what = "bit flip";
                } else if (kind == 1) {  // 16 bytes of garbage
                    for (size_t i = 0; i < 16; ++i) bytes[at + i] = random.byte();
                    last = at + 15;
                    what = "garbage run";
                } else {  // cut anywhere, then the rest of the stream goes on
                    const size_t length = 1 + random.below(700);
                    bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + length));
                    last = at + length - 1;
                    what = "bytes lost";
                }
                const DecodeResult r = decodeStream(bytes);
                ++decodes;
                const Healing h = measure(r.pcm, clean.pcm, frameSamples, frameOf(last));
                heals[static_cast<size_t>(std::min(h.heal, 31))]++;
                differs[static_cast<size_t>(std::min(h.differ, 31))]++;
                worstHeal = std::max(worstHeal, h.heal);
                worstDiffer = std::max(worstDiffer, h.differ);
                EXPECT_LE(h.heal, kHealBound) << s.name << ": " << what << " at byte " << at;
                EXPECT_LE(h.differ, kDifferBound) << s.name << ": " << what << " at byte " << at;
                EXPECT_GE(h.prefix, frameOf(at) * frameSamples) << s.name << ": output before the damage changed, " << what << " at byte " << at;
            }
        }
        // Truncation: every frame wholly before the cut, nothing after.
        for (int round = 0; round < 3; ++round) {
            const size_t cut = position();
            const Bytes bytes(s.clean.begin(), s.clean.begin() + static_cast<long>(cut));
            const DecodeResult r = decodeStream(bytes);
            ++decodes;
            const size_t whole = frameOf(cut);
            ASSERT_GE(r.pcm.size(), whole * frameSamples) << s.name << " cut at " << cut;
            EXPECT_TRUE(std::equal(r.pcm.begin(), r.pcm.begin() + static_cast<long>(whole * frameSamples),
                                   clean.pcm.begin()))
                << s.name << " cut at " << cut;
            EXPECT_LE(r.pcm.size(), (whole + 1) * frameSamples) << s.name << " cut at " << cut;
        }
    }
    std::printf("damaged decodes: %d; worst: %d frames of damaged output, healed after %d frames\n", decodes,
                worstDiffer, worstHeal);
    std::printf("frames  damaged-output  healed-after\n");
    for (size_t i = 0; i < heals.size(); ++i)
        if (heals[i] != 0 || differs[i] != 0) std::printf("  %2zu   %8d   %8d\n", i, differs[i], heals[i]);
}

// The three single flips that derailed whole conformance streams.
TEST(RealFiles, FlipsThatOnceDerailedWholeStreams) {
    const std::filesystem::path dir = MPFIX_VECTORS_DIR;
    if (!std::filesystem::exists(dir / "l3-si.bit")) GTEST_SKIP() << "no conformance vectors at " << dir;
    struct Flip {
        const char *name;
        size_t at;
        uint8_t from, to;
    };
    const Flip flips[] = {{"l3-hecommon", 4598, 0xFA, 0xFE}, {"l3-si", 22152, 0xFB, 0xDB}, {"l3-si_block", 5224, 0xFF, 0xF7}};
    for (const Flip &f : flips) {
        const Bytes clean = loadBytes((dir / (std::string(f.name) + ".bit")).string());
        ASSERT_GT(clean.size(), f.at) << f.name;
        ASSERT_EQ(clean[f.at], f.from) << f.name;
        Bytes bytes = clean;
        bytes[f.at] = f.to;
        const DecodeResult c = decodeStream(clean);
        const DecodeResult r = decodeStream(bytes);
        const auto starts = frameStarts(clean);
        ASSERT_FALSE(starts.empty());
        const size_t frameSamples = c.pcm.size() / starts.size();
        const size_t frame = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), f.at) - starts.begin() - 1);
        const Healing h = measure(r.pcm, c.pcm, frameSamples, frame);
        std::printf("%-12s byte %5zu: frame %zu, %d frames of damaged output, healed after %d frames\n", f.name, f.at,
                    frame, h.differ, h.heal);
        EXPECT_EQ(r.channels, c.channels) << f.name;
        EXPECT_LE(h.heal, kHealBound) << f.name;
        EXPECT_LE(h.differ, kDifferBound) << f.name;
    }
}

// ---- One damaged granule ----------------------------------------------------

// Writes `value` into `bits` bits at bit offset `at` of bytes (MSB first).
void putBits(Bytes &bytes, size_t at, uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
        const size_t bit = at + static_cast<size_t>(i);
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit & 7));
        if ((value >> (bits - 1 - i)) & 1u) {
            bytes[bit >> 3] |= mask;
        } else {
            bytes[bit >> 3] &= static_cast<uint8_t>(~mask);
        }
    }
}

TEST(RealFiles, BigValuesOutOfRangeSilencesOneGranule) {
    // MPEG-1 stereo side information: 9 + 3 + 8 bits, then 59-bit records;
    // big_values follows the 12-bit part2_3_length. 300 pairs do not fit in
    // 576 lines, so the Huffman stage rejects the granule and channel.
    const Bytes clean = fixture("mpeg1_44k_joint_cbr128");
    const auto starts = frameStarts(clean);
    ASSERT_GT(starts.size(), 12u);
    const DecodeResult c = decodeStream(clean);
    for (int record = 0; record < 4; ++record) {  // gr0/ch0, gr0/ch1, gr1/ch0, gr1/ch1
        Bytes bytes = clean;
        const size_t sideInfo = (starts[10] + 4) * 8;
        putBits(bytes, sideInfo + 20 + 59 * static_cast<size_t>(record) + 12, 300, 9);
        const DecodeResult r = decodeStream(bytes);
        ASSERT_EQ(r.pcm.size(), c.pcm.size()) << record;
        const size_t granule = (10 * 2 + static_cast<size_t>(record) / 2) * 1152;  // first sample of the granule
        size_t first = r.pcm.size(), last = 0;
        for (size_t i = 0; i < r.pcm.size(); ++i) {
            if (r.pcm[i] != c.pcm[i]) {
                first = std::min(first, i);
                last = i;
            }
        }
        ASSERT_LT(first, r.pcm.size()) << record << ": the damage was not heard";
        // The damaged granule and the overlap it adds to the next one; the
        // synthesis window carries both on for 15 more time slots (of 32
        // stereo samples each).
        std::printf("record %d: samples %zu..%zu differ (granule at %zu)\n", record, first, last, granule);
        EXPECT_GE(first, granule) << record;
        EXPECT_LT(last, granule + 2 * 1152 + 15 * 64) << record;
        int peak = 0;
        for (size_t i = first; i <= last; ++i) peak = std::max(peak, std::abs(int{r.pcm[i]}));
        int cleanPeak = 0;
        for (int16_t v : c.pcm) cleanPeak = std::max(cleanPeak, std::abs(int{v}));
        EXPECT_LE(peak, cleanPeak) << record << ": a silenced channel must not be louder than the stream";
    }
}

// ---- Free format ------------------------------------------------------------

TEST(RealFiles, FreeFormatStreams) {
    struct Free {
        const char *stem;
        int32_t rate, channels;
        double minPsnr;
    };
    const Free streams[] = {{"mpeg1_44k_stereo_free200", 44100, 2, 100.0}, {"mpeg2_22k_mono_free50", 22050, 1, 100.0}};
    for (const Free &f : streams) {
        const Bytes bytes = fixture(f.stem);
        ASSERT_FALSE(bytes.empty()) << f.stem;
        const auto reference = loadPcm16(fixtureDir() + "/" + f.stem + ".pcm");
        for (int32_t piece : {0, 1, 333}) {
            const DecodeResult r = decodeStream(bytes, piece);
            EXPECT_EQ(r.sampleRate, f.rate) << f.stem;
            EXPECT_EQ(r.channels, f.channels) << f.stem;
            EXPECT_EQ(r.pcm.size(), reference.size()) << f.stem << " in pieces of " << piece;
            const auto cmp = comparePcm(r.pcm, reference);
            std::printf("%-26s pieces %4d: %7.2f dB, max diff %d\n", f.stem, piece, cmp.psnr, cmp.maxAbsDiff);
            EXPECT_GE(cmp.psnr, f.minPsnr) << f.stem;
        }
        // After junk in front, a tag, and a lost stretch, the length is learnt again.
        Random random(77);
        const DecodeResult clean = decodeStream(bytes);
        const Bytes messy = join({random.bytes(5000), id3v2(random.bytes(3000)), bytes});
        EXPECT_TRUE(decodeStream(messy).pcm == clean.pcm) << f.stem;
    }
}

// ---- Null arguments ---------------------------------------------------------

TEST(RealFiles, NullArgumentsAreRejected) {
    auto host = std::make_unique<mpfix::test::Host>(fixture("mpeg1_44k_joint_cbr128"));
    int32_t bytes = -7, rate = -7, channels = -7;
    MP3_Stream *stream = &host->stream;
    MP3_Decoder *decoder = &host->decoder;
    EXPECT_EQ(MP3_InitDecoder(nullptr, decoder, &bytes, &rate, &channels), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_InitDecoder(stream, nullptr, &bytes, &rate, &channels), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_InitDecoder(stream, decoder, nullptr, &rate, &channels), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_InitDecoder(stream, decoder, &bytes, nullptr, &channels), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_InitDecoder(stream, decoder, &bytes, &rate, nullptr), MP3_ERR_PARAM);
    EXPECT_EQ(bytes, -7);
    EXPECT_EQ(rate, -7);
    EXPECT_EQ(channels, -7);
    EXPECT_TRUE(host->source.calls.empty());  // nothing was read either
    EXPECT_EQ(MP3_InitDecoder(stream, decoder, &bytes, &rate, &channels), 1);
    host->source.position = 0;
    std::vector<int16_t> pcm(2304 * 2, 0x1234);
    int32_t samples = -7;
    EXPECT_EQ(MP3_DecodeFrame(nullptr, pcm.data(), &samples, 1, decoder), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_DecodeFrame(stream, nullptr, &samples, 1, decoder), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_DecodeFrame(stream, pcm.data(), nullptr, 1, decoder), MP3_ERR_PARAM);
    EXPECT_EQ(MP3_DecodeFrame(stream, pcm.data(), &samples, 1, nullptr), MP3_ERR_PARAM);
    EXPECT_EQ(samples, -7);
    EXPECT_EQ(pcm[0], 0x1234);
    EXPECT_EQ(MP3_DecodeFrame(stream, pcm.data(), &samples, 1, decoder), MP3_OK);
    EXPECT_EQ(samples, 2304);
}

}  // namespace
