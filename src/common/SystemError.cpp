#include "common/SystemError.hpp"

#include <cstring>

#include "common/ErrorDomains.hpp"

namespace vesperon {

std::unexpected<Error> systemError(std::string_view what, std::string_view path, int error) {
    std::string message(what);
    if (!path.empty()) {
        message += message.empty() ? "" : " ";
        message += path;
    }
    message += message.empty() ? "" : ": ";
    message += std::strerror(error);
    return fail(errorDomain::system, std::move(message), error);
}

} // namespace vesperon
