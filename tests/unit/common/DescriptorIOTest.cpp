#include "common/DescriptorIO.hpp"

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vesperon {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0) {
            ::close(read);
        }
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) {
            ::close(write);
        }
        write = -1;
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
        ASSERT_GE(pipe.read, 0);
        bool written = false;
        std::thread writer([&] {
            written = writeAll(pipe.write, text);
            pipe.closeWrite();
        });
        const auto read = readToEnd(pipe.read, limit);
        writer.join();
        EXPECT_TRUE(written);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, text);
    }
}

TEST(DescriptorIO, ReadingRefusesContentsBeyondTheLimitAndFailedReads) {
    Pipe pipe;
    ASSERT_TRUE(writeAll(pipe.write, "12345"));
    pipe.closeWrite();
    EXPECT_EQ(readToEnd(pipe.read, 4), std::nullopt);
    EXPECT_EQ(errno, EFBIG); // callers tell "too large" from a failed read by this

    Pipe empty;
    empty.closeWrite();
    EXPECT_EQ(readToEnd(empty.read, 0), std::string());

    Pipe wrongEnd;
    EXPECT_EQ(readToEnd(wrongEnd.write, 100), std::nullopt);
    EXPECT_EQ(errno, EBADF);
}

TEST(DescriptorIO, WritingToAClosedPipeFailsWithItsError) {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    Pipe pipe;
    pipe.closeRead();
    errno = 0;
    EXPECT_FALSE(writeAll(pipe.write, "lost"));
    EXPECT_EQ(errno, EPIPE);
    EXPECT_TRUE(writeAll(pipe.write, ""));
    ::sigaction(SIGPIPE, &previous, nullptr);
}

} // namespace
} // namespace vesperon
