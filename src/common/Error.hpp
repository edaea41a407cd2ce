#pragma once

#include <expected>
#include <string>
#include <utility>

namespace vesperon {

// A failure as a value: `message` is the sentence the user sees.
struct Error {
    std::string domain;
    int code = 1;
    std::string message;

    static Error make(std::string domain, std::string message, int code = 1) {
        return Error{std::move(domain), code, std::move(message)};
    }
};

template <class T> using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(std::string domain, std::string message, int code = 1) {
    return std::unexpected(Error::make(std::move(domain), std::move(message), code));
}

} // namespace vesperon
