#include "common/Uuid.hpp"

#include <cerrno>
#include <cstddef>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "common/HexDigit.hpp"

namespace vesperon {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// Fills `bytes` from the kernel's generator. getentropy (Linux and macOS alike, up to
// 256 bytes a call) fails only where the kernel lacks the call; /dev/urandom is the
// fallback there.
bool fillRandom(Uuid::Bytes& bytes) {
    static_assert(sizeof(Uuid::Bytes) <= 256);
    if (getentropy(bytes.data(), bytes.size()) == 0) {
        return true;
    }
    std::size_t filled = 0;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    while (filled < bytes.size()) {
        const ssize_t got = read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    return filled == bytes.size();
}

bool isDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

} // namespace

std::optional<Uuid> Uuid::random() {
    Bytes bytes{};
    if (!fillRandom(bytes)) {
        return std::nullopt;
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isDashPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int value = hexDigitValue(text[i]);
        if (value < 0) {
            return std::nullopt;
        }
        std::uint8_t& byte = bytes[nibble / 2];
        byte = static_cast<std::uint8_t>(nibble % 2 == 0 ? value << 4 : byte | value);
        ++nibble;
    }
    return Uuid(bytes);
}

std::string Uuid::text() const {
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out.push_back('-');
        }
        out.push_back(hexDigits[bytes_[i] >> 4]);
        out.push_back(hexDigits[bytes_[i] & 0x0F]);
    }
    return out;
}

std::string newUuidText() {
    const std::optional<Uuid> uuid = Uuid::random();
    return uuid ? uuid->text() : std::string();
}

} // namespace vesperon
