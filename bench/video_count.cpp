// A fixed workload for counting the instructions the video primitives execute
// (run under qemu-arm by scripts/bench_video.sh). The modes with "none" do
// the same setup and copying without calling the library, so the difference
// of two counts is the library's own work.
// Usage: video_count idct-dense|idct-sparse|idct-none BLOCKS
//        video_count yuv|yuv-none WIDTH HEIGHT PICTURES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mpfix.h"

namespace {

uint64_t nextRandom(uint64_t &s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Copying through a volatile pointer keeps the "none" runs doing the same copies.
void copyBlock(int16_t *to, const int16_t *from) {
    volatile int16_t *v = to;
    for (int k = 0; k < 64; ++k) v[k] = from[k];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    uint64_t seed = 5;
    long checksum = 0;
    if (mode.rfind("idct", 0) == 0) {
        // Dense: every coefficient in -256..255; sparse: DC and the five lowest.
        const int reach = mode == "idct-sparse" ? 3 : 15;
        const long blocks = std::atol(argv[2]);
        std::vector<int16_t> inputs(64 * 64);
        for (int k = 0; k < 64 * 64; ++k)
            inputs[k] = static_cast<int16_t>(k % 8 + (k % 64) / 8 < reach ? int(nextRandom(seed) % 512) - 256 : 0);
        int16_t block[64];
        for (long b = 0; b < blocks; ++b) {
            copyBlock(block, inputs.data() + 64 * (b % 64));
            if (mode != "idct-none") MPG_DCTInv_8x8(block);
            checksum += block[b % 64];
        }
    } else if (mode.rfind("yuv", 0) == 0 && argc >= 5) {
        const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), pictures = std::atoi(argv[4]);
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        std::vector<uint8_t> y(static_cast<size_t>(w) * h), u(static_cast<size_t>(cw) * ch), v(u.size());
        for (auto *p : {&y, &u, &v})
            for (uint8_t &s : *p) s = static_cast<uint8_t>(nextRandom(seed));
        std::vector<uint16_t> rgb(static_cast<size_t>(w) * h);
        const MPG_YUVPlanes planes{y.data(), u.data(), v.data()};
        const MPG_YUVStrides strides{w, cw, cw};
        for (int n = 0; n < pictures; ++n) {
            if (mode != "yuv-none") MPG_YUV420ToBGR565(&planes, &strides, rgb.data(), 2 * w, w, h);
            checksum += rgb[static_cast<size_t>(n) % rgb.size()];
        }
    } else {
        return 2;
    }
    std::printf("%ld\n", checksum);
    return 0;
}
