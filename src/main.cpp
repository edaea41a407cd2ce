// Role dispatch: the command line is looked at once, in a fixed order of tests,
// and exactly one role runs.
#include <string>
#include <vector>

#include "agents/HookEndpoint.hpp"
#include "gui/GuiEntry.hpp"
#include "instance/ApplicationRole.hpp"
#include "platform/GuiModule.hpp"
#include "privileged/Diagnose.hpp"
#include "privileged/RootMode.hpp"

namespace {

bool startsWithDashes(const std::string& text) {
    return text.starts_with("--");
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const std::string first = args.size() > 1 ? args[1] : std::string();
    const bool hasFirst = args.size() > 1;

    if (args.size() == 3 && first == "--agent-event") {
        return vesperon::hookEndpoint(args[2]);
    }
    if (hasFirst && first == "--diagnose") {
        return vesperon::diagnose();
    }
    if (hasFirst && first == "--render-panel" && args.size() >= 3) {
        return vesperon::runGuiModule(VESPERON_GUI_RENDER_PANEL, argc, argv);
    }
    if (hasFirst && first == "--render-about") {
        return vesperon::runGuiModule(VESPERON_GUI_RENDER_ABOUT, argc, argv);
    }
    if (hasFirst && startsWithDashes(first)) {
        return vesperon::rootMode(args);
    }
    return vesperon::applicationRole(argc, argv);
}
