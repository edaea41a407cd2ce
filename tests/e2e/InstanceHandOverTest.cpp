// One application per user: the instance lock, the stale-socket take-over and the URL
// hand-over from a second start of the real executable.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "SandboxedMachine.hpp"
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

// A connection to the socket at `path` that may stay queued.
OwnedFd connectTo(const std::string& path) {
    OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    (void)::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

InstanceClaim claimed(const std::string& folder) {
    auto outcome = claimInstance(folder);
    EXPECT_TRUE(outcome && std::holds_alternative<InstanceClaim>(*outcome))
        << (outcome ? "running" : outcome.error().message);
    return std::move(std::get<InstanceClaim>(*outcome));
}

TEST(InstanceClaim, FolderMustBePrivateAndOurs) {
    TempFolder base;
    const auto folder = [&](const char* name, mode_t mode) {
        const std::string path = base / name;
        EXPECT_EQ(::mkdir(path.c_str(), mode), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    };
    const std::string open = folder("open", 0777), foreign = folder("foreign", 0700);
    (void)claimed(open);
    EXPECT_EQ(permissions(open), 0700u);
    const std::string link = base / "link";
    ASSERT_EQ(::symlink(open.c_str(), link.c_str()), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(claimInstance(link).has_value());
    EXPECT_FALSE(claimInstance(foreign).has_value());

    // The instance lives in the first runtime folder that is private and ours, else in a
    // private folder in the home.
    const std::string shared = folder("shared", 0755), ours = folder("ours", 0700);
    const std::string home = folder("home", 0755);
    EXPECT_EQ(instanceFolderIn({foreign, link, shared, "", "relative", ours}, home),
              ours + "/vesperon");
    const std::string fallback = instanceFolderIn({foreign, link}, home);
    EXPECT_EQ(fallback, home + "/.cache/vesperon");
    (void)claimed(fallback);
    EXPECT_EQ(permissions(home + "/.cache"), 0700u);
}

// A peer that drops the connection unanswered is dying: once its lock is free the caller
// takes over its socket file. A peer that accepts nothing is reported at the deadline.
TEST(InstanceClaim, AVanishingPeerIsTakenOverAndAStoppedOneIsReportedInTime) {
    TempFolder base;
    const std::string folder = base / "instance";
    auto dying = std::make_unique<InstanceClaim>(claimed(folder));
    auto ending = std::async(std::launch::async, [&dying] {
        OwnedFd connection(::accept(dying->listener.get(), nullptr, nullptr));
        connection = OwnedFd();
        dying.reset();
    });
    auto next = claimOrHandOver(folder, {}, 30);
    ending.get();
    ASSERT_TRUE(next) << next.error().message;
    ASSERT_TRUE(next->has_value());

    // The new instance never accepts: its queue of connections fills up.
    std::vector<OwnedFd> queued;
    for (int i = 0; i < 40; ++i) {
        queued.push_back(connectTo((**next).socketPath));
    }
    auto stalled = std::async(std::launch::async, [&] { return claimOrHandOver(folder, {}, 2); });
    ASSERT_EQ(stalled.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    auto answer = stalled.get();
    ASSERT_FALSE(answer);
    EXPECT_NE(answer.error().message.find("did not answer within 2 seconds"), std::string::npos)
        << answer.error().message;
}

// A longer payload than the limit is refused by both sides, by the running instance as
// soon as the length line says so.
TEST(InstanceHandOver, MessagesOverTheLimitOrMalformedAreRefused) {
    const std::string longest(handOverLimit - 1, 'u'); // with its NUL byte: the limit
    const std::vector<std::pair<std::string, const char*>> malformed = {
        {std::to_string(handOverLimit + 1) + "\n", "a length over the limit"},
        {encodeHandOver({longest, ""}), "one byte over the limit"},
        {std::string("2\nu\0v\0", 6), "more than its length"},
        {std::string("2\nab"), "no NUL after the last URL"},
        {"\nx", "no length"},
        {std::string("+2\nu\0", 5), "no decimal length"},
        {"1234567\n", "a length of seven digits"},
    };
    for (const auto& [message, name] : malformed) {
        EXPECT_FALSE(decodeHandOver(message).has_value()) << name;
    }

    TempFolder base;
    const std::string folder = base / "instance";
    InstanceClaim running = claimed(folder);
    auto tooLong = claimOrHandOver(folder, {longest + "u"}, 5);
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().message, "The URLs are too long to hand over.");
    auto served = serveOnce(running.listener.get());
    auto handed = claimOrHandOver(folder, {longest}, 30); // reaches the running instance
    EXPECT_TRUE(handed && !handed->has_value());
    EXPECT_EQ(served.get(), encodeHandOver({longest}));
}

// A second start of the executable hands its URL over; a refused answer is an error.
TEST(InstanceHandOver, SecondStartOfTheExecutableHandsItsURLOver) {
    TempFolder root;
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
