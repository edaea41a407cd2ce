#include "preferences/UnicodeText.hpp"

#include "common/Utf8Text.hpp"

#include <climits>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace vesperon {

namespace {

// ICU indexes with 32-bit integers; longer text is refused as a whole.
bool fitsIcu(std::string_view text) {
    return text.size() < static_cast<std::size_t>(INT32_MAX);
}

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

} // namespace

std::optional<std::size_t> graphemeCount(std::string_view text) {
    if (!fitsIcu(text) || !isValidUtf8(text)) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !clusters) {
        return std::nullopt;
    }
    const icu::UnicodeString unicode = toUnicode(text);
    clusters->setText(unicode);
    std::size_t count = 0;
    for (int32_t at = clusters->next(); at != icu::BreakIterator::DONE; at = clusters->next()) {
        ++count;
    }
    return count;
}

std::optional<std::string> caseFoldedKey(std::string_view text) {
    if (!fitsIcu(text) || !isValidUtf8(text)) {
        return std::nullopt;
    }
    // Canonical caseless matching: decompose, fold, compose. The default folding is
    // the locale-independent one, which is what the fixed POSIX locale gives; the
    // Turkic dotless-i rules are deliberately not used.
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || nfd == nullptr || nfc == nullptr) {
        return std::nullopt;
    }
    icu::UnicodeString folded = nfd->normalize(toUnicode(text), status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    folded.foldCase(U_FOLD_CASE_DEFAULT);
    const icu::UnicodeString composed = nfc->normalize(folded, status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    std::string key;
    composed.toUTF8String(key);
    return key;
}

} // namespace vesperon
