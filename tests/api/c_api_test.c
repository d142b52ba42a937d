/* A C99 host: the public header compiles as C, and the shared library's
 * exported functions link and run from C. */
#include "mpfix.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

static void synthesis(void) {
    static int32_t history[MP3_SYNTH_HISTORY];
    int32_t samples[32];
    int16_t pcm[32];
    int32_t position = 0;
    int slot, i;
    for (slot = 0; slot < 16; ++slot) {
        memset(samples, 0, sizeof samples);
        samples[0] = 0x00100000; /* 1/16 in subband 0 settles at 2048 */
        CHECK(MP3_SynthPQMF(samples, pcm, history, &position, 1) == 0);
    }
    for (i = 0; i < 32; ++i) CHECK(pcm[i] == 2048);
    position = 16;
    CHECK(MP3_SynthPQMF(samples, pcm, history, &position, 1) == MP3_ERR_PARAM);
}

static void video(void) {
    int16_t block[64];
    uint8_t y[4] = {255, 255, 255, 255}, u = 128, v = 128;
    uint16_t pixels[4] = {0, 0, 0, 0};
    uint16_t copy[8];
    MPG_YUVPlanes planes;
    MPG_YUVStrides strides;
    int i;

    memset(block, 0, sizeof block);
    block[0] = 64;
    CHECK(MPG_DCTInv_8x8(block) == 0);
    for (i = 0; i < 64; ++i) CHECK(block[i] == 8);

    planes.y = y;
    planes.u = &u;
    planes.v = &v;
    strides.y = 2;
    strides.u = 1;
    strides.v = 1;
    CHECK(MPG_YUV420ToBGR565(&planes, &strides, pixels, 4, 2, 2) == 0);
    for (i = 0; i < 4; ++i) CHECK(pixels[i] == 0xFFFF);

    CHECK(MPG_MemCopy16(pixels, copy, 4) == 0);
    CHECK(memcmp(pixels, copy, sizeof pixels) == 0);
    CHECK(MPG_MemZero16(copy, 4) == 0);
    for (i = 0; i < 4; ++i) CHECK(copy[i] == 0);
}

/* A host's read callback over a memory buffer. */
struct Memory {
    const uint8_t *data;
    int32_t size;
    int32_t position;
};

static int32_t readMemory(uint8_t *destination, int32_t maxBytes, void *userData) {
    struct Memory *memory = (struct Memory *)userData;
    int32_t n = memory->size - memory->position;
    if (n > maxBytes) n = maxBytes;
    memcpy(destination, memory->data + memory->position, (size_t)n);
    memory->position += n;
    return n;
}

static void decoder(void) {
    /* Input without any frame: the decoder reports its defaults and no PCM. */
    static MP3_Stream stream;
    static MP3_Decoder state;
    static const uint8_t junk[100] = {0};
    struct Memory memory = {junk, (int32_t)sizeof junk, 0};
    int16_t pcm[2304];
    int32_t bufferBytes = 0, sampleRate = 0, channels = 0, samples = -1;
    stream.readFn = readMemory;
    stream.userData = &memory;
    CHECK(MP3_InitDecoder(&stream, &state, &bufferBytes, &sampleRate, &channels) == 1);
    CHECK(bufferBytes == 57600 && channels == 2);
    memory.position = 0;
    CHECK(MP3_DecodeFrame(&stream, pcm, &samples, 1, &state) == MP3_INPUT_EXHAUSTED);
    CHECK(samples == 0);
}

int main(void) {
    CHECK(sizeof(MP3_Decoder) == 24880);
    CHECK(MP3_SYNC_FFF == 4095 && MP3_SYNC_FFE == 4094 && MP3_RING_SIZE == 65536);

    synthesis();
    decoder();
    video();
    if (failures == 0) printf("C host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
