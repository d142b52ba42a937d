#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "failure.h"

namespace mpfix::tool {

namespace {

std::string directoryOf(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symlinks ends at (which need not exist yet).
std::string followLinks(const std::string &path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::vector<char> target(4096);
        const ssize_t n = readlink(p.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) fail("cannot follow the link " + p);
        const std::string t(target.data(), static_cast<size_t>(n));
        p = t[0] == '/' ? t : directoryOf(p) + "/" + t;
    }
    fail("cannot write " + path + ": too many levels of symbolic links");
}

// Keeping the mode and owner is a courtesy: a file that cannot get them is
// still written (an ordinary user cannot give a file away).
void bestEffort(int) {}

bool startsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void put16(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

Output::Output(const std::string &path) : path_(path) {
    if (path == "-") {
        file_ = stdout;
        stdout_ = true;
        return;
    }
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) fail("cannot write " + path + ": it is a directory");
    // Devices, FIFOs and open descriptors are written as they are: replacing
    // them by a regular file would lose everything sent there.
    if (exists && (!S_ISREG(st.st_mode) || startsWith(path, "/proc/") || startsWith(path, "/dev/"))) {
        target_ = path;
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) fail("cannot write " + path + ": " + std::strerror(errno));
        return;
    }
    target_ = followLinks(path);
    const size_t slash = target_.rfind('/');
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    temp_ = directoryOf(target_) + "/." + base + ".XXXXXX";
    const int fd = mkstemp(temp_.data());
    if (fd < 0) {
        const int error = errno;
        temp_.clear();
        fail("cannot write " + path + ": " + std::strerror(error));
    }
    if (exists) {
        // The new file takes the old one's place: same mode, owner where allowed.
        bestEffort(fchmod(fd, st.st_mode & 07777));
        if (st.st_uid != geteuid() || st.st_gid != getegid()) bestEffort(fchown(fd, st.st_uid, st.st_gid));
        inPlace_ = st.st_nlink > 1;  // a rename would cut the other links off
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        bestEffort(fchmod(fd, 0666 & ~mask));  // as a plain open() would create it
    }
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        close(fd);
        std::remove(temp_.c_str());
        temp_.clear();
        fail("cannot write " + path + ": " + std::strerror(errno));
    }
}

Output::~Output() {
    if (file_ != nullptr && !stdout_) std::fclose(file_);
    if (!temp_.empty()) std::remove(temp_.c_str());
}

void Output::write(const void *data, size_t bytes) {
    if (bytes != 0 && std::fwrite(data, 1, bytes, file_) != bytes) {
        fail("cannot write " + (stdout_ ? std::string("standard output") : path_) + ": " + std::strerror(errno));
    }
}

bool Output::rewriteStart(const void *data, size_t bytes) {
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) return false;
    write(data, bytes);
    return std::fseek(file_, 0, SEEK_END) == 0;
}

void Output::commit() {
    const std::string name = stdout_ ? std::string("standard output") : path_;
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    const int error = errno;
    if (stdout_) {
        if (!ok) fail("cannot write " + name + ": " + std::strerror(error));
        return;
    }
    if (temp_.empty()) {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok || !closed) fail("cannot write " + name + ": " + std::strerror(ok ? errno : error));
        return;
    }
    if (ok && inPlace_) {
        // Copy into the existing file, so every hard link sees the new content.
        FILE *target = std::fopen(target_.c_str(), "wb");
        bool copied = target != nullptr && std::fseek(file_, 0, SEEK_SET) == 0;
        std::vector<char> chunk(65536);
        while (copied) {
            const size_t n = std::fread(chunk.data(), 1, chunk.size(), file_);
            if (n == 0) break;
            copied = std::fwrite(chunk.data(), 1, n, target) == n;
        }
        const int copyError = errno;
        if (target != nullptr && std::fclose(target) != 0) copied = false;
        if (!copied) fail("cannot write " + name + ": " + std::strerror(copyError));
        return;  // the destructor removes the temporary file
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed || std::rename(temp_.c_str(), target_.c_str()) != 0) {
        fail("cannot write " + name + ": " + std::strerror(ok ? errno : error));
    }
    temp_.clear();
}

void writePcm16le(Output &out, const int16_t *pcm, size_t count, std::vector<uint8_t> &scratch) {
    scratch.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(pcm[i]);
        scratch[2 * i] = static_cast<uint8_t>(v);
        scratch[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    out.write(scratch.data(), scratch.size());
}

namespace {

using WavHeader = std::array<uint8_t, 44>;

void store16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void store32(uint8_t *p, uint32_t v) {
    store16(p, v & 0xFFFF);
    store16(p + 2, v >> 16);
}

WavHeader wavHeader(int32_t rate, int32_t channels, uint32_t riffBytes, uint32_t dataBytes) {
    WavHeader h{};
    std::memcpy(h.data(), "RIFF", 4);
    store32(h.data() + 4, riffBytes);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    store32(h.data() + 16, 16);
    store16(h.data() + 20, 1);  // PCM
    store16(h.data() + 22, static_cast<uint32_t>(channels));
    store32(h.data() + 24, static_cast<uint32_t>(rate));
    store32(h.data() + 28, static_cast<uint32_t>(rate * channels * 2));
    store16(h.data() + 32, static_cast<uint32_t>(channels * 2));
    store16(h.data() + 34, 16);
    std::memcpy(h.data() + 36, "data", 4);
    store32(h.data() + 40, dataBytes);
    return h;
}

}  // namespace

WavWriter::WavWriter(Output &out, int32_t sampleRate, int32_t channels)
    : out_(out), rate_(sampleRate), channels_(channels) {
    const auto h = wavHeader(rate_, channels_, 0xFFFFFFFF, 0xFFFFFFFF);
    out_.write(h.data(), h.size());
}

void WavWriter::samples(const int16_t *pcm, size_t count) {
    writePcm16le(out_, pcm, count, bytes_);
    dataBytes_ += 2 * count;
}

void WavWriter::finish() {
    if (dataBytes_ > 0xFFFFFFFFull - 36) fail("output too large for a WAV file");
    const auto data = static_cast<uint32_t>(dataBytes_);
    const auto h = wavHeader(rate_, channels_, 36 + data, data);
    out_.rewriteStart(h.data(), h.size());  // a pipe keeps the unknown sizes
}

}  // namespace mpfix::tool
