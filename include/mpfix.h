/*
 * mpfix: fixed-point media decoding primitives for 32-bit devices.
 *
 * An MPEG audio Layer III decoder (MPEG-1, MPEG-2 low sampling frequencies,
 * MPEG-2.5) that pulls bytes through a host callback and writes interleaved
 * signed 16-bit PCM, and the 8x8 inverse DCT, YUV 4:2:0 to RGB565 conversion
 * and 16-bit block copy/clear of an MPEG video decoder.
 *
 * All state lives in records that the host allocates; the library keeps none
 * of its own and uses no floating point. This header is plain C99 and C++.
 */
#ifndef MPFIX_H
#define MPFIX_H

#include <stddef.h>
#include <stdint.h>

/* MPFIX_API marks the exported functions. Define MPFIX_STATIC when linking the
 * static library; MPFIX_BUILDING is defined while the library itself builds. */
#if defined(MPFIX_STATIC)
#define MPFIX_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#if defined(MPFIX_BUILDING)
#define MPFIX_API __declspec(dllexport)
#else
#define MPFIX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define MPFIX_API __attribute__((visibility("default")))
#else
#define MPFIX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes -------------------------------------------------------- */

/* MP3_DecodeFrame */
#define MP3_OK 0
#define MP3_INPUT_EXHAUSTED 1
/* Internal stages: an argument or decoded field outside its range. */
#define MP3_ERR_PARAM (-2)
/* Frame driver results (one frame taken from the ring). */
#define MP3_FRAME_DECODED 0
#define MP3_FRAME_NO_SYNC 100
#define MP3_FRAME_NEED_DATA 101
#define MP3_FRAME_NOT_DECODED 102
#define MP3_FRAME_BAD_HEADER 103

/* ---- Named constants ----------------------------------------------------- */

#define MP3_RING_SIZE 65536        /* bytes in the input ring of MP3_Stream */
#define MP3_SYNC_FFF 4095          /* 12-bit sync 0xFFF: MPEG-1 or MPEG-2 */
#define MP3_SYNC_FFE 4094          /* sync 0xFFE: MPEG-2.5 */
#define MP3_PROBE_BYTES 115200     /* scratch PCM of the probe in MP3_InitDecoder */
#define MP3_PROBE_FRAMES 5         /* frames decoded by the probe */
#define MP3_REFILL_THRESHOLD 2880  /* refill after a frame below this fill level */
#define MP3_SIDE_INFO_BYTES 68     /* raw header + CRC + side information area */
#define MP3_RESERVOIR_BYTES 4096   /* bit reservoir */
#define MP3_MAX_GRANULE_RECORDS 4  /* 2 granules x 2 channels */
#define MP3_SCALEFACTOR_BYTES 40   /* scalefactor block of one channel */
#define MP3_GRANULE_LINES 576      /* spectral lines of one granule */
#define MP3_SUBBANDS 32
#define MP3_SLOTS 18               /* time slots per granule */
#define MP3_SYNTH_HISTORY 512      /* words of synthesis history per channel */

/* ---- Input stream -------------------------------------------------------- */

/* Host read callback: store up to maxBytes bytes at destination and return how
 * many were stored (0..maxBytes); 0 means no input is available now. */
typedef int32_t (*MP3_ReadFn)(uint8_t *destination, int32_t maxBytes, void *userData);

/* Input ring. The host sets readFn and userData; everything else belongs to
 * the library. writeIndex names the most recently stored byte, which is held
 * back until a later refill stores bytes behind it. */
typedef struct MP3_Stream {
    uint8_t buffer[MP3_RING_SIZE];
    uint32_t readIndex;
    uint32_t writeIndex;
    int32_t size;
    MP3_ReadFn readFn;
    void *userData;
} MP3_Stream;

/* ---- Decoder state ------------------------------------------------------- */

/* Parsed frame header. b1..b3 are header bytes 2..4. */
typedef struct MP3_FrameHeader {
    int32_t ID;                 /* 1 MPEG-1; 0 MPEG-2 or MPEG-2.5 */
    int32_t layer;              /* 1 = Layer III */
    int32_t protection_bit;     /* 0 = CRC word follows */
    int32_t bitrate_index;
    int32_t sampling_frequency;
    int32_t padding_bit;
    int32_t private_bit;
    int32_t mode;               /* 0 stereo, 1 joint, 2 dual, 3 single channel */
    int32_t mode_extension;
    int32_t copyright;
    int32_t original_home;
    int32_t emphasis;
    int32_t crc_check;          /* stored, never verified */
} MP3_FrameHeader;

/* Side information of one granule and channel. */
typedef struct MP3_GranuleInfo {
    int32_t part2_3_length;
    int32_t big_values;
    int32_t global_gain;
    int32_t scalefac_compress;
    int32_t window_switching_flag;
    int32_t block_type;
    int32_t mixed_block_flag;
    int32_t table_select[3];
    int32_t subblock_gain[3];
    int32_t region0_count;
    int32_t region1_count;
    int32_t preflag;
    int32_t scalefac_scale;
    int32_t count1table_select;
} MP3_GranuleInfo;

/* Everything a Layer III decoder carries from frame to frame. Allocated by the
 * host, reset by MP3_InitDecoder, advanced by MP3_DecodeFrame. */
typedef struct MP3_Decoder {
    MP3_FrameHeader header;
    uint8_t sideInfoBytes[MP3_SIDE_INFO_BYTES]; /* raw header, CRC, side information (38 bytes at
                                                   most); the tail holds the driver's memory of the
                                                   stream (confirmed sync, tag skip, free format) */
    MP3_GranuleInfo granules[MP3_MAX_GRANULE_RECORDS]; /* element gr * channels + ch */
    uint8_t scalefactors[2][MP3_SCALEFACTOR_BYTES];
    int32_t scfsi[2][4];
    int32_t spectrum[2][MP3_GRANULE_LINES];
    int32_t nonzeroCount[2];
    int32_t reorderScratch[MP3_GRANULE_LINES];
    int32_t hybridOut[2][MP3_SLOTS][MP3_SUBBANDS];
    int32_t overlap[2][MP3_GRANULE_LINES];
    int32_t prevSubbands[2];
    int32_t synthV[2][MP3_SYNTH_HISTORY];
    int32_t synthIndex[2];
    uint8_t reservoir[MP3_RESERVOIR_BYTES];
    int32_t reservoirFill;
    int32_t channels;
    int32_t frameSamples;
    int32_t syncType;
} MP3_Decoder;

/* ---- Video records ------------------------------------------------------- */

/* Plane pointers of a YUV 4:2:0 picture: full-size luma, half-size chroma. */
typedef struct MPG_YUVPlanes {
    const uint8_t *y;
    const uint8_t *u; /* Cb */
    const uint8_t *v; /* Cr */
} MPG_YUVPlanes;

/* Row-to-row distances of the planes, in bytes. */
typedef struct MPG_YUVStrides {
    int32_t y;
    int32_t u;
    int32_t v;
} MPG_YUVStrides;

/* ---- Exported functions -------------------------------------------------- */

/* Resets both records, probes up to five frames of the stream and reports the
 * recommended PCM buffer size in bytes, the sample rate and the channel count
 * of the frames it accepted. Returns 1, or MP3_ERR_PARAM (nothing read or
 * written) when a pointer is null. The probe consumes input: reposition the
 * source before the first MP3_DecodeFrame to decode from the start. */
MPFIX_API int32_t MP3_InitDecoder(MP3_Stream *stream, MP3_Decoder *decoder, int32_t *bufferBytes,
                                  int32_t *sampleRate, int32_t *channels);

/* Decodes up to count frames into pcm (interleaved int16) and stores the
 * number of samples written in *samplesOut. Returns MP3_OK,
 * MP3_INPUT_EXHAUSTED when a refill found no more input, or MP3_ERR_PARAM
 * (nothing written) when a pointer is null. A frame writes at most 2304
 * samples, so count x 2304 samples of pcm suffice for count >= 1. A count of
 * 0 or less sets no limit: the call decodes until a refill delivers nothing,
 * and pcm must hold every remaining sample of the input. ID3v2 tags are
 * skipped wherever they stand; a frame that does not follow the previous one
 * directly is taken only when the next frame's header stands where it ends
 * (or the input ends there); free-format streams have their frame length
 * learnt; a damaged granule decodes as silence. */
MPFIX_API int32_t MP3_DecodeFrame(MP3_Stream *stream, int16_t *pcm, int32_t *samplesOut, int32_t count,
                                  MP3_Decoder *decoder);

/* Polyphase synthesis of one time slot: 32 subband samples (24 fraction bits,
 * overwritten as scratch) to 32 PCM samples at stride 1, or at every second
 * element for any other stride. history is the channel's zeroed 512-word
 * buffer and position its ring position 0..15, both carried between calls.
 * Returns 0, or MP3_ERR_PARAM for a position outside 0..15 (nothing written). */
MPFIX_API int32_t MP3_SynthPQMF(int32_t *samples, int16_t *pcm, int32_t *history, int32_t *position,
                                int32_t stride);

/* 8x8 inverse DCT of 64 coefficients (row-major, element 8v+u = F(u,v)), in
 * place. Returns 0. */
MPFIX_API int32_t MPG_DCTInv_8x8(int16_t *block);

/* Planar YUV 4:2:0 to 16-bit RGB565 pixels (red in bits 15..11). Writes only
 * the width x height rectangle; nothing for sizes below 1. Returns 0. */
MPFIX_API int32_t MPG_YUV420ToBGR565(const MPG_YUVPlanes *planes, const MPG_YUVStrides *strides,
                                     uint16_t *destination, int32_t destinationStride, int32_t width,
                                     int32_t height);

/* Copies count 16-bit elements from source to destination (2-byte aligned,
 * not overlapping). Returns 0. */
MPFIX_API int32_t MPG_MemCopy16(const void *source, void *destination, int32_t count);

/* Clears count 16-bit elements at destination (2-byte aligned). Returns 0. */
MPFIX_API int32_t MPG_MemZero16(void *destination, int32_t count);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks ------------------------------------------------------- */

#if defined(__cplusplus)
#define MPFIX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MPFIX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
/* C99: a negative array size stops the build. */
#define MPFIX_STATIC_ASSERT_JOIN2(a, b) a##b
#define MPFIX_STATIC_ASSERT_JOIN(a, b) MPFIX_STATIC_ASSERT_JOIN2(a, b)
#define MPFIX_STATIC_ASSERT(cond, msg) \
    typedef char MPFIX_STATIC_ASSERT_JOIN(mpfix_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

MPFIX_STATIC_ASSERT(sizeof(MP3_FrameHeader) == 13 * 4, "MP3_FrameHeader is 13 int32");
MPFIX_STATIC_ASSERT(sizeof(MP3_GranuleInfo) == 18 * 4, "MP3_GranuleInfo is 18 int32");
MPFIX_STATIC_ASSERT(offsetof(MP3_GranuleInfo, count1table_select) == 17 * 4, "granule field order");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, sideInfoBytes) == 52, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, granules) == 120, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, scalefactors) == 408, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, scfsi) == 488, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, spectrum) == 520, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, nonzeroCount) == 5128, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, reorderScratch) == 5136, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, hybridOut) == 7440, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, overlap) == 12048, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, prevSubbands) == 16656, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, synthV) == 16664, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, synthIndex) == 20760, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, reservoir) == 20768, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, reservoirFill) == 24864, "decoder layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Decoder, syncType) == 24876, "decoder layout");
MPFIX_STATIC_ASSERT(sizeof(MP3_Decoder) == 24880, "MP3_Decoder has no gaps");
MPFIX_STATIC_ASSERT(offsetof(MP3_Stream, readIndex) == MP3_RING_SIZE, "stream layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Stream, writeIndex) == MP3_RING_SIZE + 4, "stream layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Stream, size) == MP3_RING_SIZE + 8, "stream layout");
/* The callback follows size at the next pointer-aligned offset (no gap on 32-bit targets). */
MPFIX_STATIC_ASSERT(offsetof(MP3_Stream, readFn) ==
                        (MP3_RING_SIZE + 12 + sizeof(void *) - 1) / sizeof(void *) * sizeof(void *),
                    "stream layout");
MPFIX_STATIC_ASSERT(offsetof(MP3_Stream, userData) == offsetof(MP3_Stream, readFn) + sizeof(void *),
                    "stream layout");
MPFIX_STATIC_ASSERT(sizeof(MPG_YUVPlanes) == 3 * sizeof(void *), "plane record layout");
MPFIX_STATIC_ASSERT(sizeof(MPG_YUVStrides) == 12, "stride record layout");

#endif /* MPFIX_H */
