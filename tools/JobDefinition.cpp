#include "JobDefinition.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesperon::tools {
namespace {

constexpr std::size_t maxJobFileBytes = std::size_t{1024} * 1024;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::expected<std::string, std::string> stringValue(plist_t node, const char* key) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::unexpected(std::string(key) + " must be a string");
    }
    // Read through the length: a string holding a NUL byte is refused, not cut short
    // (the copying accessor asserts on it).
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (value == nullptr || std::strlen(value) != length) {
        return std::unexpected(std::string(key) + " must be a string without NUL bytes");
    }
    return std::string(value, static_cast<std::size_t>(length));
}

std::expected<bool, std::string> optionalBool(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr) {
        return false;
    }
    if (plist_get_node_type(node) != PLIST_BOOLEAN) {
        return std::unexpected(std::string(key) + " must be a boolean");
    }
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

} // namespace

std::expected<JobDefinition, std::string> parseJobDefinition(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > maxJobFileBytes) {
        return std::unexpected("the job file is empty or too large");
    }
    plist_t rawRoot = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &rawRoot);
    const PlistPtr root(rawRoot);
    if (rawRoot == nullptr) {
        return std::unexpected("the job file is not a property list");
    }
    if (plist_get_node_type(rawRoot) != PLIST_DICT) {
        return std::unexpected("the job file does not hold a dictionary");
    }
    JobDefinition job;
    auto label = stringValue(plist_dict_get_item(rawRoot, "Label"), "Label");
    if (!label || label->empty()) {
        return std::unexpected("the job file has no Label string");
    }
    job.label = *label;

    plist_t arguments = plist_dict_get_item(rawRoot, "ProgramArguments");
    if (arguments == nullptr || plist_get_node_type(arguments) != PLIST_ARRAY ||
        plist_array_get_size(arguments) == 0) {
        return std::unexpected("ProgramArguments must be a non-empty array of strings");
    }
    for (uint32_t i = 0; i < plist_array_get_size(arguments); ++i) {
        auto argument = stringValue(plist_array_get_item(arguments, i), "ProgramArguments");
        if (!argument) {
            return std::unexpected("ProgramArguments must be a non-empty array of strings");
        }
        job.programArguments.push_back(std::move(*argument));
    }
    if (job.programArguments.front().empty() || job.programArguments.front()[0] != '/') {
        return std::unexpected("the program must be an absolute path");
    }

    const auto runAtLoad = optionalBool(rawRoot, "RunAtLoad");
    if (!runAtLoad) {
        return std::unexpected(runAtLoad.error());
    }
    job.runAtLoad = *runAtLoad;
    const auto keepAlive = optionalBool(rawRoot, "KeepAlive");
    if (!keepAlive) {
        return std::unexpected(keepAlive.error());
    }
    job.keepAlive = *keepAlive;

    if (plist_t throttle = plist_dict_get_item(rawRoot, "ThrottleInterval"); throttle != nullptr) {
        if (plist_get_node_type(throttle) != PLIST_UINT) {
            return std::unexpected("ThrottleInterval must be an integer");
        }
        uint64_t seconds = 0;
        plist_get_uint_val(throttle, &seconds);
        if (seconds > 86400) {
            return std::unexpected("ThrottleInterval is out of range");
        }
        job.throttleInterval = static_cast<int>(seconds);
    }
    return job;
}

std::expected<JobDefinition, std::string> loadJobDefinition(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::unexpected(path + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::unexpected(path + ": not a regular file");
    }
    if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(fd);
        return std::unexpected("Path had bad ownership/permissions: " + path);
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > maxJobFileBytes) {
            ::close(fd);
            return std::unexpected(path + ": unreadable or too large");
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    auto job = parseJobDefinition(bytes);
    if (!job) {
        return std::unexpected(path + ": " + job.error());
    }
    job->path = path;
    return job;
}

} // namespace vesperon::tools
