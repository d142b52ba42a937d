/* A minimal mpfix host: decodes an MP3 file ("-": standard input) to raw 16-bit PCM. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mpfix.h"

/* The input, and the bytes that the probe in MP3_InitDecoder read from it:
 * the probe consumes input, so they are delivered again afterwards. The
 * decoder then sees the stream from its start, with no rewind: pipes work. */
typedef struct {
    FILE *file;
    uint8_t *kept;
    size_t keptBytes, replayed;
    int probing;
} Source;

/* The decoder pulls bytes through this callback; 0 means no more input. */
static int32_t readSource(uint8_t *destination, int32_t maxBytes, void *userData) {
    Source *s = (Source *)userData;
    size_t n = 0, got;
    if (!s->probing && s->replayed < s->keptBytes) { /* the probe's bytes first */
        n = s->keptBytes - s->replayed;
        if (n > (size_t)maxBytes) n = (size_t)maxBytes;
        memcpy(destination, s->kept + s->replayed, n);
        s->replayed += n;
    }
    got = fread(destination + n, 1, (size_t)maxBytes - n, s->file);
    if (s->probing && got > 0) {
        uint8_t *grown = (uint8_t *)realloc(s->kept, s->keptBytes + got);
        if (!grown) return 0; /* out of memory: end the input */
        memcpy(grown + s->keptBytes, destination, got);
        s->kept = grown;
        s->keptBytes += got;
    }
    return (int32_t)(n + got);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host IN.mp3 OUT.pcm\n");
        return 2;
    }
    Source source;
    memset(&source, 0, sizeof source);
    source.file = strcmp(argv[1], "-") == 0 ? stdin : fopen(argv[1], "rb");
    FILE *out = fopen(argv[2], "wb");
    /* The records are the decoder's whole state (about 90 KiB): heap, not stack. */
    MP3_Stream *stream = (MP3_Stream *)calloc(1, sizeof *stream);
    MP3_Decoder *decoder = (MP3_Decoder *)calloc(1, sizeof *decoder);
    if (!source.file || !out || !stream || !decoder) return 1;
    stream->readFn = readSource;
    stream->userData = &source;

    int32_t bufferBytes, sampleRate, channels;
    source.probing = 1;
    MP3_InitDecoder(stream, decoder, &bufferBytes, &sampleRate, &channels);
    source.probing = 0; /* from here on the probe's bytes come again, then the rest */

    /* One frame is at most 2304 samples (MPEG-1 stereo). Sizing by frames, not
     * by bufferBytes, stays safe when a stream switches from mono to stereo. */
    enum { FRAMES_PER_CALL = 25 };
    int16_t *pcm = (int16_t *)malloc(FRAMES_PER_CALL * 2304 * sizeof *pcm);
    if (!pcm) return 1;
    long total = 0;
    for (;;) {
        int32_t samples = 0;
        int32_t result = MP3_DecodeFrame(stream, pcm, &samples, FRAMES_PER_CALL, decoder);
        fwrite(pcm, sizeof *pcm, (size_t)samples, out); /* interleaved, native byte order */
        total += samples;
        if (result == MP3_INPUT_EXHAUSTED) break; /* every frame has been delivered */
    }
    printf("%ld samples, %d Hz, %d channels\n", total, (int)sampleRate, (int)channels);

    free(pcm);
    free(source.kept);
    free(decoder);
    free(stream);
    if (source.file != stdin) fclose(source.file);
    fclose(out);
    return 0;
}
