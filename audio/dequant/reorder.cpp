#include "audio/dequant/reorder.h"

#include "audio/stream_constants.h"
#include "audio/words.h"
#include "mpfix.h"

namespace mpfix {

namespace {

// Destination walk of one window: pairs go to p, p + 1; after each 6 lines the
// walk skips the other two windows' 12 lines of that subband.
struct WindowWalk {
    int32_t p;
    int32_t group;
    void store(int32_t *destination, int32_t first, int32_t second) {
        destination[p] = first;
        destination[p + 1] = second;
        p += 2;
        group -= 2;
        if (group == 0) {
            p += 12;
            group = 6;
        }
    }
};

}  // namespace

void MP3_ReorderShortBlocks(const int32_t *source, int32_t *destination, const uint16_t *shortRow,
                            int32_t mixedBlockFlag, const int32_t bandEnd[3], int32_t count) {
    const int32_t mixed = mixedBlockFlag != 0 ? 1 : 0;
    const int32_t firstBand = mixed != 0 ? MP3_MIXED_FIRST_SHORT_BAND : 0;
    if (mixed != 0) MP3_CopyWords(source, destination, MP3_MIXED_LONG_VALUES);
    if (count < 0) count = 0;
    if (count > MP3_GRANULE_LINES) count = MP3_GRANULE_LINES;
    const int32_t end = MP3_RoundUpToSubband(count);
    for (int32_t w = 0; w < 3; ++w) {
        WindowWalk walk{MP3_MIXED_LONG_VALUES * mixed + 6 * w, 6};
        // Never past the last band, whatever the caller passes.
        const int32_t last = bandEnd[w] < MP3_SHORT_BANDS ? bandEnd[w] : MP3_SHORT_BANDS;
        for (int32_t b = firstBand; b < last; ++b) {
            const int32_t width = shortRow[b + 1] - shortRow[b];
            const int32_t *from = source + 3 * shortRow[b] + w * width;
            for (int32_t j = 0; j < width; j += 2) walk.store(destination, from[j], from[j + 1]);
        }
        while (walk.p < end) walk.store(destination, 0, 0);
    }
}

}  // namespace mpfix
