#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vesperon {

// A 128-bit universally unique identifier. Fresh ones are version 4 (random, from
// the kernel's generator); text is the usual 8-4-4-4-12 hexadecimal form, written
// in upper case and read in either case.
class Uuid {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // A fresh random identifier; nothing only if the system has no randomness to give.
    static std::optional<Uuid> random();
    // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hex digits in any case); any
    // other text, including braces, spaces or a missing dash, gives nothing.
    static std::optional<Uuid> parse(std::string_view text);
    static bool isValidText(std::string_view text) { return parse(text).has_value(); }

    explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // Upper-case text form, 36 characters.
    std::string text() const;
    const Bytes& bytes() const { return bytes_; }
    int version() const { return bytes_[6] >> 4; }

    friend bool operator==(const Uuid&, const Uuid&) = default;

  private:
    Bytes bytes_;
};

// Upper-case text of a fresh random identifier; empty only if the system has no
// randomness to give.
std::string newUuidText();

} // namespace vesperon
