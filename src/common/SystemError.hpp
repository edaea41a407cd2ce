#pragma once

#include <string_view>

#include "common/Error.hpp"

namespace vesperon {

// A failed system call as a value: the system domain, `error` (an errno value) as the
// code, and the message "<what> <path>: <the system's description>", for example
// "Could not open /etc/x: No such file or directory". An empty `path` leaves out the
// path, an empty `what` leaves the description alone.
[[nodiscard]] std::unexpected<Error> systemError(std::string_view what, std::string_view path,
                                                 int error);

} // namespace vesperon
