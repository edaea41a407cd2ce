#include "platform/UserHome.hpp"

#include <cerrno>
#include <cstddef>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "platform/SystemLayout.hpp"

namespace vesperon {

namespace {

// An account entry larger than this is not believed: the lookup gives up instead of
// growing its buffer without end.
constexpr std::size_t maxEntryBytes = 1 << 20;

} // namespace

std::string userHomeFolder() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return layout.sandboxRoot + "/home";
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < maxEntryBytes) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == EINTR) {
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) {
            return {};
        }
        return found->pw_dir;
    }
}

} // namespace vesperon
