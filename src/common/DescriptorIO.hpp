#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vesperon {

// Writes all of `data` to `fd`, going on after interrupted or partial writes. False
// with errno set when a write fails (EIO when the descriptor takes nothing).
bool writeAll(int fd, std::string_view data);

// Reads `fd` to its end, going on after interrupted reads. Nothing when a read fails
// (errno as the read left it) or the contents would exceed `limit` bytes (errno EFBIG;
// no more than one buffer beyond the limit is read).
std::optional<std::string> readToEnd(int fd, std::size_t limit);

} // namespace vesperon
