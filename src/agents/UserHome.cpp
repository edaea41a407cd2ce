#include "agents/UserHome.hpp"

#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "platform/SystemLayout.hpp"

namespace vesperon {

std::string userHomeFolder() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return layout.sandboxRoot + "/home";
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return {};
    }
    return found->pw_dir;
}

} // namespace vesperon
