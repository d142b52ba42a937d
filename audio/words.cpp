#include "audio/words.h"

namespace mpfix {

// Eight words per step while at least eight remain, then one at a time.
void MP3_FillWords(int32_t value, int32_t *destination, int32_t count) {
    for (; count >= 8; count -= 8, destination += 8) {
        for (int i = 0; i < 8; ++i) destination[i] = value;
    }
    for (; count > 0; --count) *destination++ = value;
}

void MP3_CopyWords(const int32_t *source, int32_t *destination, int32_t count) {
    for (; count >= 8; count -= 8, source += 8, destination += 8) {
        for (int i = 0; i < 8; ++i) destination[i] = source[i];
    }
    for (; count > 0; --count) *destination++ = *source++;
}

}  // namespace mpfix
