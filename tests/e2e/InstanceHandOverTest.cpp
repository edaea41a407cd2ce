// One application per user: the instance lock, the stale-socket take-over and the URL
// hand-over from a second start of the real executable.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "TempFolder.hpp"
#include "common/DescriptorIO.hpp"
#include "instance/AppInstance.hpp"

namespace vesperon::e2e {
namespace {

// Serves one hand-over on a claimed listener, as the running application does.
std::future<std::string> serveOnce(int listener, std::string_view receipt = handOverReceipt) {
    return std::async(std::launch::async, [listener, receipt = std::string(receipt)] {
        OwnedFd connection(::accept(listener, nullptr, nullptr));
        std::string received;
        char buffer[4096];
        for (;;) {
            auto decoded = decodeHandOver(received);
            if (!decoded) {
                return std::string("<malformed>");
            }
            if (*decoded) {
                (void)writeAll(connection.get(), receipt);
                return encodeHandOver(**decoded);
            }
            const ssize_t n = ::read(connection.get(), buffer, sizeof buffer);
            if (n <= 0) {
                return std::string("<ended early>");
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
}

InstanceClaim claimed(const std::string& folder) {
    auto outcome = claimInstance(folder);
    EXPECT_TRUE(outcome.has_value()) << (outcome ? "" : outcome.error().message);
    EXPECT_TRUE(outcome && std::holds_alternative<InstanceClaim>(*outcome));
    return std::move(std::get<InstanceClaim>(*outcome));
}

TEST(InstanceClaim, OneLiveInstanceAndATakenOverStaleSocket) {
    testing::TempFolder base;
    const std::string folder = base / "instance";
    {
        InstanceClaim first = claimed(folder);
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);

        // The lock is held: a second start finds the instance running, and the live
        // socket still answers afterwards.
        auto second = claimInstance(folder);
        ASSERT_TRUE(second.has_value());
        ASSERT_TRUE(std::holds_alternative<InstanceRunning>(*second));
        auto served = serveOnce(first.listener.get());
        EXPECT_TRUE(handOverURLs(std::get<InstanceRunning>(*second).socketPath, {"x"}, 30));
        EXPECT_EQ(served.get(), encodeHandOver({"x"}));
    } // the instance ends without removing its socket file, as a crash would

    ASSERT_TRUE(std::filesystem::exists(folder + "/socket"));
    InstanceClaim next = claimed(folder);
    auto served = serveOnce(next.listener.get());
    auto again = claimInstance(folder);
    ASSERT_TRUE(again && std::holds_alternative<InstanceRunning>(*again));
    EXPECT_TRUE(handOverURLs(std::get<InstanceRunning>(*again).socketPath, {}, 30));
    EXPECT_EQ(served.get(), encodeHandOver({}));
}

TEST(InstanceClaim, FolderMustBePrivateAndOurs) {
    testing::TempFolder base;
    const std::string open = base / "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    (void)claimed(open);
    struct stat info {};
    ASSERT_EQ(::stat(open.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    const std::string link = base / "link";
    ASSERT_EQ(::symlink(open.c_str(), link.c_str()), 0);
    EXPECT_FALSE(claimInstance(link).has_value());
}

TEST(InstanceHandOver, MessagesDecodeOnlyWhenWholeAndWellFormed) {
    const std::vector<std::string> urls{"vesperon://start?minutes=2", "", "b"};
    const std::string message = encodeHandOver(urls);
    EXPECT_EQ(decodeHandOver(message).value(), urls);
    EXPECT_EQ(decodeHandOver(encodeHandOver({})).value(), std::vector<std::string>{});
    // Partial messages wait for more.
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{3}, message.size() - 1}) {
        auto partial = decodeHandOver(std::string_view(message).substr(0, cut));
        ASSERT_TRUE(partial.has_value()) << cut;
        EXPECT_FALSE(partial->has_value()) << cut;
    }
    EXPECT_FALSE(decodeHandOver("3\nabc").has_value());   // no terminator
    EXPECT_FALSE(decodeHandOver("2\nabc").has_value());   // more than announced
    EXPECT_FALSE(decodeHandOver("x\n").has_value());      // no length
    EXPECT_FALSE(decodeHandOver("99999999").has_value()); // beyond the limit
    EXPECT_FALSE(decodeHandOver("70000\n").has_value());  // beyond the limit
}

// The real executable, started a second time, hands its URL to the running instance
// and ends with status 0; a refused or missing answer is an error, not a silent 0.
TEST(InstanceHandOver, SecondStartOfTheExecutableHandsItsURLOver) {
    testing::TempFolder root;
    const std::string env = "VESPERON_SANDBOX=" + root.path();
    InstanceClaim running = claimed(root / ("vesperon-" + std::to_string(::geteuid())));

    auto served = serveOnce(running.listener.get());
    ProcessOutcome second = runProcess({VESPERON_EXECUTABLE, "vesperon://start?minutes=2"}, {env});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(served.get(), encodeHandOver({"vesperon://start?minutes=2"}));

    auto refused = serveOnce(running.listener.get(), "NO\n");
    ProcessOutcome third = runProcess({VESPERON_EXECUTABLE, "vesperon://stop"}, {env});
    (void)refused.get();
    EXPECT_EQ(third.status, 1);
    EXPECT_NE(third.err.find("refused"), std::string::npos) << third.err;
}

} // namespace
} // namespace vesperon::e2e
