// examples/host.c, the host that README.md shows, compiled as C++ (the C
// build is its own test) and run in-process: from a file and from a pipe it
// writes exactly what the library decodes from the stream's first byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "support/memory_source.h"
#include "support/pcm_compare.h"

#define main exampleHostMain
#include "examples/host.c"
#undef main

namespace {

namespace fs = std::filesystem;

int runHost(const std::string &in, const std::string &out, std::string &printed) {
    std::string arg0 = "host", arg1 = in, arg2 = out;
    char *argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    testing::internal::CaptureStdout();
    const int status = exampleHostMain(3, argv);
    printed = testing::internal::GetCapturedStdout();
    return status;
}

TEST(ExampleHost, PipeEqualsFile) {
    const std::string input = mpfix::test::fixtureDir() + "/mpeg1_44k_joint_cbr128.mp3";
    const auto mp3 = mpfix::test::loadBytes(input);
    ASSERT_FALSE(mp3.empty());
    const auto expected = mpfix::test::decodeStream(mp3).pcm;
    std::vector<uint8_t> expectedBytes(expected.size() * 2);
    std::memcpy(expectedBytes.data(), expected.data(), expectedBytes.size());  // the host writes native order
    const std::string out = (fs::temp_directory_path() / ("mpfix_example_host_" + std::to_string(getpid()))).string();

    std::string printed;
    ASSERT_EQ(runHost(input, out, printed), 0);
    EXPECT_EQ(printed, "78336 samples, 44100 Hz, 2 channels\n");
    EXPECT_EQ(mpfix::test::loadBytes(out), expectedBytes);

    // A pipe cannot be rewound: the host delivers the probe's bytes again.
    // The stream fits the pipe's buffer (64 KiB on Linux), so it is written
    // whole before the host reads, and a short write fails instead of hanging.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(write(fds[1], mp3.data(), mp3.size()), static_cast<ssize_t>(mp3.size()));
    close(fds[1]);
    const int status = runHost("/dev/fd/" + std::to_string(fds[0]), out, printed);
    close(fds[0]);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(printed, "78336 samples, 44100 Hz, 2 channels\n");
    EXPECT_EQ(mpfix::test::loadBytes(out), expectedBytes);
    fs::remove(out);
}

}  // namespace
