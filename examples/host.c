/* A minimal mpfix host: decodes an MP3 file to raw 16-bit PCM. */
#include <stdio.h>
#include <stdlib.h>

#include "mpfix.h"

/* The decoder pulls bytes through this callback; 0 means no more input. */
static int32_t readFile(uint8_t *destination, int32_t maxBytes, void *userData) {
    return (int32_t)fread(destination, 1, (size_t)maxBytes, (FILE *)userData);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: host IN.mp3 OUT.pcm\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    FILE *out = fopen(argv[2], "wb");
    /* The records are the decoder's whole state (about 90 KiB): heap, not stack. */
    MP3_Stream *stream = calloc(1, sizeof *stream);
    MP3_Decoder *decoder = calloc(1, sizeof *decoder);
    if (!in || !out || !stream || !decoder) return 1;
    stream->readFn = readFile;
    stream->userData = in;

    int32_t bufferBytes, sampleRate, channels;
    MP3_InitDecoder(stream, decoder, &bufferBytes, &sampleRate, &channels);
    /* The probe consumed input: start again at the first frame. */
    fseek(in, 0, SEEK_SET);

    /* One frame is at most 2304 samples (MPEG-1 stereo). Sizing by frames, not
     * by bufferBytes, stays safe when a stream switches from mono to stereo. */
    enum { FRAMES_PER_CALL = 25 };
    int16_t *pcm = malloc(FRAMES_PER_CALL * 2304 * sizeof *pcm);
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
    free(decoder);
    free(stream);
    fclose(in);
    fclose(out);
    return 0;
}
