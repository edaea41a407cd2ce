#include "platform/GuiModule.hpp"

#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#include "gui/GuiEntry.hpp"
#include "platform/RunningImage.hpp"
#include "platform/UserRoles.hpp"

namespace vesperon {
namespace {

#if defined(__APPLE__)
// In the application bundle the module sits in Contents/Frameworks, beside the
// Qt frameworks that macdeployqt puts there; the executable is in Contents/MacOS.
constexpr const char* moduleName = "libvesperon-gui.dylib";
constexpr const char* installedFolder = "/../Frameworks/";
#else
constexpr const char* moduleName = "libvesperon-gui.so";
constexpr const char* installedFolder = "/../lib/vesperon/";
#endif

// The folder of the running executable as the system has it (argv[0] may be relative
// or a link).
std::string executableFolder() {
    const std::string path = executablePath();
    return path.substr(0, path.rfind('/'));
}

// dlerror() can hold several lines; the caller prints one.
std::string oneLine(const char* text) {
    std::string line = text != nullptr ? text : "unknown error";
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

int unavailable(const std::string& reason) {
    std::fprintf(stderr, "vesperon: the display module could not be loaded: %s\n", reason.c_str());
    return 1;
}

} // namespace

int runGuiModule(int role, int argc, const char* const* argv, int instanceSocket) {
    if (refusedAsRoot(role == VESPERON_GUI_APPLICATION    ? "the application"
                      : role == VESPERON_GUI_RENDER_PANEL ? "the panel renderer"
                                                          : "the About renderer")) {
        return 1;
    }
    const std::string folder = executableFolder();
    if (folder.empty()) {
        return unavailable("the executable's own folder is unknown");
    }
    void* module = nullptr;
    std::string firstError;
    for (const std::string& candidate :
         {folder + "/" + moduleName, folder + installedFolder + moduleName}) {
        module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module != nullptr) {
            break;
        }
        const std::string error = oneLine(::dlerror());
        // A module that is there but broken says more than a later "not found".
        if (firstError.empty() || ::access(candidate.c_str(), F_OK) == 0) {
            firstError = error;
        }
    }
    if (module == nullptr) {
        return unavailable(firstError);
    }
    const auto entry = reinterpret_cast<VesperonGuiMain>(::dlsym(module, VESPERON_GUI_MAIN_SYMBOL));
    if (entry == nullptr) {
        return unavailable(oneLine(::dlerror()));
    }
    const VesperonGuiRequest request{VESPERON_GUI_ABI_VERSION, role, argc, argv, instanceSocket};
    // The module stays loaded until the process ends: Qt's exit handlers live in it.
    return entry(&request);
}

} // namespace vesperon
