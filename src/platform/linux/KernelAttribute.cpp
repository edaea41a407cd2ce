#include "platform/linux/KernelAttribute.hpp"

#include <charconv>
#include <fcntl.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"

namespace vesperon::platform {
namespace {

constexpr std::size_t maxAttributeBytes = 4096;

} // namespace

std::optional<std::string> readKernelAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    auto text = readToEnd(fd, maxAttributeBytes);
    ::close(fd);
    if (!text) {
        return std::nullopt;
    }
    while (!text->empty() && (text->back() == '\n' || text->back() == ' ' || text->back() == '\t' ||
                              text->back() == '\r')) {
        text->pop_back();
    }
    return text;
}

std::optional<std::int64_t> readKernelInteger(const std::string& path) {
    const auto text = readKernelAttribute(path);
    if (!text || text->empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace vesperon::platform
