#include "common/DescriptorIO.hpp"

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vesperon {
namespace {

struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0); }
    ~Pipe() { close(0), close(1); }
    void close(int end) {
        if (ends[end] >= 0) {
            ::close(std::exchange(ends[end], -1));
        }
    }
};

TEST(DescriptorIO, WhatIsWrittenIsReadBackWholeUpToTheLimit) {
    // Larger than a pipe's buffer: the writer blocks and goes on after partial writes.
    std::string text(300000, 'x');
    for (std::size_t i = 0; i < text.size(); i += 7) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    for (const std::size_t limit : {text.size(), text.size() + 1}) {
        Pipe pipe;
        bool written = false;
        std::thread writer([&] {
            written = writeAll(pipe.ends[1], text);
            pipe.close(1);
        });
        const auto read = readToEnd(pipe.ends[0], limit);
        writer.join();
        EXPECT_TRUE(written);
        EXPECT_EQ(read, text);
    }

    // Failures are told apart by errno.
    Pipe pipe;
    ASSERT_TRUE(writeAll(pipe.ends[1], "12345"));
    pipe.close(1);
    EXPECT_EQ(readToEnd(pipe.ends[0], 4), std::nullopt);
    EXPECT_EQ(errno, EFBIG); // too large, not a failed read
    const auto previous = ::signal(SIGPIPE, SIG_IGN);
    Pipe closed;
    closed.close(0);
    EXPECT_FALSE(writeAll(closed.ends[1], "lost"));
    EXPECT_EQ(errno, EPIPE);
    ::signal(SIGPIPE, previous);
}

} // namespace
} // namespace vesperon
