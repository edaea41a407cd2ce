#include "AdminShellScript.hpp"

namespace vesperon::tools {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void skipBlanks(std::string_view& text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
}

// Consumes the words of `phrase` (single spaces in it stand for runs of blanks).
bool consumePhrase(std::string_view& text, std::string_view phrase) {
    while (!phrase.empty()) {
        const std::size_t space = phrase.find(' ');
        const std::string_view word = phrase.substr(0, space);
        if (!text.starts_with(word)) {
            return false;
        }
        text.remove_prefix(word.size());
        if (space == std::string_view::npos) {
            break;
        }
        phrase.remove_prefix(space + 1);
        if (text.empty() || !isBlank(text.front())) {
            return false;
        }
        skipBlanks(text);
    }
    return true;
}

} // namespace

std::expected<std::string, std::string> parseAdminShellScript(std::string_view source) {
    std::string_view text = source;
    skipBlanks(text);
    if (!consumePhrase(text, "do shell script")) {
        return std::unexpected("expected \"do shell script\"");
    }
    skipBlanks(text);
    if (text.empty() || text.front() != '"') {
        return std::unexpected("expected a string literal after \"do shell script\"");
    }
    text.remove_prefix(1);

    std::string command;
    bool closed = false;
    while (!text.empty()) {
        const char c = text.front();
        text.remove_prefix(1);
        if (c == '"') {
            closed = true;
            break;
        }
        if (c != '\\') {
            command += c;
            continue;
        }
        if (text.empty()) {
            break;
        }
        const char escaped = text.front();
        text.remove_prefix(1);
        switch (escaped) {
        case '\\':
            command += '\\';
            break;
        case '"':
            command += '"';
            break;
        case 'n':
            command += '\n';
            break;
        case 'r':
            command += '\r';
            break;
        case 't':
            command += '\t';
            break;
        default:
            return std::unexpected(std::string("unknown escape \\") + escaped +
                                   " in the string literal");
        }
    }
    if (!closed) {
        return std::unexpected("unterminated string literal");
    }
    skipBlanks(text);
    if (!consumePhrase(text, "with administrator privileges")) {
        return std::unexpected("expected \"with administrator privileges\" after the command");
    }
    skipBlanks(text);
    if (!text.empty()) {
        return std::unexpected("unexpected text after \"with administrator privileges\"");
    }
    return command;
}

} // namespace vesperon::tools
