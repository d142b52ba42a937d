// The tool's outputs. A regular file (new or existing, also one reached
// through symlinks) is written under a temporary name beside it and renamed
// over it when complete, keeping an existing file's mode and hard links, so a
// failure never leaves a partial or clobbered file. Anything else (a device,
// a FIFO, a terminal, /dev/stdout and the descriptors under /proc and
// /dev/fd) is written straight; "-" is standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mpfix::tool {

class Output {
public:
    explicit Output(const std::string &path);
    ~Output();  // without commit(): the temporary file is removed, the target untouched
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(const void *data, size_t bytes);
    // Rewrites bytes at the start, when the output can seek (returns false otherwise).
    bool rewriteStart(const void *data, size_t bytes);
    void commit();

    bool isStdout() const { return stdout_; }

private:
    std::string path_;    // as given, for messages
    std::string target_;  // the file that receives the data
    std::string temp_;    // empty when writing straight
    FILE *file_ = nullptr;
    bool stdout_ = false;
    bool inPlace_ = false;  // copy into the existing file at commit (it has other hard links)
};

// A 16-bit PCM WAV stream: the header goes first with the sizes unknown
// (0xFFFFFFFF, as streaming writers do) and is completed at finish() when
// the output can seek.
class WavWriter {
public:
    WavWriter(Output &out, int32_t sampleRate, int32_t channels);
    void samples(const int16_t *pcm, size_t count);
    void finish();

private:
    Output &out_;
    int32_t rate_, channels_;
    uint64_t dataBytes_ = 0;
    std::vector<uint8_t> bytes_;
};

// Raw signed 16-bit little-endian PCM, whatever the host's byte order.
void writePcm16le(Output &out, const int16_t *pcm, size_t count, std::vector<uint8_t> &scratch);

void put16(std::vector<uint8_t> &out, uint32_t v);
void put32(std::vector<uint8_t> &out, uint32_t v);

}  // namespace mpfix::tool
