#include "agents/ForeignJson.hpp"

#include <cstdint>
#include <exception>

#include <nlohmann/json.hpp>

#include "common/UntrustedJson.hpp"

namespace vesperon {

ForeignJson ForeignJson::boolean(bool value) {
    ForeignJson json;
    json.type = Type::Boolean;
    json.flag = value;
    return json;
}

ForeignJson ForeignJson::number(std::string text) {
    ForeignJson json;
    json.type = Type::Number;
    json.scalar = std::move(text);
    return json;
}

ForeignJson ForeignJson::string(std::string text) {
    ForeignJson json;
    json.type = Type::String;
    json.scalar = std::move(text);
    return json;
}

const ForeignJson* ForeignJson::member(const std::string& key) const {
    if (type != Type::Object) {
        return nullptr;
    }
    const auto found = fields.find(key);
    return found == fields.end() ? nullptr : &found->second;
}

namespace {

// Builds a ForeignJson from nlohmann's lexer. Floating-point numbers (and integers
// too large for 64 bits, which the lexer reports as floating point) arrive with
// their raw text, which is what is kept; 64-bit integers are exact either way.
class Builder {
  public:
    using Json = nlohmann::json;

    bool null() { return add(ForeignJson()); }
    bool boolean(bool val) { return add(ForeignJson::boolean(val)); }
    bool number_integer(Json::number_integer_t val) {
        return add(ForeignJson::number(std::to_string(val)));
    }
    bool number_unsigned(Json::number_unsigned_t val) {
        return add(ForeignJson::number(std::to_string(val)));
    }
    bool number_float(Json::number_float_t, const std::string& raw) {
        return add(ForeignJson::number(raw));
    }
    bool string(std::string& val) { return add(ForeignJson::string(std::move(val))); }
    bool binary(Json::binary_t&) { return false; }
    bool start_object(std::size_t) {
        open_.emplace_back(ForeignJson::Object{});
        return true;
    }
    bool key(std::string& val) {
        keys_.push_back(std::move(val));
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) {
        open_.emplace_back(ForeignJson::Array{});
        return true;
    }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    std::optional<ForeignJson> take() {
        if (!done_ || !open_.empty()) {
            return std::nullopt;
        }
        return std::move(root_);
    }

  private:
    bool close() {
        if (open_.empty()) {
            return false;
        }
        ForeignJson finished = std::move(open_.back());
        open_.pop_back();
        return add(std::move(finished));
    }

    bool add(ForeignJson value) {
        if (open_.empty()) {
            root_ = std::move(value);
            done_ = true;
            return true;
        }
        ForeignJson& parent = open_.back();
        if (auto* items = parent.array()) {
            items->push_back(std::move(value));
            return true;
        }
        if (auto* fields = parent.object(); fields != nullptr && !keys_.empty()) {
            fields->insert_or_assign(std::move(keys_.back()), std::move(value));
            keys_.pop_back();
            return true;
        }
        return false;
    }

    std::vector<ForeignJson> open_;
    std::vector<std::string> keys_;
    ForeignJson root_;
    bool done_ = false;
};

void appendHex4(std::string& out, unsigned value) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\u00";
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

void appendLiteral(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                appendHex4(out, static_cast<unsigned char>(c));
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendPretty(std::string& out, const ForeignJson& value, std::size_t indent) {
    const auto newline = [&out](std::size_t spaces) {
        out += '\n';
        out.append(spaces, ' ');
    };
    switch (value.type) {
    case ForeignJson::Type::Null:
        out += "null";
        return;
    case ForeignJson::Type::Boolean:
        out += value.flag ? "true" : "false";
        return;
    case ForeignJson::Type::Number:
        out += value.scalar;
        return;
    case ForeignJson::Type::String:
        appendLiteral(out, value.scalar);
        return;
    case ForeignJson::Type::Array:
    case ForeignJson::Type::Object:
        break;
    }
    if (const auto* items = value.array()) {
        if (items->empty()) {
            out += "[]";
            return;
        }
        out += '[';
        bool first = true;
        for (const ForeignJson& item : *items) {
            if (!first) {
                out += ',';
            }
            first = false;
            newline(indent + 2);
            appendPretty(out, item, indent + 2);
        }
        newline(indent);
        out += ']';
    } else if (const auto* fields = value.object()) {
        if (fields->empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        for (const auto& [key, member] : *fields) {
            if (!first) {
                out += ',';
            }
            first = false;
            newline(indent + 2);
            appendLiteral(out, key);
            out += ": ";
            appendPretty(out, member, indent + 2);
        }
        newline(indent);
        out += '}';
    }
}

} // namespace

std::optional<ForeignJson> parseForeignJson(std::string_view text, std::size_t maxDepth) {
    // Depth first, so that no deep structure is built (and the printer, which
    // recurses, only ever sees bounded nesting).
    if (jsonNestingDepth(text) > maxDepth) {
        return std::nullopt;
    }
    try {
        Builder builder;
        if (!nlohmann::json::sax_parse(text, &builder)) {
            return std::nullopt;
        }
        return builder.take();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string printForeignJson(const ForeignJson& value) {
    std::string out;
    appendPretty(out, value, 0);
    return out;
}

std::string jsonStringLiteral(std::string_view text) {
    std::string out;
    appendLiteral(out, text);
    return out;
}

} // namespace vesperon
