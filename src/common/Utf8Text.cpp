#include "common/Utf8Text.hpp"

#include <algorithm>

namespace vesperon {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed sequence at `index`, or 0 when there is none.
std::size_t sequenceLength(std::string_view bytes, std::size_t index, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(bytes[index]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - index < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[index + i]);
        if (!isContinuation(byte)) {
            return 0;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    codePoint = value;
    return length;
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    std::size_t index = 0;
    while (index < bytes.size()) {
        char32_t codePoint = 0;
        const std::size_t length = sequenceLength(bytes, index, codePoint);
        if (length == 0) {
            return false;
        }
        index += length;
    }
    return true;
}

char32_t nextCodePoint(std::string_view bytes, std::size_t& index) {
    char32_t codePoint = 0;
    const std::size_t length = sequenceLength(bytes, index, codePoint);
    if (length == 0) {
        ++index;
        return replacementCharacter;
    }
    index += length;
    return codePoint;
}

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::optional<std::string> trimWhiteSpace(std::string_view text) {
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    std::size_t begin = text.size();
    std::size_t end = 0;
    std::size_t index = 0;
    while (index < text.size()) {
        const std::size_t here = index;
        if (!isWhiteSpace(nextCodePoint(text, index))) {
            begin = std::min(begin, here);
            end = index;
        }
    }
    if (begin >= end) {
        return std::string();
    }
    return std::string(text.substr(begin, end - begin));
}

} // namespace vesperon
