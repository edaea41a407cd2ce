#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperon {

// A JSON value read from another program's file and kept so that writing it back
// loses nothing the program could see. Numbers keep the exact text they were
// written with: 123456789012345678901234567890 does not turn into a rounded
// double, 1.0 stays 1.0 and 1e300 stays 1e300. Strings are UTF-8 (escapes decoded),
// objects are sorted by key. Of duplicate keys the last one wins, as in the
// agents' own JavaScript readers.
struct ForeignJson {
    enum class Type { Null, Boolean, Number, String, Array, Object };
    using Array = std::vector<ForeignJson>;
    using Object = std::map<std::string, ForeignJson>;

    Type type = Type::Null;
    bool flag = false;  // a boolean's value
    std::string scalar; // a number's text as written (always valid JSON), or a string's UTF-8
    Array items;
    Object fields;

    ForeignJson() = default;
    explicit ForeignJson(Array values) : type(Type::Array), items(std::move(values)) {}
    explicit ForeignJson(Object members) : type(Type::Object), fields(std::move(members)) {}

    static ForeignJson boolean(bool value);
    static ForeignJson number(std::string text);
    static ForeignJson integer(long long value) { return number(std::to_string(value)); }
    static ForeignJson string(std::string text);

    Object* object() { return type == Type::Object ? &fields : nullptr; }
    const Object* object() const { return type == Type::Object ? &fields : nullptr; }
    Array* array() { return type == Type::Array ? &items : nullptr; }
    const Array* array() const { return type == Type::Array ? &items : nullptr; }
    const std::string* text() const { return type == Type::String ? &scalar : nullptr; }
    bool isTrue() const { return type == Type::Boolean && flag; }

    // The member `key` of an object; nothing for other values or a missing key.
    const ForeignJson* member(const std::string& key) const;

    friend bool operator==(const ForeignJson&, const ForeignJson&) = default;
};

// Parses one JSON document. Nesting deeper than `maxDepth`, syntax errors, invalid
// UTF-8, lone surrogate escapes and numbers beyond the range of a double give
// nothing. Never throws.
std::optional<ForeignJson> parseForeignJson(std::string_view text, std::size_t maxDepth = 128);

// Pretty text: two-space indent, keys sorted by their UTF-8 bytes, "/" and non-ASCII
// characters written as they are, no final line feed.
std::string printForeignJson(const ForeignJson& value);

// `text` (UTF-8) as a JSON string literal, with the escapes the printer uses.
std::string jsonStringLiteral(std::string_view text);

} // namespace vesperon
