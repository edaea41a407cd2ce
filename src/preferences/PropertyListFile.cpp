#include "preferences/PropertyListFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <plist/plist.h>

#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "common/PlistXml.hpp"
#include "preferences/UnicodeText.hpp"

namespace vesperon {

namespace {

// A dictionary of scalars needs a handful of elements per key; the parser recurses
// per nesting level, so a file with very many elements is refused before parsing.
constexpr std::size_t maxElements = 1024;

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::string errnoText(int code) {
    return std::strerror(code);
}

Error unreadable(const std::string& path, const std::string& reason) {
    return Error::make(PropertyListFile::errorDomain, "The preferences file " + path +
                                                          " could not be read (" + reason +
                                                          "); it has been left as it is.");
}

Error unwritable(const std::string& path, const std::string& reason) {
    return Error::make(PropertyListFile::errorDomain,
                       "The preferences file " + path + " could not be written (" + reason + ").");
}

// Opening tags (not closing tags, comments, declarations or processing instructions).
std::size_t countElements(std::string_view xml) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < xml.size(); ++i) {
        if (xml[i] == '<' && xml[i + 1] != '/' && xml[i + 1] != '!' && xml[i + 1] != '?') {
            ++count;
        }
    }
    return count;
}

// Parses the bytes of a preferences file; the error is the reason shown to the user.
Result<PlistPtr> parseDictionary(std::string_view bytes, const std::string& path) {
    if (bytes.starts_with("bplist")) {
        return std::unexpected(unreadable(path, "binary property lists are not read"));
    }
    if (countElements(bytes) > maxElements) {
        return std::unexpected(unreadable(path, "too many elements"));
    }
    plist_t root = nullptr;
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr owned(root);
    if (!owned) {
        return std::unexpected(unreadable(path, "not a property list, or truncated"));
    }
    if (plist_get_node_type(root) != PLIST_DICT) {
        return std::unexpected(unreadable(path, "not a dictionary"));
    }
    return owned;
}

// The file's dictionary, or a null pointer when there is no file.
Result<PlistPtr> loadDictionary(const std::string& path) {
    // O_NONBLOCK: a FIFO in the file's place must not hang the application.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int code = errno;
        if (code == ENOENT) {
            return PlistPtr();
        }
        if (code == ELOOP) {
            return std::unexpected(unreadable(path, "it is a symbolic link"));
        }
        return std::unexpected(unreadable(path, errnoText(code)));
    }
    std::string bytes;
    struct stat info {};
    std::string failure;
    if (::fstat(fd, &info) != 0) {
        failure = errnoText(errno);
    } else if (!S_ISREG(info.st_mode)) {
        failure = "not a regular file";
    } else if (static_cast<std::size_t>(info.st_size) > PropertyListFile::maxFileBytes) {
        failure = "larger than 1 MB";
    } else if (auto contents = readToEnd(fd, PropertyListFile::maxFileBytes)) {
        bytes = std::move(*contents);
    } else {
        // The limit also holds for a file that grew since fstat.
        failure = errno == EFBIG ? "larger than 1 MB" : errnoText(errno);
    }
    ::close(fd);
    if (!failure.empty()) {
        return std::unexpected(unreadable(path, failure));
    }
    return parseDictionary(bytes, path);
}

PreferenceValue toValue(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
        return plist_bool_val_is_true(node) != 0;
    case PLIST_UINT: {
        // Negative integers come back in two's complement, which is what the cast restores.
        uint64_t raw = 0;
        plist_get_uint_val(node, &raw);
        return static_cast<std::int64_t>(raw);
    }
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        return real;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return std::string(text != nullptr ? text : "", static_cast<std::size_t>(length));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* data = plist_get_data_ptr(node, &length);
        return PreferenceData{std::string(data != nullptr ? data : "",
                                          data != nullptr ? static_cast<std::size_t>(length) : 0)};
    }
    case PLIST_DATE:
        return UnusablePreference{"date"};
    case PLIST_ARRAY:
        return UnusablePreference{"array"};
    case PLIST_DICT:
        return UnusablePreference{"dictionary"};
    default:
        return UnusablePreference{"other"};
    }
}

// A new node for `value`, or the reason it cannot be stored faithfully.
Result<PlistPtr> toNode(const PreferenceValue& value, const std::string& path) {
    if (const auto* data = std::get_if<PreferenceData>(&value)) {
        return PlistPtr(plist_new_data(data->bytes.data(), data->bytes.size()));
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        if (*integer < 0) {
            return std::unexpected(unwritable(path, "negative integers are not stored"));
        }
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(*integer)));
    }
    if (const auto* real = std::get_if<double>(&value)) {
        if (!std::isfinite(*real)) {
            return std::unexpected(unwritable(path, "the number is not finite"));
        }
        return PlistPtr(plist_new_real(*real));
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return PlistPtr(plist_new_bool(*flag ? 1 : 0));
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (text->find('\0') != std::string::npos || !isValidUtf8(*text)) {
            return std::unexpected(unwritable(path, "the text is not valid UTF-8"));
        }
        return PlistPtr(plist_new_string(text->c_str()));
    }
    return std::unexpected(unwritable(path, "values of this type are not stored"));
}

bool validKey(std::string_view key) {
    return !key.empty() && key.find('\0') == std::string_view::npos && isValidUtf8(key);
}

// Creates the missing folders above `path`, each with mode 0700.
Result<void> createParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        struct stat info {};
        if (::stat(folder.c_str(), &info) == 0) {
            continue;
        }
        if (errno != ENOENT || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)) {
            return std::unexpected(unwritable(path, folder + ": " + errnoText(errno)));
        }
    }
    return {};
}

// Replaces `path` with `bytes`, creating its folders.
Result<void> replaceAtomically(const std::string& path, std::string_view bytes) {
    if (auto made = createParents(path); !made) {
        return made;
    }
    if (auto written = writeFileAtomically(path, bytes); !written) {
        return std::unexpected(unwritable(path, errnoText(written.error().code)));
    }
    return {};
}

} // namespace

PropertyListFile::PropertyListFile(std::string path) : path_(std::move(path)) {}

Result<std::optional<PreferenceValue>> PropertyListFile::value(std::string_view key) const {
    auto dictionary = loadDictionary(path_);
    if (!dictionary) {
        return std::unexpected(dictionary.error());
    }
    if (!*dictionary || !validKey(key)) {
        return std::optional<PreferenceValue>();
    }
    const plist_t node = plist_dict_get_item(dictionary->get(), std::string(key).c_str());
    if (node == nullptr) {
        return std::optional<PreferenceValue>();
    }
    return std::optional<PreferenceValue>(toValue(node));
}

Result<void> PropertyListFile::setValue(std::string_view key, const PreferenceValue& value) {
    if (path_.empty() || path_.front() != '/' || path_.back() == '/') {
        return std::unexpected(unwritable(path_, "not an absolute file path"));
    }
    if (!validKey(key)) {
        return std::unexpected(unwritable(path_, "the key is not valid UTF-8 text"));
    }
    auto dictionary = loadDictionary(path_);
    if (!dictionary) {
        return std::unexpected(dictionary.error());
    }
    auto node = toNode(value, path_);
    if (!node) {
        return std::unexpected(node.error());
    }
    PlistPtr root = *dictionary ? std::move(*dictionary) : PlistPtr(plist_new_dict());
    const std::string keyText(key);
    plist_dict_set_item(root.get(), keyText.c_str(), node->release());

    const std::optional<std::string> text = plistXml(root.get());
    if (!text) {
        return std::unexpected(unwritable(path_, "the property list could not be encoded"));
    }
    const std::string_view bytes(*text);
    if (bytes.size() > maxFileBytes) {
        return std::unexpected(unwritable(path_, "it would be larger than 1 MB"));
    }
    // Never write what could not be read back: parse the new text and compare the value.
    auto reread = parseDictionary(bytes, path_);
    if (!reread) {
        return std::unexpected(unwritable(path_, "the encoded file would not read back"));
    }
    const plist_t check = plist_dict_get_item(reread->get(), keyText.c_str());
    if (check == nullptr || !(toValue(check) == value)) {
        return std::unexpected(unwritable(path_, "the value would not read back unchanged"));
    }
    return replaceAtomically(path_, bytes);
}

} // namespace vesperon
