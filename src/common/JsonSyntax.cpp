#include "common/JsonSyntax.hpp"

#include <string>

#include <nlohmann/json.hpp>

#include "common/HexDigit.hpp"
#include "common/Utf8Text.hpp"

namespace vesperon {

namespace {

// One pass over the text; each step either advances past what it checked or fails.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    std::size_t position() const { return pos_; }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    void advance() { ++pos_; }

    void skipByteOrderMark() {
        if (text_.starts_with("\xEF\xBB\xBF")) {
            pos_ = 3;
        }
    }

    void skipWhiteSpace() {
        while (!atEnd()) {
            const char c = text_[pos_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                return;
            }
            ++pos_;
        }
    }

    bool consume(char expected) {
        if (peek() != expected || atEnd()) {
            return false;
        }
        ++pos_;
        return true;
    }

    // A string, the opening quote at the current position; `content` is set to the
    // text between the quotes.
    bool string(std::string_view& content) {
        if (!consume('"')) {
            return false;
        }
        const std::size_t start = pos_;
        unsigned char seen = 0; // the bits of every plain byte
        while (true) {
            std::size_t at = pos_;
            while (at < text_.size()) {
                const auto c = static_cast<unsigned char>(text_[at]);
                if (c == '"' || c == '\\' || c < 0x20) {
                    break;
                }
                seen |= c;
                ++at;
            }
            pos_ = at;
            if (atEnd()) {
                return false;
            }
            if (text_[pos_] == '"') {
                break;
            }
            if (text_[pos_] != '\\' || !escape()) {
                return false; // control characters must be escaped
            }
        }
        const bool nonAscii = (seen & 0x80) != 0;
        content = text_.substr(start, pos_ - start);
        ++pos_;
        // Escapes are plain ASCII, so the raw text is well-formed exactly when every
        // unescaped part is.
        return !nonAscii || isValidUtf8(content);
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            return false;
        }
        pos_ += word.size();
        return true;
    }

    bool number() {
        const std::size_t start = pos_;
        (void)consume('-');
        if (!consume('0') && digits() == 0) {
            return false;
        }
        if (consume('.') && digits() == 0) {
            return false;
        }
        bool exponent = false;
        if (peek() == 'e' || peek() == 'E') {
            advance();
            exponent = true;
            if (!consume('+')) {
                (void)consume('-');
            }
            if (digits() == 0) {
                return false;
            }
        }
        // Only a number with an exponent or more than 300 digits can lie beyond a
        // double's range; the full parser refuses those, so it decides.
        const std::string_view token = text_.substr(start, pos_ - start);
        return (!exponent && token.size() <= 300) ||
               !nlohmann::json::parse(token, nullptr, /*allow_exceptions=*/false).is_discarded();
    }

  private:
    std::size_t digits() {
        const std::size_t start = pos_;
        while (!atEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ - start;
    }

    // "\uXXXX" at the current position: its value, or -1.
    long unicodeEscape() {
        if (text_.substr(pos_, 2) != "\\u" || text_.size() - pos_ < 6) {
            return -1;
        }
        long value = 0;
        for (std::size_t i = 2; i < 6; ++i) {
            const int digit = hexDigitValue(text_[pos_ + i]);
            if (digit < 0) {
                return -1;
            }
            value = value * 16 + digit;
        }
        pos_ += 6;
        return value;
    }

    bool escape() {
        if (text_.size() - pos_ < 2) {
            return false;
        }
        switch (text_[pos_ + 1]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't':
            pos_ += 2;
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        const long unit = unicodeEscape();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const long low = unicodeEscape(); // a high surrogate needs its low half
            return low >= 0xDC00 && low <= 0xDFFF;
        }
        return unit >= 0 && !(unit >= 0xDC00 && unit <= 0xDFFF);
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

JsonShape
checkJsonSyntax(std::string_view text, std::size_t maxDepth,
                const std::function<void(std::string_view key, std::string_view value)>& member) {
    Scanner scan(text);
    scan.skipByteOrderMark();
    scan.skipWhiteSpace();
    const bool topObject = scan.peek() == '{';
    // The open arrays and objects, innermost last: '[' or '{'.
    std::string open;
    std::string_view key;
    std::size_t memberStart = 0;
    bool inMember = false; // a member value of the top-level object is being read

    // Reads a key and its colon; the value follows.
    const auto memberKey = [&] {
        scan.skipWhiteSpace();
        std::string_view name;
        if (!scan.string(name)) {
            return false;
        }
        scan.skipWhiteSpace();
        if (!scan.consume(':')) {
            return false;
        }
        scan.skipWhiteSpace();
        if (open.size() == 1) {
            key = name;
            memberStart = scan.position();
            inMember = true;
        }
        return true;
    };

    while (true) {
        // A value starts here.
        scan.skipWhiteSpace();
        const char c = scan.atEnd() ? '\0' : scan.peek();
        bool valid = true;
        if (c == '{' || c == '[') {
            if (open.size() >= maxDepth) {
                return JsonShape::Invalid;
            }
            open.push_back(c);
            scan.advance();
            scan.skipWhiteSpace();
            if (!scan.consume(c == '{' ? '}' : ']')) {
                if (c == '{' && !memberKey()) {
                    return JsonShape::Invalid;
                }
                continue; // its first value
            }
            open.pop_back();
        } else if (c == '"') {
            std::string_view ignored;
            valid = scan.string(ignored);
        } else if (c == 't') {
            valid = scan.literal("true");
        } else if (c == 'f') {
            valid = scan.literal("false");
        } else if (c == 'n') {
            valid = scan.literal("null");
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            valid = scan.number();
        } else {
            valid = false;
        }
        if (!valid) {
            return JsonShape::Invalid;
        }
        // A value ended: close what it ends, then expect a separator or the end.
        while (true) {
            if (inMember && open.size() == 1) {
                inMember = false;
                if (member) {
                    member(key, text.substr(memberStart, scan.position() - memberStart));
                }
            }
            scan.skipWhiteSpace();
            if (open.empty()) {
                return scan.atEnd() ? (topObject ? JsonShape::Object : JsonShape::Other)
                                    : JsonShape::Invalid;
            }
            if (scan.consume(',')) {
                if (open.back() == '{' && !memberKey()) {
                    return JsonShape::Invalid;
                }
                break; // the next value
            }
            if (!scan.consume(open.back() == '{' ? '}' : ']')) {
                return JsonShape::Invalid;
            }
            open.pop_back();
        }
    }
}

} // namespace vesperon
