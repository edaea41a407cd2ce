// The sandboxed machine's parsers of outside input: the administrator prompt's
// AppleScript statement and the service manager's job files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "AdminShellScript.hpp"
#include "JobDefinition.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto command = vesperon::tools::parseAdminShellScript(input);
    if (command && command->size() > input.size()) {
        __builtin_trap(); // unescaping never lengthens the text
    }
    const auto job = vesperon::tools::parseJobDefinition(input);
    if (job && (job->label.empty() || job->programArguments.empty())) {
        __builtin_trap();
    }
    return 0;
}
