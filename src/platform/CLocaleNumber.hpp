#pragma once

#include <locale.h>
#include <stdlib.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace vesperon::platform {

// strtod in the "C" locale, whatever locale the process runs in: Darwin declares the
// locale-taking form in <xlocale.h>, glibc in <stdlib.h>. False when the "C" locale
// cannot be had; `end` as strtod sets it.
inline bool readCNumber(const char* text, char** end, double* value) {
    static const locale_t plain = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    if (plain == locale_t{}) {
        return false;
    }
    *value = strtod_l(text, end, plain);
    return true;
}

} // namespace vesperon::platform
