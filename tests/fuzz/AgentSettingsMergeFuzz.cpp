// Arbitrary bytes as an agent's settings file, through the hook merge. Whatever the
// input, a merge either fails cleanly or yields a file that keeps every value but our
// handlers, holds exactly one of our handlers per event (in the last group), is
// recognised as installed, and merges again to the very same text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

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
    const auto is = [&](const char* key, const std::string& text) {
        const ForeignJson* value = handler.member(key);
        return value != nullptr && value->text() != nullptr && *value->text() == text;
    };
    return is("type", "command") && is("command", command);
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
    require(installed.has_value() && merged->ends_with('\n')); // the input was valid JSON
    auto before = vesperon::parseForeignJson(text);
    auto after = vesperon::parseForeignJson(*merged);
    require(before && after && after->object() != nullptr);
    const ForeignJson hooksBefore =
        before->member("hooks") ? *before->member("hooks") : ForeignJson{};
    const ForeignJson* hooksAfter = after->member("hooks");
    require(hooksAfter != nullptr && hooksAfter->object() != nullptr);
    for (const auto& [name, groups] : hooksBefore.fields) { // events we do not hook are kept
        if (std::none_of(events.begin(), events.end(), [&](auto& e) { return e.name == name; })) {
            require(hooksAfter->member(name) != nullptr && *hooksAfter->member(name) == groups);
        }
    }
    for (const auto& event : events) {
        const ForeignJson* groups = hooksAfter->member(std::string(event.name));
        require(groups != nullptr && groups->array() != nullptr && !groups->items.empty());
        int ours = 0;
        for (const ForeignJson& group : groups->items) {
            const ForeignJson* handlers = group.member("hooks");
            require(handlers != nullptr && handlers->array() != nullptr);
            ours += static_cast<int>(std::count_if(handlers->items.begin(), handlers->items.end(),
                                                   [&](auto& h) { return isOurs(h, command); }));
        }
        require(ours == 1 && isOurs(groups->items.back().member("hooks")->items.front(), command));
    }
    // Everything outside "hooks" is unchanged.
    before->object()->erase("hooks");
    after->object()->erase("hooks");
    require(*before == *after);
    require(vesperon::agentHooksInstalled(*merged, command, "settings.json").value_or(false));
    const auto again = vesperon::mergeAgentHooks(*merged, events, command, "settings.json");
    require(again && *again == *merged);
    return 0;
}
