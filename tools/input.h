// The tool's input: a file or standard input, read forward only, so pipes
// and other non-seekable inputs work. Bytes the tool looks at before
// decoding (tags, the information frame) and the bytes the decoder's probe
// consumes are kept and delivered again; nothing is ever rewound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace mpfix::tool {

class Input {
public:
    // "-" is standard input. Throws Failure for a missing file or a directory.
    explicit Input(const std::string &path);
    ~Input();
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    const std::string &name() const { return name_; }

    // Up to `bytes` bytes ahead of the read position, fewer at the end of the input.
    std::span<const uint8_t> peek(size_t bytes);
    // Drops bytes ahead of the read position (reading them when needed).
    void skip(uint64_t bytes);
    // Skips ID3v2 tags at the read position: tags are not audio.
    void skipId3v2();

    // Delivers bytes: kept ones first, then the file's.
    size_t read(uint8_t *destination, size_t maxBytes);

    // Between these two calls everything read() delivers is kept; afterwards
    // read() delivers it again from the first byte.
    void beginReplay();
    void replay();

    // Bytes of the input from the read position at open time, or -1 when
    // unknown (pipes, devices).
    int64_t size() const { return size_; }
    uint64_t consumed() const { return highWater_; }  // furthest byte delivered or skipped
    bool readError() const { return error_ != 0; }
    int errorNumber() const { return error_; }

private:
    size_t fill(size_t wanted);  // reads until `wanted` kept bytes lie ahead; returns how many do

    std::string name_;
    FILE *file_ = nullptr;
    bool ownsFile_ = false;
    std::vector<uint8_t> kept_;  // bytes read from the file and not yet given up
    size_t at_ = 0;              // read position within kept_
    bool keeping_ = false;       // between beginReplay() and replay()
    size_t replayFrom_ = 0;
    uint64_t replayPosition_ = 0;
    uint64_t highWater_ = 0;  // furthest absolute position delivered
    uint64_t position_ = 0;   // absolute position of the read position
    int64_t size_ = -1;
    int error_ = 0;
};

}  // namespace mpfix::tool
