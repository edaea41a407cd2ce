#include "MachineFiles.hpp"
#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "platform/RunningImage.hpp"
#include "platform/SuspendCountingClock.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

namespace vesperon::tools {
namespace {

constexpr std::size_t maxStateFileBytes = std::size_t{64} * 1024;

} // namespace

MachineFiles::MachineFiles(std::string sandboxRoot) : root_(std::move(sandboxRoot)) {}

std::string MachineFiles::path(std::string_view name) const {
    return root_ + "/machine/" + std::string(name);
}

MachineFiles::Lock::Lock(const MachineFiles& files) {
    fd_ = ::open(files.path(".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                break;
            }
        }
    }
}

MachineFiles::Lock::~Lock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::string> MachineFiles::readText(std::string_view name) const {
    const int fd = ::open(path(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> read = readToEnd(fd, maxStateFileBytes);
    ::close(fd);
    if (!read) {
        return std::nullopt;
    }
    std::string text = std::move(*read);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

long long MachineFiles::readInteger(std::string_view name, long long fallback) const {
    const auto text = readText(name);
    if (!text) {
        return fallback;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) {
        return fallback;
    }
    return value;
}

bool MachineFiles::writeText(std::string_view name, std::string_view text) const {
    return writeFileAtomically(path(name), text, FileAttributes{0644, {}, {}}).has_value();
}

bool MachineFiles::writeInteger(std::string_view name, long long value) const {
    return writeText(name, std::to_string(value) + "\n");
}

std::optional<std::string> sandboxRootOfTool(std::string_view installedPath) {
    if (const std::string self = executablePath();
        self.size() > installedPath.size() && self.ends_with(installedPath)) {
        return self.substr(0, self.size() - installedPath.size());
    }
    if (const char* root = std::getenv("VESPERON_SANDBOX"); root != nullptr && root[0] == '/') {
        return std::string(root);
    }
    return std::nullopt;
}

std::string makeUuid() {
    std::array<unsigned char, 16> bytes{};
    // getentropy: Linux and macOS both have it, for up to 256 bytes at a time.
    if (::getentropy(bytes.data(), bytes.size()) != 0) {
        std::abort();
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

namespace {
double secondsOf(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
} // namespace

double bootClockSeconds() {
    return platform::suspendCountingSeconds();
}

double wallClockSeconds() {
    return secondsOf(CLOCK_REALTIME);
}

} // namespace vesperon::tools
