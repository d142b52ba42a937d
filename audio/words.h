// Fill and copy of runs of 32-bit words: the one helper every stage uses to
// clear or move spectral rows, windows and scratch.
#ifndef MPFIX_AUDIO_WORDS_H
#define MPFIX_AUDIO_WORDS_H

#include <cstdint>

namespace mpfix {

// Stores value into count words at destination, low to high addresses; a
// count of 0 or less writes nothing.
void MP3_FillWords(int32_t value, int32_t *destination, int32_t count);
// Copies count words; source and destination must not overlap.
void MP3_CopyWords(const int32_t *source, int32_t *destination, int32_t count);

}  // namespace mpfix

#endif  // MPFIX_AUDIO_WORDS_H
