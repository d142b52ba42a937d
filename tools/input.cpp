#include "input.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "failure.h"

namespace mpfix::tool {

Input::Input(const std::string &path) : name_(path == "-" ? "standard input" : path) {
    if (path == "-") {
        file_ = stdin;
    } else {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) fail("cannot open " + path + ": " + std::strerror(errno));
        ownsFile_ = true;
    }
    struct stat st {};
    if (fstat(fileno(file_), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            if (ownsFile_) std::fclose(file_);
            fail(path + " is a directory, not an MPEG audio file");
        }
        if (S_ISREG(st.st_mode)) {
            const off_t at = lseek(fileno(file_), 0, SEEK_CUR);  // standard input may start inside a file
            size_ = static_cast<int64_t>(st.st_size) - std::max<int64_t>(0, at);
        }
    }
}

Input::~Input() {
    if (ownsFile_) std::fclose(file_);
}

size_t Input::fill(size_t wanted) {
    if (!keeping_ && at_ > 0) {
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ = 0;
    }
    while (kept_.size() - at_ < wanted && error_ == 0) {
        const size_t old = kept_.size();
        kept_.resize(at_ + wanted);
        const size_t got = std::fread(kept_.data() + old, 1, kept_.size() - old, file_);
        kept_.resize(old + got);
        if (got == 0) {
            if (std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
            break;
        }
    }
    return kept_.size() - at_;
}

std::span<const uint8_t> Input::peek(size_t bytes) {
    const size_t n = std::min(fill(bytes), bytes);
    return {kept_.data() + at_, n};
}

void Input::skip(uint64_t bytes) {
    uint8_t scratch[4096];
    while (bytes > 0) {
        const size_t n = read(scratch, static_cast<size_t>(std::min<uint64_t>(bytes, sizeof scratch)));
        if (n == 0) break;
        bytes -= n;
    }
}

void Input::skipId3v2() {
    for (;;) {
        const auto h = peek(10);
        if (h.size() < 10 || h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] == 0xFF || h[4] == 0xFF) return;
        if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return;  // not a syncsafe size
        uint64_t size = uint64_t{h[6]} << 21 | uint64_t{h[7]} << 14 | uint64_t{h[8]} << 7 | uint64_t{h[9]};
        size += 10;
        if (h[5] & 0x10) size += 10;  // footer
        skip(size);
    }
}

size_t Input::read(uint8_t *destination, size_t maxBytes) {
    size_t n = std::min(maxBytes, kept_.size() - at_);
    if (n > 0) std::memcpy(destination, kept_.data() + at_, n);
    at_ += n;
    if (n < maxBytes && error_ == 0) {
        if (!keeping_) {  // everything kept has been delivered: give it up
            kept_.clear();
            at_ = 0;
        }
        const size_t got = std::fread(destination + n, 1, maxBytes - n, file_);
        if (got < maxBytes - n && std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
        if (keeping_) {
            kept_.insert(kept_.end(), destination + n, destination + n + got);
            at_ = kept_.size();
        }
        n += got;
    }
    position_ += n;
    highWater_ = std::max(highWater_, position_);
    return n;
}

void Input::beginReplay() {
    fill(0);  // drops what was delivered already
    keeping_ = true;
    replayFrom_ = at_;
    replayPosition_ = position_;
}

void Input::replay() {
    keeping_ = false;
    at_ = replayFrom_;
    position_ = replayPosition_;
}

}  // namespace mpfix::tool
