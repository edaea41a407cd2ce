// Arbitrary bytes as an agent's settings file, through the hook merge. Whatever the
// input, a merge either fails cleanly or yields a file that keeps every value but
// our handlers, holds exactly one of our handlers per event, is recognised as
// installed, and merges again to the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agents/AgentHookSettings.hpp"
#include "agents/ForeignJson.hpp"

namespace {

using vesperon::ForeignJson;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isOurs(const ForeignJson& handler, const std::string& command) {
    const ForeignJson* type = handler.member("type");
    const ForeignJson* text = handler.member("command");
    return type != nullptr && type->text() != nullptr && *type->text() == "command" &&
           text != nullptr && text->text() != nullptr && *text->text() == command;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view provider = size % 2 == 0 ? "claude" : "codex";
    const std::string command = vesperon::agentHookCommand("/Apps/It's/Vesperon", provider);
    const auto events = vesperon::agentHookEvents(provider);

    const auto installed = vesperon::agentHooksInstalled(text, command, "settings.json");
    const auto merged = vesperon::mergeAgentHooks(text, events, command, "settings.json");
    if (!merged) {
        return 0;
    }
    require(installed.has_value()); // the input was valid JSON
    require(!merged->empty() && merged->back() == '\n');

    const auto before = vesperon::parseForeignJson(text);
    const auto after = vesperon::parseForeignJson(*merged);
    require(before && after && after->object() != nullptr);

    // Everything outside "hooks" is unchanged, and so is every event we do not hook.
    ForeignJson outsideBefore = *before;
    ForeignJson outsideAfter = *after;
    outsideBefore.object()->erase("hooks");
    outsideAfter.object()->erase("hooks");
    require(outsideBefore == outsideAfter);
    const ForeignJson* hooksBefore = before->member("hooks");
    const ForeignJson* hooksAfter = after->member("hooks");
    require(hooksAfter != nullptr && hooksAfter->object() != nullptr);
    if (hooksBefore != nullptr) {
        for (const auto& [name, groups] : hooksBefore->fields) {
            bool hooked = false;
            for (const auto& event : events) {
                hooked = hooked || event.name == name;
            }
            if (!hooked) {
                require(hooksAfter->member(name) != nullptr && *hooksAfter->member(name) == groups);
            }
        }
    }

    // Exactly one handler of ours per event, in the group at the end.
    for (const auto& event : events) {
        const ForeignJson* groups = hooksAfter->member(std::string(event.name));
        require(groups != nullptr && groups->array() != nullptr && !groups->items.empty());
        int ours = 0;
        for (const ForeignJson& group : groups->items) {
            const ForeignJson* handlers = group.member("hooks");
            require(handlers != nullptr && handlers->array() != nullptr);
            for (const ForeignJson& handler : handlers->items) {
                ours += isOurs(handler, command) ? 1 : 0;
            }
        }
        require(ours == 1);
        require(isOurs(groups->items.back().member("hooks")->items.front(), command));
    }

    const auto installedAfter = vesperon::agentHooksInstalled(*merged, command, "settings.json");
    require(installedAfter && *installedAfter);
    const auto again = vesperon::mergeAgentHooks(*merged, events, command, "settings.json");
    require(again && *again == *merged);
    return 0;
}
